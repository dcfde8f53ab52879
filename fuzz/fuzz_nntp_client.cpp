// A hostile server: the input is everything the server says on one
// connection, whatever the client asks. The client must neither crash nor
// hang; the connection ends when the bytes run out.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <thread>

#include "app/eventloop.h"
#include "app/messages.h"
#include "nntp/newsio.h"

namespace {

using namespace zorvex;

class TFuzzClient : public TNewsIo, public TMessageTarget {
  public:
    TFuzzClient(TNewsStore& store, uint8_t knobs) : TNewsIo(store), Knobs(knobs) {}
    void OnMessage(const TMessage& m) override {
        if (m.Msg == MSG_SOCKET) HandleSocketMessage(m.WParam);
    }
    int UseXover() override { return Knobs & 1; }
    int AuthAtLogon() override { return (Knobs >> 1) & 1; }
    int LoadXrefHeaders() override { return (Knobs >> 2) & 1; }
    int MaxXref() override { return 5; }
    int FollowPoster() override { return (Knobs >> 3) & 1; }
    const char* AuthName() override { return (Knobs >> 4) & 1 ? "user" : ""; }
    const char* AuthPassword() override { return "pw"; }
    void OnArticleEnd() override {
        FollowPosterFlag = (Knobs >> 5) & 1;
        TNewsIo::OnArticleEnd();
    }
    void ConnectionLost(int) override { Done = true; }
    void Disconnected() override { Done = true; }
    bool Done = false;
    uint8_t Knobs;
};

int Listener(int* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0)
        std::abort();
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int port = 0;
    static int listenFd = Listener(&port);
    if (size < 1) return 0;
    uint8_t knobs = data[0];
    ++data;
    --size;

    TPlainEventLoop loop;
    TNewsStore store;
    store.AddGroup("a.b");
    store.AddGroup("c.d")->Pointer = 3;
    TFuzzClient client(store, knobs);
    std::thread server([&] {
        int c = ::accept(listenFd, nullptr, nullptr);
        if (c < 0) return;
        // Sent in pieces so that lines also break across receives.
        size_t off = 0;
        while (off < size) {
            size_t n = std::min<size_t>(size - off, 1 + (off * 7919) % 257);
            if (::send(c, data + off, n, MSG_NOSIGNAL) <= 0) break;
            off += n;
        }
        ::shutdown(c, SHUT_WR);
        char sink[4096];
        pollfd p{c, POLLIN, 0};
        while (::poll(&p, 1, 2000) > 0 && ::recv(c, sink, sizeof sink, 0) > 0) {
        }
        ::close(c);
    });
    client.SetServer(("127.0.0.1:" + std::to_string(port)).c_str());
    client.ConnectToServer(&loop, &client);
    if (!loop.RunUntil([&] { return client.Done; }, std::chrono::seconds(10))) std::abort();
    client.Disconnect();
    server.join();
    return 0;
}
