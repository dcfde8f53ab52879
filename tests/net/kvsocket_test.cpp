#include "net/kvsocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "library/eventloop.h"
#include "support/loopback.h"

namespace zorvex {
namespace {

using test::TLoopbackListener;

struct ResolveCase {
    const char* Host;
    bool Secure;
    int Status;
    int Port;
};

TEST(KVSocketTest, HostStringsResolveToPortAndStatus) {
    const ResolveCase cases[] = {
        {"127.0.0.1", false, SOCKET_OK, 119},
        {"127.0.0.1", true, SOCKET_OK, 563},
        {"  127.0.0.1:8119  ", false, SOCKET_OK, 8119},
        {"127.0.0.1:8119", true, SOCKET_OK, 8119},  // a written port wins over SSL's
        {"127.0.0.1:", false, SOCKET_OK, 119},
        {"127.0.0.1:0", true, SOCKET_OK, 563},
        {"127.0.0.1: 8120", false, SOCKET_OK, 8120},
        {"localhost:nntp", false, SOCKET_OK, 119},  // from the services database
        {"localhost:nosuchservice", false, SOCKET_OK, 119},
        {"[::1]:8119", false, SOCKET_OK, 8119},
        {"::1", false, SOCKET_OK, 119},
        {"", false, SOCKET_BLANK_HOSTNAME, 0},
        {"   \t ", false, SOCKET_BLANK_HOSTNAME, 0},
        {":119", false, SOCKET_FAIL_HOST_LOOKUP, 0},
        {"no such host", false, SOCKET_FAIL_HOST_LOOKUP, 0},
        {"127.0.0.1:99999", false, SOCKET_FAIL_HOST_LOOKUP, 0},
        {"[::1", false, SOCKET_FAIL_HOST_LOOKUP, 0},
    };
    for (const auto& c : cases) {
        TKVSocket s;
        s.SetSecure(c.Secure);
        std::vector<sockaddr_storage> addresses;
        int port = 0;
        EXPECT_EQ(s.Resolve(c.Host, &addresses, &port), c.Status) << "'" << c.Host << "'";
        if (c.Status == SOCKET_OK) {
            EXPECT_EQ(port, c.Port) << c.Host;
            EXPECT_FALSE(addresses.empty()) << c.Host;
        }
    }
}

TEST(KVSocketTest, ErrorNamesCoverTheTableAndUnknownCodes) {
    EXPECT_STREQ(SocketErrorName(0), "ok");
    EXPECT_STREQ(SocketErrorName(-3), "socket_fail_host_lookup");
    EXPECT_STREQ(SocketErrorName(-13), "socket_recv_closed");
    EXPECT_STREQ(SocketErrorName(-18), "socket_blank_hostname");
    EXPECT_STREQ(SocketErrorName(-99), "socket_unknown(-99)");
    EXPECT_STREQ(SocketErrorName(1), "socket_unknown(1)");
}

TEST(KVSocketTest, OperationsWithoutSocketFailCleanly) {
    TKVSocket s;
    char buf[4];
    size_t n = 7;
    EXPECT_EQ(s.Connect(), SOCKET_NOT_CREATED);
    EXPECT_EQ(s.Send("x", 1, 0), SOCKET_NOT_CREATED);
    EXPECT_EQ(s.Receive(buf, sizeof buf, 0, &n), SOCKET_NOT_CREATED);
    EXPECT_FALSE(s.WaitReadable(0));
    EXPECT_EQ(s.Close(), SOCKET_OK);
    EXPECT_EQ(s.Close(), SOCKET_OK);
}

class TNoticeCounter : public TMessageTarget {
  public:
    void OnMessage(const TMessage& m) override { Seen.push_back(m); }
    std::vector<TMessage> Seen;
};

TEST(KVSocketTest, CloseNoticeOnlyWhenASocketWasClosed) {
    TPlainEventLoop loop;
    TNoticeCounter target;
    TLoopbackListener listener;
    ASSERT_TRUE(listener.Ok);
    TKVSocket s;
    s.SetCloseNotice(&loop, &target, 1143, 5, 42);
    s.Close();
    loop.RunPending();
    EXPECT_TRUE(target.Seen.empty());
    ASSERT_EQ(s.OpenAndConnect(("127.0.0.1:" + std::to_string(listener.Port)).c_str()), SOCKET_OK);
    EXPECT_EQ(s.Port(), listener.Port);
    s.Close();
    s.Close();
    loop.RunPending();
    ASSERT_EQ(target.Seen.size(), 1u);
    EXPECT_EQ(target.Seen[0].Msg, 1143u);
    EXPECT_EQ(target.Seen[0].WParam, 5u);
    EXPECT_EQ(target.Seen[0].LParam, 42);
}

TEST(KVSocketTest, SendReceiveAndPeerClose) {
    TLoopbackListener listener;
    ASSERT_TRUE(listener.Ok);
    TKVSocket s;
    ASSERT_EQ(s.OpenAndConnect(("localhost:" + std::to_string(listener.Port)).c_str()), SOCKET_OK);
    int peer = listener.Accept();
    ASSERT_GE(peer, 0);
    EXPECT_EQ(s.Send("", 0, 0), SOCKET_OK);
    // Larger than any socket buffer: the whole of it must arrive.
    std::string big(8 << 20, 'z');
    std::string got;
    std::thread reader([&] {
        char buf[65536];
        ssize_t n;
        while (got.size() < big.size() && (n = ::recv(peer, buf, sizeof buf, 0)) > 0)
            got.append(buf, static_cast<size_t>(n));
    });
    EXPECT_EQ(s.Send(big.data(), big.size(), 0), SOCKET_OK);
    reader.join();
    EXPECT_EQ(got.size(), big.size());

    ASSERT_EQ(::send(peer, "hello", 5, 0), 5);
    ASSERT_TRUE(s.WaitReadable(2000));
    char buf[16];
    size_t n = 0;
    EXPECT_EQ(s.Receive(buf, sizeof buf, 0, &n), SOCKET_OK);
    EXPECT_EQ(std::string(buf, n), "hello");
    ::close(peer);
    ASSERT_TRUE(s.WaitReadable(2000));
    EXPECT_EQ(s.Receive(buf, sizeof buf, 0, &n), SOCKET_RECV_CLOSED);
    // Writing to a closed peer fails without killing the process.
    int status = SOCKET_OK;
    for (int i = 0; i < 50 && status == SOCKET_OK; ++i) status = s.Send(big.data(), 65536, 0);
    EXPECT_EQ(status, SOCKET_FAIL_SEND);
}

TEST(KVSocketTest, ConnectsOverIpv6AndFailsOnClosedPort) {
    TLoopbackListener v6(AF_INET6);
    if (!v6.Ok) GTEST_SKIP() << "no IPv6 loopback on this machine";
    TKVSocket s;
    EXPECT_EQ(s.OpenAndConnect(("[::1]:" + std::to_string(v6.Port)).c_str()), SOCKET_OK);
    s.Close();
    int closedPort;
    {
        TLoopbackListener gone;
        closedPort = gone.Port;
    }
    EXPECT_EQ(s.OpenAndConnect(("127.0.0.1:" + std::to_string(closedPort)).c_str()),
              SOCKET_FAIL_CONNECT);
    EXPECT_FALSE(s.IsOpen());
}

TEST(KVSocketTest, CloseFromAnotherThreadWakesABlockedReader) {
    TLoopbackListener listener;
    ASSERT_TRUE(listener.Ok);
    TKVSocket s;
    ASSERT_EQ(s.OpenAndConnect(("127.0.0.1:" + std::to_string(listener.Port)).c_str()), SOCKET_OK);
    int peer = listener.Accept();
    bool readable = true;
    std::thread waiter([&] { readable = s.WaitReadable(10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto start = std::chrono::steady_clock::now();
    s.Close();
    waiter.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    char buf[4];
    size_t n;
    EXPECT_NE(s.Receive(buf, sizeof buf, 0, &n), SOCKET_OK);
    (void)readable;
    ::close(peer);
}

}  // namespace
}  // namespace zorvex
