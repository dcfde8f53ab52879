#include "net/kvsocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "library/ascii.h"
#include "library/eventloop.h"

namespace zorvex {

namespace {

const char* const kNames[] = {
    "ok",
    "socket_not_created",
    "socket_fail_create",
    "socket_fail_host_lookup",
    "socket_fail_connect",
    "socket_fail_send",
    "socket_buffer_not_created",
    "socket_had_timeout",
    "socket_fail_get_line",
    "socket_ssl_not_init",
    "socket_fail_ssl_connect",
    "socket_fail_ssl_write",
    "socket_fail_recv",
    "socket_recv_closed",
    "socket_fail_ssl_recv",
    "socket_not_supported",
    "socket_would_block",
    "socket_recv_buffer_empty",
    "socket_blank_hostname",
};

// Port from the text after the colon; 0 keeps the default.
int PortFromText(const std::string& text) {
    if (text.empty()) return 0;
    if (IsDigitAscii(text[0])) {
        std::string_view digits(text);
        int64_t v = 0;
        ReadClampedDecimal(&digits, &v);
        return v > 65535 ? -1 : static_cast<int>(v);
    }
    servent entry;
    servent* found = nullptr;
    char buf[1024];
    if (getservbyname_r(text.c_str(), "tcp", &entry, buf, sizeof buf, &found) == 0 && found)
        return ntohs(static_cast<uint16_t>(found->s_port));
    return 0;
}

}  // namespace

const char* SocketErrorName(int code) {
    if (code <= 0 && code >= -18) return kNames[-code];
    thread_local char unknown[64];
    std::snprintf(unknown, sizeof unknown, "socket_unknown(%d)", code);
    return unknown;
}

TKVSocket::TKVSocket() : WakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TKVSocket::~TKVSocket() {
    {
        std::lock_guard<std::mutex> guard(NoticeLock);
        NoticeTarget = nullptr;
    }
    TKVSocket::Close();
    if (WakeFd >= 0) ::close(WakeFd);
}

void TKVSocket::SetSecure(bool secure) {
    UseSsl = secure ? 1 : 0;
    DefaultPortNo = secure ? NNTP_SSL_DEFAULT_PORT : NNTP_DEFAULT_PORT;
}

void TKVSocket::SetCloseNotice(TEventLoop* loop, TMessageTarget* target, uint32_t msg,
                               uintptr_t wparam, intptr_t lparam) {
    std::lock_guard<std::mutex> guard(NoticeLock);
    NoticeLoop = loop;
    NoticeTarget = target;
    NoticeMsg = msg;
    NoticeWParam = wparam;
    NoticeLParam = lparam;
}

int TKVSocket::Resolve(const char* host, std::vector<sockaddr_storage>* addresses,
                       int* port) const {
    std::string work(TrimSpaces(std::string(host ? host : "").substr(0, SOCKET_HOST_MAX - 1)));
    if (work.empty()) return SOCKET_BLANK_HOSTNAME;

    std::string name, portText;
    bool hasPort = false;
    if (work[0] == '[') {
        size_t close = work.find(']');
        if (close == std::string::npos) return SOCKET_FAIL_HOST_LOOKUP;
        name = work.substr(1, close - 1);
        size_t colon = work.find(':', close);
        if (colon != std::string::npos) {
            hasPort = true;
            portText = work.substr(colon + 1);
        }
    } else if (work.find(':') != work.rfind(':')) {
        name = work;  // a bare IPv6 literal: its colons are not a port separator
    } else {
        size_t colon = work.find(':');
        name = work.substr(0, colon);
        if (colon != std::string::npos) {
            hasPort = true;
            portText = work.substr(colon + 1);
        }
    }
    name = std::string(TrimSpaces(name));
    if (name.empty()) return SOCKET_FAIL_HOST_LOOKUP;

    int p = DefaultPortNo;
    if (hasPort) {
        int given = PortFromText(std::string(TrimSpaces(portText)));
        if (given < 0) return SOCKET_FAIL_HOST_LOOKUP;
        if (given > 0) p = given;
    }

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* result = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || !result)
        return SOCKET_FAIL_HOST_LOOKUP;
    addresses->clear();
    for (addrinfo* ai = result; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
        sockaddr_storage ss{};
        std::memcpy(&ss, ai->ai_addr, ai->ai_addrlen);
        if (ss.ss_family == AF_INET)
            reinterpret_cast<sockaddr_in*>(&ss)->sin_port = htons(static_cast<uint16_t>(p));
        else
            reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port = htons(static_cast<uint16_t>(p));
        addresses->push_back(ss);
    }
    freeaddrinfo(result);
    if (addresses->empty()) return SOCKET_FAIL_HOST_LOOKUP;
    *port = p;
    return SOCKET_OK;
}

int TKVSocket::CreateHandle(int family) {
    int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return SOCKET_FAIL_CREATE;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    int old = Handle.exchange(fd);
    if (old != -1) ::close(old);  // an attempt's socket of the other family: no notice
    return SOCKET_OK;
}

int TKVSocket::AttachSslSessionUnavailable() {
    return SOCKET_SSL_NOT_INIT;
}

int TKVSocket::Open(const char* host) {
    Close();
    // The waiters of the previous connection are gone (the worker waits for
    // its threads to be idle first): its wake-up must not end the next wait.
    uint64_t pending;
    while (WakeFd >= 0 && ::read(WakeFd, &pending, sizeof pending) > 0) {
    }
    // The socket exists before the lookup, so a failed lookup closes it and
    // the owner hears of the close as of any other failed attempt.
    int status = CreateHandle(AF_INET);
    if (status != SOCKET_OK) return status;
    if (UseSsl) {
        status = AttachSslSessionUnavailable();
        if (status != SOCKET_OK) {
            Close();
            return status;
        }
    }
    int port = 0;
    status = Resolve(host, &Addresses, &port);
    if (status != SOCKET_OK) {
        Close();
        return status;
    }
    PortInUse = port;
    return SOCKET_OK;
}

int TKVSocket::Connect() {
    if (Handle.load() == -1) return SOCKET_NOT_CREATED;
    for (const sockaddr_storage& addr : Addresses) {
        int current = Handle.load();
        if (current == -1) return SOCKET_NOT_CREATED;  // closed from another thread
        sockaddr_storage family{};
        socklen_t flen = sizeof family;
        if (getsockname(current, reinterpret_cast<sockaddr*>(&family), &flen) != 0 ||
            family.ss_family != addr.ss_family) {
            if (CreateHandle(addr.ss_family) != SOCKET_OK) continue;
            current = Handle.load();
        }
        socklen_t len = addr.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        int rc;
        do {
            rc = ::connect(current, reinterpret_cast<const sockaddr*>(&addr), len);
        } while (rc != 0 && errno == EINTR);
        if (rc == 0) return SOCKET_OK;
        // A failed connect leaves the socket unusable: start the next address afresh.
        if (&addr != &Addresses.back()) CreateHandle(addr.ss_family);
    }
    Close();
    return SOCKET_FAIL_CONNECT;
}

int TKVSocket::OpenAndConnect(const char* host) {
    int status = Open(host);
    if (status != SOCKET_OK) return status;
    return Connect();
}

int TKVSocket::Send(const void* buffer, size_t length, int flags) {
    int fd = Handle.load();
    if (fd == -1) return SOCKET_NOT_CREATED;
    if (length == 0) return SOCKET_OK;
    const char* p = static_cast<const char*>(buffer);
    while (length > 0) {
        ssize_t n = ::send(fd, p, length, flags | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return SOCKET_FAIL_SEND;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return SOCKET_OK;
}

int TKVSocket::Receive(void* buffer, size_t size, int flags, size_t* count) {
    int fd = Handle.load();
    if (fd == -1) return SOCKET_NOT_CREATED;
    ssize_t n;
    do {
        n = ::recv(fd, buffer, size, flags);
    } while (n < 0 && errno == EINTR);
    if (count) *count = n > 0 ? static_cast<size_t>(n) : 0;
    if (n == 0) return SOCKET_RECV_CLOSED;
    if (n < 0) return SOCKET_FAIL_RECV;
    return SOCKET_OK;
}

bool TKVSocket::WaitReadable(int timeoutMs) {
    int fd = Handle.load();
    if (fd == -1) return false;
    // Neither close() nor shutdown() reliably wakes a poll on another
    // thread, so Close signals the wake-up descriptor as well.
    pollfd p[2] = {{fd, POLLIN, 0}, {WakeFd, POLLIN, 0}};
    int rc;
    do {
        rc = ::poll(p, WakeFd >= 0 ? 2 : 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    if (rc <= 0 || p[1].revents != 0 || Handle.load() == -1) return false;
    // Hang-up and errors count as readable: the receive then reports them.
    return p[0].revents != 0;
}

int TKVSocket::Close() {
    std::lock_guard<std::mutex> guard(CloseLock);
    int fd = Handle.exchange(-1);
    if (fd == -1) return SOCKET_OK;
    // shutdown ends a recv blocked on another thread (close alone does not);
    // the wake-up descriptor ends a poll.
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    if (WakeFd >= 0) {
        uint64_t one = 1;
        ssize_t n = ::write(WakeFd, &one, sizeof one);
        (void)n;  // a full counter already wakes every waiter
    }
    std::lock_guard<std::mutex> notice(NoticeLock);
    if (NoticeTarget && NoticeLoop)
        NoticeLoop->Post(NoticeTarget, NoticeMsg, NoticeWParam, NoticeLParam);
    return SOCKET_OK;
}

}  // namespace zorvex
