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

#include "app/messages.h"
#include "library/eventloop.h"
#include "nntp/newsio.h"
#include "support/test_client.h"

namespace {

using namespace zorvex;

class TFuzzClient : public zorvex::test::TTestClient {
  public:
    TFuzzClient(TNewsStore& store, TPlainEventLoop& loop, uint8_t knobs)
        : TTestClient(store, loop), Knobs(knobs) {
        Xover = Knobs & 1;
        AlwaysAuth = (Knobs >> 1) & 1;
        LoadXref = (Knobs >> 2) & 1;
        MaxXrefValue = 5;
        FollowPosterValue = (Knobs >> 3) & 1;
        Name = (Knobs >> 4) & 1 ? "user" : "";
        Password = "pw";
        AtArticleEnd = [this](TTestClient&) { FollowPosterNext((Knobs >> 5) & 1); };
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
    TFuzzClient client(store, loop, knobs);
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
    client.ConnectToServer(&loop, &client, MSG_SOCKET);
    if (!loop.RunUntil([&] { return client.Done; }, std::chrono::seconds(10))) std::abort();
    client.Disconnect();
    server.join();
    return 0;
}
