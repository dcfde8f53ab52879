#include "net/asyncsocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "library/eventloop.h"
#include "support/loopback.h"

namespace zorvex {
namespace {

class TRecorder : public TMessageTarget {
  public:
    void OnMessage(const TMessage& m) override { Codes.push_back(SocketNoticeOf(m)); }
    std::vector<TSocketNotice> Codes;
};

class AsyncSocketTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Listener.Ok);
        Host = Listener.HostString();
        Worker->SetNotify(&Loop, &Target, 1143);
    }
    void TearDown() override {
        Worker.reset();
        if (Peer >= 0) ::close(Peer);
    }
    bool WaitFor(size_t count, int ms = 3000) {
        return Loop.RunUntil([&] { return Target.Codes.size() >= count; },
                             std::chrono::milliseconds(ms));
    }
    // Connects and accepts; the owner marks the worker connected as the client does.
    void ConnectPeer() {
        Worker->RequestConnect(Host.c_str());
        ASSERT_TRUE(WaitFor(2));
        ASSERT_EQ(Target.Codes, (std::vector<TSocketNotice>{TSocketNotice::CONNECTED,
                                                            TSocketNotice::CONNECT_ENDED}));
        Worker->SetConnected(true);
        Peer = Listener.Accept();
        Target.Codes.clear();
    }
    // One take of everything waiting; the next receive may start right after.
    std::string TakeAll() {
        char buf[256];
        size_t n = 0;
        return Worker->ReadBytes(buf, sizeof buf, &n) == SOCKET_OK ? std::string(buf, n) : "";
    }
    // The close notice and the failing receive race; their order is not kept.
    static std::vector<TSocketNotice> Sorted(std::vector<TSocketNotice> v, size_t count) {
        std::sort(v.begin(), v.begin() + static_cast<long>(std::min(count, v.size())));
        return v;
    }

    TPlainEventLoop Loop;
    TRecorder Target;
    std::unique_ptr<TAsyncSocket> Worker = std::make_unique<TAsyncSocket>();
    test::TLoopbackListener Listener;
    int Peer = -1;
    std::string Host;
};

TEST_F(AsyncSocketTest, FailedLookupPostsCloseFirstErrorFailedEnded) {
    Worker->RequestConnect("no such host");
    ASSERT_TRUE(WaitFor(4));
    EXPECT_EQ(Target.Codes, (std::vector<TSocketNotice>{
                                TSocketNotice::CLOSED, TSocketNotice::FIRST_ERROR,
                                TSocketNotice::CONNECT_FAILED, TSocketNotice::CONNECT_ENDED}));
    EXPECT_EQ(Worker->ErrorCode(), SOCKET_FAIL_HOST_LOOKUP);
}

TEST_F(AsyncSocketTest, ReceivesOnlyAfterEveryByteWasTaken) {
    ConnectPeer();
    char buf[16];
    size_t n;
    EXPECT_EQ(Worker->ReadBytes(buf, sizeof buf, &n), SOCKET_RECV_BUFFER_EMPTY);
    ASSERT_EQ(::send(Peer, "first", 5, 0), 5);
    ASSERT_TRUE(WaitFor(1));
    ASSERT_EQ(::send(Peer, "second", 6, 0), 6);
    // Nothing more is announced until the first bytes are taken.
    Loop.RunUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(Target.Codes, std::vector<TSocketNotice>{TSocketNotice::RECEIVED});
    char one[2];
    size_t n1 = 0;
    ASSERT_EQ(Worker->ReadBytes(one, 2, &n1), SOCKET_OK);
    EXPECT_EQ(std::string(one, n1), "fi");
    EXPECT_EQ(TakeAll(), "rst");
    ASSERT_TRUE(WaitFor(2));
    EXPECT_EQ(TakeAll(), "second");
}

TEST_F(AsyncSocketTest, PeerCloseIsTheFirstErrorThenReadBytesReportsIt) {
    ConnectPeer();
    ::close(Peer);
    Peer = -1;
    ASSERT_TRUE(WaitFor(3));
    EXPECT_EQ(Target.Codes,
              (std::vector<TSocketNotice>{TSocketNotice::CLOSED, TSocketNotice::FIRST_ERROR,
                                          TSocketNotice::RECEIVED}));
    char buf[4];
    size_t n;
    EXPECT_EQ(Worker->ReadBytes(buf, sizeof buf, &n), SOCKET_RECV_CLOSED);
}

TEST_F(AsyncSocketTest, SilentServerTimesOut) {
    Worker->SetReceiveTimeoutMs(200);
    ConnectPeer();
    ASSERT_TRUE(WaitFor(3));
    EXPECT_EQ(Target.Codes,
              (std::vector<TSocketNotice>{TSocketNotice::CLOSED, TSocketNotice::FIRST_ERROR,
                                          TSocketNotice::RECEIVED}));
    EXPECT_EQ(Worker->ErrorCode(), SOCKET_HAD_TIMEOUT);
}

TEST_F(AsyncSocketTest, OwnersCloseIsNoError) {
    ConnectPeer();
    Worker->Close();
    ASSERT_TRUE(WaitFor(2));
    Loop.RunUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(Sorted(Target.Codes, 2),
              (std::vector<TSocketNotice>{TSocketNotice::RECEIVED, TSocketNotice::CLOSED}));
    EXPECT_EQ(Worker->ErrorCode(), 0);
}

TEST_F(AsyncSocketTest, NewRequestClosesTheOldConnectionFirst) {
    ConnectPeer();
    Worker->RequestConnect(Host.c_str());
    ASSERT_TRUE(Loop.RunUntil(
        [&] {
            return !Target.Codes.empty() && Target.Codes.back() == TSocketNotice::CONNECT_ENDED;
        },
        std::chrono::seconds(3)));
    // The old socket's close comes first; a receive still pending on it may
    // end (1) before or after that notice, or be dropped unstarted.
    std::vector<TSocketNotice> before(Target.Codes.begin(), Target.Codes.end() - 2);
    std::sort(before.begin(), before.end());
    EXPECT_TRUE(before == std::vector<TSocketNotice>{TSocketNotice::CLOSED} ||
                before ==
                    (std::vector<TSocketNotice>{TSocketNotice::RECEIVED, TSocketNotice::CLOSED}))
        << ::testing::PrintToString(Target.Codes);
    EXPECT_EQ(std::vector<TSocketNotice>(Target.Codes.end() - 2, Target.Codes.end()),
              (std::vector<TSocketNotice>{TSocketNotice::CONNECTED, TSocketNotice::CONNECT_ENDED}));
}

TEST_F(AsyncSocketTest, DestroyingAWorkerMidReceiveJoinsQuickly) {
    ConnectPeer();
    auto start = std::chrono::steady_clock::now();
    Worker.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace zorvex
