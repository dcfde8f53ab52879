// Article data through the client's line reader: a feeder thread on loopback
// serves one group with one large article; the client walks it and counts
// the body lines. Reports bytes of article data per second.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/messages.h"
#include "library/eventloop.h"
#include "nntp/newsio.h"
#include "support/test_client.h"

namespace {

using namespace zorvex;

std::string MakeBody(size_t bytes) {
    // yEnc-like lines of 128 characters.
    std::string line(128, 'x');
    for (size_t i = 0; i < line.size(); ++i) line[i] = static_cast<char>('!' + (i * 7) % 90);
    std::string body;
    body.reserve(bytes + 256);
    while (body.size() < bytes) body += line + "\r\n";
    return body;
}

class TFeeder {
  public:
    explicit TFeeder(const std::string& body) : Body(body) {
        Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(Fd, 4);
        socklen_t len = sizeof a;
        getsockname(Fd, reinterpret_cast<sockaddr*>(&a), &len);
        Port = ntohs(a.sin_port);
        Thread = std::thread([this] { Serve(); });
    }
    ~TFeeder() {
        Thread.join();
        ::close(Fd);
    }
    int Port = 0;

  private:
    void Send(int c, const std::string& s) {
        size_t off = 0;
        while (off < s.size()) {
            ssize_t n = ::send(c, s.data() + off, s.size() - off, MSG_NOSIGNAL);
            if (n <= 0) return;
            off += static_cast<size_t>(n);
        }
    }
    void Serve() {
        int c = ::accept(Fd, nullptr, nullptr);
        Send(c, "200 feeder ready\r\n");
        std::string pending;
        char buf[1024];
        ssize_t n;
        while ((n = ::recv(c, buf, sizeof buf, 0)) > 0) {
            pending.append(buf, static_cast<size_t>(n));
            size_t nl;
            while ((nl = pending.find("\r\n")) != std::string::npos) {
                std::string cmd = pending.substr(0, nl);
                pending.erase(0, nl + 2);
                if (cmd == "mode reader") Send(c, "200 ok\r\n");
                if (cmd.rfind("group", 0) == 0) Send(c, "211 1 1 1 bench.group\r\n");
                if (cmd.rfind("xover", 0) == 0)
                    Send(c, "224 ok\r\n1\tbig\tposter\td\t<1@b>\t\t1\t1\r\n.\r\n");
                if (cmd.rfind("article", 0) == 0) {
                    Send(c, "220 1 <1@b>\r\nSubject: big\r\n\r\n");
                    Send(c, Body);
                    Send(c, ".\r\n");
                }
            }
        }
        ::close(c);
    }
    int Fd;
    const std::string& Body;
    std::thread Thread;
};

class TCounter : public test::TTestClient {
  public:
    TCounter(TNewsStore& store, TPlainEventLoop& loop) : TTestClient(store, loop) { Xover = true; }
    void BodyLine(const char*, int length) override { Bytes += static_cast<size_t>(length) + 2; }
    void AllGroupsDone() override {
        TNewsIo::AllGroupsDone();
        Disconnect();
        Done = true;
    }
    void ConnectionLost(int) override { Done = true; }
    size_t Bytes = 0;
    bool Done = false;
};

void BM_ArticleThroughGetLine(benchmark::State& state) {
    std::string body = MakeBody(static_cast<size_t>(state.range(0)) << 20);
    size_t total = 0;
    for (auto _ : state) {
        TPlainEventLoop loop;
        TNewsStore store;
        store.AddGroup("bench.group");
        TFeeder feeder(body);
        TCounter client(store, loop);
        client.SetServer(("127.0.0.1:" + std::to_string(feeder.Port)).c_str());
        client.ConnectToServer(&loop, &client, MSG_SOCKET);
        loop.RunUntil([&] { return client.Done; }, std::chrono::seconds(120));
        if (client.Bytes != body.size()) state.SkipWithError("article did not arrive whole");
        total += client.Bytes;
    }
    state.SetBytesProcessed(static_cast<int64_t>(total));
}
BENCHMARK(BM_ArticleThroughGetLine)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
