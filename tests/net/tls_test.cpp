#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "library/eventloop.h"
#include "net/asyncsocket.h"
#include "net/kvsocket.h"
#include "support/loopback.h"
#include "support/tempdir.h"
#include "support/tls_server.h"

namespace zorvex {
namespace {

using test::TLoopbackListener;
using test::TlsReadLine;
using test::TlsSealRecord;
using test::TlsWriteAll;
using test::TTempDir;
using test::TTlsTestServer;

const std::vector<std::string> kLocal = {"localhost"};
const std::vector<std::string> kLoopbackIp = {"127.0.0.1"};

std::string HostOf(const char* name, int port) {
    return std::string(name) + ":" + std::to_string(port);
}

// Reads until the text ends in a line end or holds want bytes; stops on a
// failure or when nothing comes for five seconds.
std::string ReceiveUntil(TKVSocket& s, size_t want = 0) {
    std::string got;
    char buf[65536];
    while (want ? got.size() < want : (got.empty() || got.back() != '\n')) {
        if (!s.WaitReadable(5000)) break;
        size_t n = 0;
        if (s.Receive(buf, sizeof buf, 0, &n) != SOCKET_OK) break;
        got.append(buf, n);
    }
    return got;
}

// Greets, answers one command, then waits for the client to go.
void GreetAndAnswer(SSL* ssl, int) {
    TlsWriteAll(ssl, "200 tls ready\r\n");
    if (TlsReadLine(ssl) == "QUIT\r\n") TlsWriteAll(ssl, "205 bye\r\n");
    TlsReadLine(ssl);
}

TEST(TlsSocketTest, ServerWithoutTlsFailsTheHandshake) {
    for (bool greets : {true, false}) {
        SCOPED_TRACE(greets ? "plain greeting" : "closes at once");
        TLoopbackListener listener;
        ASSERT_TRUE(listener.Ok);
        std::thread server([&] {
            int fd = listener.Accept();
            if (greets) {
                ::send(fd, "200 plain server\r\n", 18, MSG_NOSIGNAL);
                pollfd p{fd, POLLIN, 0};
                char buf[4096];
                // Until the client gives up.
                while (::poll(&p, 1, 5000) > 0 && ::recv(fd, buf, sizeof buf, 0) > 0) {
                }
            }
            ::close(fd);
        });
        TKVSocket s;
        s.SetSecure(true);
        EXPECT_EQ(s.OpenAndConnect(listener.HostString().c_str()), SOCKET_FAIL_SSL_CONNECT);
        EXPECT_FALSE(s.IsOpen());
        EXPECT_FALSE(s.HasSslSession());
        EXPECT_FALSE(s.CertificateRefused());
        EXPECT_NE(s.TlsFailure().find("TLS handshake failed"), std::string::npos) << s.TlsFailure();
        char buf[64];
        size_t n = 99;
        EXPECT_EQ(s.Receive(buf, sizeof buf, 0, &n), SOCKET_NOT_CREATED);
        EXPECT_EQ(n, 0u);
        server.join();
    }
}

enum class ECaFile { NONE, SERVER_CERT, MISSING, NOT_PEM };

struct CertCase {
    const char* Label;
    std::vector<std::string> Dns;
    std::vector<std::string> Ips;
    const char* Host;
    bool Verify;
    ECaFile CaFile;
    int Status;
    bool Refused;
    const char* FailureHas;  // for a failed case
    const char* Sni;         // for a case that connects
};

TEST(TlsSocketTest, CertificateChecks) {
    const CertCase cases[] = {
        {"self-signed, refused by default", kLocal, kLoopbackIp, "127.0.0.1", true, ECaFile::NONE,
         SOCKET_FAIL_SSL_CONNECT, true, "certificate verify failed: self-signed certificate", ""},
        {"trusted through the CA file, by address", kLocal, kLoopbackIp, "127.0.0.1", true,
         ECaFile::SERVER_CERT, SOCKET_OK, false, "", ""},
        {"trusted through the CA file, by name", kLocal, kLoopbackIp, "localhost", true,
         ECaFile::SERVER_CERT, SOCKET_OK, false, "", "localhost"},
        {"no verification", kLocal, kLoopbackIp, "localhost", false, ECaFile::NONE, SOCKET_OK,
         false, "", "localhost"},
        {"certificate for another name, by address",
         {"other.example"},
         {},
         "127.0.0.1",
         true,
         ECaFile::SERVER_CERT,
         SOCKET_FAIL_SSL_CONNECT,
         true,
         "IP address mismatch",
         ""},
        {"certificate for another name, by name",
         {"other.example"},
         {},
         "localhost",
         true,
         ECaFile::SERVER_CERT,
         SOCKET_FAIL_SSL_CONNECT,
         true,
         "hostname mismatch",
         ""},
        {"missing CA file", kLocal, kLoopbackIp, "127.0.0.1", true, ECaFile::MISSING,
         SOCKET_SSL_NOT_INIT, false, "cannot read CA file", ""},
        {"CA file without a certificate", kLocal, kLoopbackIp, "127.0.0.1", true, ECaFile::NOT_PEM,
         SOCKET_SSL_NOT_INIT, false, "cannot load CA file", ""},
    };
    TTempDir dir;
    const std::string notPem = dir.File("not.pem");
    std::ofstream(notPem) << "not a certificate\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        TTlsTestServer server(c.Dns, c.Ips, GreetAndAnswer);
        ASSERT_TRUE(server.Ok());
        TTlsOptions options;
        options.Verify = c.Verify;
        if (c.CaFile == ECaFile::SERVER_CERT) options.CaFile = server.CertFile();
        if (c.CaFile == ECaFile::MISSING) options.CaFile = dir.File("absent.pem");
        if (c.CaFile == ECaFile::NOT_PEM) options.CaFile = notPem;
        TKVSocket s;
        s.SetSecure(true, options);
        ASSERT_EQ(s.OpenAndConnect(HostOf(c.Host, server.Port()).c_str()), c.Status)
            << s.TlsFailure();
        EXPECT_EQ(s.CertificateRefused(), c.Refused);
        if (c.Status != SOCKET_OK) {
            EXPECT_NE(s.TlsFailure().find(c.FailureHas), std::string::npos) << s.TlsFailure();
            EXPECT_FALSE(s.IsOpen());
            EXPECT_FALSE(s.HasSslSession());
            continue;
        }
        EXPECT_TRUE(s.TlsFailure().empty()) << s.TlsFailure();
        EXPECT_TRUE(s.HasSslSession());
        EXPECT_EQ(ReceiveUntil(s), "200 tls ready\r\n");
        EXPECT_EQ(server.LastServerName(), c.Sni);
        ASSERT_EQ(s.Send("QUIT\r\n", 6, 0), SOCKET_OK);
        EXPECT_EQ(ReceiveUntil(s), "205 bye\r\n");
        s.Close();
        EXPECT_FALSE(s.HasSslSession());
    }
}

TEST(TlsSocketTest, AFailureReasonIsClearedByTheNextOpen) {
    TTlsTestServer server(kLocal, kLoopbackIp, GreetAndAnswer);
    ASSERT_TRUE(server.Ok());
    TKVSocket s;
    s.SetSecure(true);
    const std::string host = HostOf("127.0.0.1", server.Port());
    ASSERT_EQ(s.OpenAndConnect(host.c_str()), SOCKET_FAIL_SSL_CONNECT);
    ASSERT_TRUE(s.CertificateRefused());
    s.SetSecure(true, {true, server.CertFile()});
    ASSERT_EQ(s.OpenAndConnect(host.c_str()), SOCKET_OK);
    EXPECT_FALSE(s.CertificateRefused());
    EXPECT_TRUE(s.TlsFailure().empty());
}

TEST(TlsSocketTest, DataRoundTripsBothWays) {
    const size_t size = 3 << 20;  // many records, and more than a socket buffer
    std::string sent(size, '\0');
    for (size_t i = 0; i < size; ++i) sent[i] = static_cast<char>('a' + (i * 7) % 26);
    std::string serverGot;
    TTlsTestServer server(kLocal, kLoopbackIp, [&](SSL* ssl, int) {
        std::vector<char> buf(65536);
        while (serverGot.size() < size) {
            int n = SSL_read(ssl, buf.data(), static_cast<int>(buf.size()));
            if (n <= 0) return;
            serverGot.append(buf.data(), static_cast<size_t>(n));
        }
        TlsWriteAll(ssl, serverGot);
        TlsReadLine(ssl);
    });
    ASSERT_TRUE(server.Ok());
    TKVSocket s;
    s.SetSecure(true, {true, server.CertFile()});
    ASSERT_EQ(s.OpenAndConnect(HostOf("127.0.0.1", server.Port()).c_str()), SOCKET_OK)
        << s.TlsFailure();
    // The server reads everything before it answers: one Send of it all
    // must not stall on the echo.
    ASSERT_EQ(s.Send(sent.data(), sent.size(), 0), SOCKET_OK);
    std::string back = ReceiveUntil(s, size);
    s.Close();
    EXPECT_TRUE(back == sent) << "received " << back.size() << " of " << size << " bytes";
    EXPECT_EQ(server.Handshakes(), 1);
}

TEST(TlsSocketTest, DecryptedBytesAreReturnedWithoutWaiting) {
    TTlsTestServer server(kLocal, kLoopbackIp, [](SSL* ssl, int) {
        TlsWriteAll(ssl, "first line\r\nsecond line\r\n");  // one record
        TlsReadLine(ssl);
    });
    ASSERT_TRUE(server.Ok());
    TKVSocket s;
    s.SetSecure(true, {false, ""});
    ASSERT_EQ(s.OpenAndConnect(HostOf("127.0.0.1", server.Port()).c_str()), SOCKET_OK);
    char buf[16];
    size_t n = 0;
    ASSERT_TRUE(s.WaitReadable(5000));
    ASSERT_EQ(s.Receive(buf, 12, 0, &n), SOCKET_OK);
    EXPECT_EQ(std::string(buf, n), "first line\r\n");
    // The rest sits decrypted in the session, not in the kernel.
    EXPECT_TRUE(s.WaitReadable(0));
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(s.Receive(buf, sizeof buf, 0, &n), SOCKET_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(std::string(buf, n), "second line\r\n");
    EXPECT_FALSE(s.WaitReadable(0));
}

TEST(TlsSocketTest, CloseEndsABlockedReceiveInBoundedTime) {
    for (bool insideRecord : {false, true}) {
        SCOPED_TRACE(insideRecord ? "reader inside a record" : "reader waiting for a record");
        TTlsTestServer server(kLocal, kLoopbackIp, [&](SSL* ssl, int fd) {
            // The header of a 64-byte record whose body never comes keeps
            // the reader inside SSL_read.
            if (insideRecord) ::send(fd, "\x17\x03\x03\x00\x40", 5, MSG_NOSIGNAL);
            TlsReadLine(ssl);
        });
        ASSERT_TRUE(server.Ok());
        TKVSocket s;
        s.SetSecure(true, {false, ""});
        ASSERT_EQ(s.OpenAndConnect(HostOf("127.0.0.1", server.Port()).c_str()), SOCKET_OK);
        int status = SOCKET_OK;
        std::thread reader([&] {
            char buf[256];
            size_t n = 0;
            status = s.Receive(buf, sizeof buf, 0, &n);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        auto start = std::chrono::steady_clock::now();
        s.Close();
        reader.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_NE(status, SOCKET_OK);
        EXPECT_FALSE(s.HasSslSession());
        EXPECT_FALSE(s.IsOpen());
    }
}

TEST(TlsSocketTest, PeerThatGoesAwayEndsReceiveAndSendWithoutSignal) {
    for (bool closeNotify : {true, false}) {
        SCOPED_TRACE(closeNotify ? "close_notify" : "bare TCP close");
        TTlsTestServer server(kLocal, kLoopbackIp, [&](SSL* ssl, int fd) {
            TlsWriteAll(ssl, "205 bye\r\n");
            if (!closeNotify) ::shutdown(fd, SHUT_RDWR);
        });
        ASSERT_TRUE(server.Ok());
        TKVSocket s;
        s.SetSecure(true, {false, ""});
        ASSERT_EQ(s.OpenAndConnect(HostOf("127.0.0.1", server.Port()).c_str()), SOCKET_OK);
        EXPECT_EQ(ReceiveUntil(s), "205 bye\r\n");
        char buf[64];
        size_t n = 0;
        ASSERT_TRUE(s.WaitReadable(5000));
        EXPECT_EQ(s.Receive(buf, sizeof buf, 0, &n), SOCKET_RECV_CLOSED);
        // Writing to the gone peer fails without SIGPIPE ending the tests.
        const std::string chunk(65536, 'x');
        int status = SOCKET_OK;
        for (int i = 0; i < 50 && status == SOCKET_OK; ++i) {
            status = s.Send(chunk.data(), chunk.size(), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(status, SOCKET_FAIL_SSL_WRITE);
    }
}

// A short receive wait stands for the client's own: with [timeout] delay=0
// there is no watchdog, and the socket's wait is all that ends a stall.
constexpr int kStallWaitMs = 400;
constexpr auto kStallBound = std::chrono::seconds(8);

// Sends the first cut bytes of a sealed record (a negative cut counts from
// its end) and, when restAfterMs is not negative, the rest that much later;
// then waits for the client to go.
void SendPartOfARecord(SSL* ssl, int fd, const std::string& text, long cut, int restAfterMs,
                       std::atomic<size_t>* sealedSize) {
    const std::string sealed = TlsSealRecord(ssl, text);
    sealedSize->store(sealed.size());
    const size_t size = sealed.size();
    const size_t first = cut >= 0 ? std::min(size, static_cast<size_t>(cut))
                                  : size - std::min(size, static_cast<size_t>(-cut));
    if (first > 0) ::send(fd, sealed.data(), first, MSG_NOSIGNAL);
    if (restAfterMs >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(restAfterMs));
        ::send(fd, sealed.data() + first, sealed.size() - first, MSG_NOSIGNAL);
    }
    TlsReadLine(ssl);
}

struct StallCase {
    const char* Label;
    long Cut;
    int RestAfterMs;  // -1: the rest never comes
    int Status;
};

TEST(TlsSocketTest, StalledRecordEndsTheReceiveAfterTheReceiveWait) {
    const StallCase cases[] = {
        {"nothing after the handshake", 0, -1, SOCKET_HAD_TIMEOUT},
        {"three bytes of a record's header", 3, -1, SOCKET_HAD_TIMEOUT},
        {"a record's header alone", 5, -1, SOCKET_HAD_TIMEOUT},
        {"a record's header and part of its body", 12, -1, SOCKET_HAD_TIMEOUT},
        {"all of a record but its last byte", -1, -1, SOCKET_HAD_TIMEOUT},
        {"the rest of the record within the wait", 12, 150, SOCKET_OK},
    };
    const std::string text = "223 0 <stalled@record> article\r\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        std::atomic<size_t> sealedSize{0};
        TTlsTestServer server(kLocal, kLoopbackIp, [&](SSL* ssl, int fd) {
            SendPartOfARecord(ssl, fd, text, c.Cut, c.RestAfterMs, &sealedSize);
        });
        ASSERT_TRUE(server.Ok());
        TKVSocket s;
        s.SetSecure(true, {false, ""});
        s.SetReceiveWaitMs(c.Status == SOCKET_OK ? 5000 : kStallWaitMs);
        ASSERT_EQ(s.OpenAndConnect(HostOf("127.0.0.1", server.Port()).c_str()), SOCKET_OK);
        char buf[256];
        size_t n = 99;
        auto start = std::chrono::steady_clock::now();
        int status = s.Receive(buf, sizeof buf, 0, &n);
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(status, c.Status) << SocketErrorName(status);
        EXPECT_LT(took, kStallBound);
        if (c.Status == SOCKET_OK) {
            EXPECT_EQ(std::string(buf, n), text);
        } else {
            EXPECT_EQ(n, 0u);
            EXPECT_GE(took, std::chrono::milliseconds(kStallWaitMs));
            // A time-out is no broken session: the close still says goodbye
            // and ends at once.
            EXPECT_TRUE(s.HasSslSession());
        }
        start = std::chrono::steady_clock::now();
        s.Close();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_FALSE(s.HasSslSession());
        EXPECT_GT(sealedSize.load(), text.size());
    }
}

class TNoticeLog : public TMessageTarget {
  public:
    void OnMessage(const TMessage& m) override { Seen.push_back(SocketNoticeOf(m)); }
    bool Has(TSocketNotice notice) const {
        return std::find(Seen.begin(), Seen.end(), notice) != Seen.end();
    }
    std::vector<TSocketNotice> Seen;
};

// The worker threads: the reason for a refusal is readable on the loop
// thread after the notice, and a secure receive in wait ends at Close.
TEST(TlsSocketTest, WorkerConnectsReceivesAndClosesOverTls) {
    TTlsTestServer server(kLocal, kLoopbackIp, GreetAndAnswer);
    ASSERT_TRUE(server.Ok());
    const std::string host = HostOf("127.0.0.1", server.Port());
    TPlainEventLoop loop;
    TNoticeLog log;
    TAsyncSocket worker;
    worker.SetNotify(&loop, &log, 1143);
    auto waitFor = [&](TSocketNotice notice) {
        return loop.RunUntil([&] { return log.Has(notice); }, std::chrono::seconds(5));
    };

    worker.Socket().SetSecure(true);
    worker.RequestConnect(host.c_str());
    ASSERT_TRUE(waitFor(TSocketNotice::CONNECT_FAILED));
    EXPECT_EQ(worker.ErrorCode(), SOCKET_FAIL_SSL_CONNECT);
    EXPECT_TRUE(worker.Socket().CertificateRefused());
    EXPECT_NE(worker.Socket().TlsFailure().find("self-signed"), std::string::npos);

    log.Seen.clear();
    worker.Socket().SetSecure(true, {true, server.CertFile()});
    worker.RequestConnect(host.c_str());
    ASSERT_TRUE(waitFor(TSocketNotice::CONNECTED)) << worker.Socket().TlsFailure();
    EXPECT_TRUE(worker.Socket().HasSslSession());
    worker.SetConnected(true);
    ASSERT_TRUE(waitFor(TSocketNotice::RECEIVED));
    char buf[64];
    size_t n = 0;
    ASSERT_EQ(worker.ReadBytes(buf, sizeof buf, &n), SOCKET_OK);
    EXPECT_EQ(std::string(buf, n), "200 tls ready\r\n");
    // The receive thread now waits on the silent server.
    log.Seen.clear();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto start = std::chrono::steady_clock::now();
    worker.Close();
    ASSERT_TRUE(loop.RunUntil(
        [&] { return log.Has(TSocketNotice::CLOSED) && log.Has(TSocketNotice::RECEIVED); },
        std::chrono::seconds(5)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(worker.ErrorCode(), 0);
    EXPECT_FALSE(worker.Socket().HasSslSession());
}

enum class EStall { PLAIN_SILENCE, TLS_SILENCE, TLS_PART_OF_A_RECORD };

// The worker as the client runs it: after the greeting the server stalls,
// and the receive wait ends it with the same status, secure or not.
TEST(TlsSocketTest, WorkerTimesOutOnAStalledServerAsOnAPlainOne) {
    const std::string greeting = "200 ready\r\n";
    for (EStall stall :
         {EStall::PLAIN_SILENCE, EStall::TLS_SILENCE, EStall::TLS_PART_OF_A_RECORD}) {
        const bool secure = stall != EStall::PLAIN_SILENCE;
        SCOPED_TRACE(stall == EStall::PLAIN_SILENCE ? "plain, silence"
                     : stall == EStall::TLS_SILENCE ? "TLS, silence"
                                                    : "TLS, part of a record");
        std::atomic<size_t> sealedSize{0};
        TLoopbackListener listener;
        ASSERT_TRUE(listener.Ok);
        std::thread plain;
        struct TJoin {
            std::thread& Thread;
            ~TJoin() {
                if (Thread.joinable()) Thread.join();
            }
        } joinPlain{plain};  // after the worker has closed its end
        std::unique_ptr<TTlsTestServer> server;
        if (secure) {
            server = std::make_unique<TTlsTestServer>(kLocal, kLoopbackIp, [&](SSL* ssl, int fd) {
                TlsWriteAll(ssl, greeting);
                SendPartOfARecord(ssl, fd, "220 0 <a@b> article\r\n",
                                  stall == EStall::TLS_SILENCE ? 0 : 8, -1, &sealedSize);
            });
            ASSERT_TRUE(server->Ok());
        } else {
            plain = std::thread([&] {
                pollfd incoming{listener.Fd, POLLIN, 0};
                if (::poll(&incoming, 1, 10000) <= 0) return;
                int fd = listener.Accept();
                ::send(fd, greeting.data(), greeting.size(), MSG_NOSIGNAL);
                pollfd p{fd, POLLIN, 0};
                char buf[256];
                while (::poll(&p, 1, 10000) > 0 && ::recv(fd, buf, sizeof buf, 0) > 0) {
                }
                ::close(fd);
            });
        }
        TPlainEventLoop loop;
        TNoticeLog log;
        TAsyncSocket worker;
        worker.SetNotify(&loop, &log, 1143);
        worker.SetReceiveTimeoutMs(kStallWaitMs);
        worker.Socket().SetSecure(secure, {false, ""});
        const std::string host =
            secure ? HostOf("127.0.0.1", server->Port()) : listener.HostString();
        worker.RequestConnect(host.c_str());
        ASSERT_TRUE(loop.RunUntil([&] { return log.Has(TSocketNotice::CONNECTED); },
                                  std::chrono::seconds(5)));
        worker.SetConnected(true);
        ASSERT_TRUE(loop.RunUntil([&] { return log.Has(TSocketNotice::RECEIVED); },
                                  std::chrono::seconds(5)));
        char buf[64];
        size_t n = 0;
        log.Seen.clear();
        ASSERT_EQ(worker.ReadBytes(buf, sizeof buf, &n), SOCKET_OK);
        EXPECT_EQ(std::string(buf, n), greeting);
        auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(
            loop.RunUntil([&] { return log.Has(TSocketNotice::FIRST_ERROR); }, kStallBound));
        EXPECT_GE(std::chrono::steady_clock::now() - start,
                  std::chrono::milliseconds(kStallWaitMs));
        EXPECT_EQ(worker.ErrorCode(), SOCKET_HAD_TIMEOUT) << SocketErrorName(worker.ErrorCode());
        EXPECT_EQ(worker.ReadBytes(buf, sizeof buf, &n), SOCKET_HAD_TIMEOUT);
        EXPECT_FALSE(worker.Socket().IsOpen());
        if (secure) {
            EXPECT_GT(sealedSize.load(), 0u);
        }
    }
}

}  // namespace
}  // namespace zorvex
