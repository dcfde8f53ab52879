// A listening socket on a free loopback port, IPv4 or IPv6.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace zorvex::test {

class TLoopbackListener {
  public:
    explicit TLoopbackListener(int family = AF_INET) {
        Fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage ss{};
        socklen_t len;
        if (family == AF_INET) {
            auto* a = reinterpret_cast<sockaddr_in*>(&ss);
            a->sin_family = AF_INET;
            a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            len = sizeof *a;
        } else {
            auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
            a->sin6_family = AF_INET6;
            a->sin6_addr = in6addr_loopback;
            len = sizeof *a;
        }
        Ok = Fd >= 0 && ::bind(Fd, reinterpret_cast<sockaddr*>(&ss), len) == 0 &&
             ::listen(Fd, 4) == 0;
        getsockname(Fd, reinterpret_cast<sockaddr*>(&ss), &len);
        Port = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&ss)->sin_port
                                       : reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
    }
    ~TLoopbackListener() { ::close(Fd); }
    TLoopbackListener(const TLoopbackListener&) = delete;
    TLoopbackListener& operator=(const TLoopbackListener&) = delete;

    int Accept() { return ::accept(Fd, nullptr, nullptr); }
    std::string HostString() const { return "127.0.0.1:" + std::to_string(Port); }

    int Fd = -1;
    int Port = 0;
    bool Ok = false;
};

}  // namespace zorvex::test
