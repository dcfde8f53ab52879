#include "net/kvsocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "library/ascii.h"
#include "library/eventloop.h"
#include "net/tls.h"

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

void TKVSocket::SetSecure(bool secure, const TTlsOptions& options) {
    UseSsl = secure ? 1 : 0;
    Tls = options;
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
    std::string name;
    return ResolveName(host, addresses, port, &name);
}

int TKVSocket::ResolveName(const char* host, std::vector<sockaddr_storage>* addresses, int* port,
                           std::string* nameOut) const {
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
    *nameOut = name;
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

int TKVSocket::PrepareTls() {
    if (!TlsClientContext()) {
        Failure = "cannot set up TLS: " + TlsErrorText("no client context");
        return SOCKET_SSL_NOT_INIT;
    }
    // A CA file that cannot be used is found before any traffic.
    if (Tls.Verify && !Tls.CaFile.empty()) {
        X509_STORE* store = TlsStoreWithCaFile(Tls.CaFile, &Failure);
        if (!store) return SOCKET_SSL_NOT_INIT;
        X509_STORE_free(store);
    }
    return SOCKET_OK;
}

int TKVSocket::Handshake(int fd) {
    ERR_clear_error();
    SSL* ssl = SSL_new(TlsClientContext());
    BIO* bio = ssl ? TlsSocketBio(fd) : nullptr;
    if (!bio) {
        Failure = "cannot set up TLS: " + TlsErrorText("out of memory");
        SSL_free(ssl);
        Close();
        return SOCKET_FAIL_SSL_CONNECT;
    }
    SSL_set_bio(ssl, bio, bio);
    const bool ipLiteral = IsIpLiteral(PeerName);
    bool ready = true;
    if (Tls.Verify) {
        SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
        if (!Tls.CaFile.empty()) {
            X509_STORE* store = TlsStoreWithCaFile(Tls.CaFile, &Failure);
            ready = store && SSL_set1_verify_cert_store(ssl, store) == 1;
            X509_STORE_free(store);
        }
        if (ready && ipLiteral) {
            std::string bare = PeerName.substr(0, PeerName.find('%'));
            ready = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), bare.c_str()) == 1;
        } else if (ready) {
            ready = SSL_set1_host(ssl, PeerName.c_str()) == 1;
        }
        if (!ready && Failure.empty()) Failure = "cannot check the host name '" + PeerName + "'";
    } else {
        SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
    }
    // Servers pick their certificate by name; an address is never sent.
    if (ready && !ipLiteral) SSL_set_tlsext_host_name(ssl, PeerName.c_str());
    if (!ready) {
        SSL_free(ssl);
        Close();
        return SOCKET_FAIL_SSL_CONNECT;
    }

    std::unique_lock<std::mutex> guard(SslLock);
    if (Handle.load() != fd) {  // closed from another thread meanwhile
        guard.unlock();
        SSL_free(ssl);
        Failure = "closed during the TLS handshake";
        return SOCKET_FAIL_SSL_CONNECT;
    }
    Ssl = ssl;
    SslBroken = false;
    // A server that takes the connection but never answers the handshake
    // must not hold the connect thread for ever.
    int waitMs = ReceiveWaitMs.load();
    timeval limit{waitMs / 1000, (waitMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    int rc = SSL_connect(ssl);
    timeval none{0, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
    if (rc == 1) {
        // From here a read takes what the kernel holds and returns: the
        // rest of a record is waited for in ReceiveSecure, with its limit
        // and without the lock.
        BIO_set_nbio(SSL_get_rbio(ssl), 1);
        SslAttached.store(true);
        ERR_clear_error();
        return SOCKET_OK;
    }
    long verified = SSL_get_verify_result(ssl);
    if (Tls.Verify && verified != X509_V_OK) {
        Refused = true;
        Failure =
            std::string("certificate verify failed: ") + X509_verify_cert_error_string(verified);
        ERR_clear_error();
    } else if (SSL_get_error(ssl, rc) == SSL_ERROR_WANT_READ) {
        ERR_clear_error();
        Failure = "TLS handshake failed: the server did not answer";
    } else {
        int savedErrno = errno;
        std::string reason = TlsErrorText("");
        if (reason.empty())
            reason =
                savedErrno != 0 ? std::strerror(savedErrno) : "connection closed by the server";
        Failure = "TLS handshake failed: " + reason;
    }
    SslBroken = true;
    DropSession(false);
    guard.unlock();
    Close();
    return SOCKET_FAIL_SSL_CONNECT;
}

void TKVSocket::DropSession(bool sayGoodbye) {
    SslAttached.store(false);
    if (!Ssl) return;
    if (sayGoodbye && !SslBroken) {
        // One close_notify, no wait for the server's: the socket goes
        // non-blocking so a full send buffer cannot hold the close up.
        int fd = SSL_get_fd(Ssl);
        if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        ERR_clear_error();
        SSL_shutdown(Ssl);
    }
    ERR_clear_error();
    SSL_free(Ssl);
    Ssl = nullptr;
}

int TKVSocket::Open(const char* host) {
    Close();
    Refused = false;
    Failure.clear();
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
        status = PrepareTls();
        if (status != SOCKET_OK) {
            Close();
            return status;
        }
    }
    int port = 0;
    status = ResolveName(host, &Addresses, &port, &PeerName);
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
        // A failed handshake is the server's answer, not a reason to try
        // its next address.
        if (rc == 0) return UseSsl ? Handshake(current) : SOCKET_OK;
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
    if (UseSsl || SslAttached.load()) return SendSecure(buffer, length);
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

int TKVSocket::SendSecure(const void* buffer, size_t length) {
    std::lock_guard<std::mutex> guard(SslLock);
    if (!Ssl || !SslAttached.load()) return SOCKET_NOT_CREATED;
    const char* p = static_cast<const char*>(buffer);
    while (length > 0) {
        ERR_clear_error();
        int n = SSL_write(Ssl, p, static_cast<int>(length < INT_MAX ? length : INT_MAX));
        if (n > 0) {
            p += n;
            length -= static_cast<size_t>(n);
            continue;
        }
        int error = SSL_get_error(Ssl, n);
        ERR_clear_error();
        if ((error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) &&
            Handle.load() != -1) {
            pollfd wait{SSL_get_fd(Ssl), POLLIN | POLLOUT, 0};
            ::poll(&wait, 1, 100);
            continue;
        }
        SslBroken = true;
        return SOCKET_FAIL_SSL_WRITE;
    }
    return SOCKET_OK;
}

int TKVSocket::Receive(void* buffer, size_t size, int flags, size_t* count) {
    if (count) *count = 0;
    int fd = Handle.load();
    if (fd == -1) return SOCKET_NOT_CREATED;
    if (UseSsl || SslAttached.load()) return ReceiveSecure(buffer, size, count);
    ssize_t n;
    do {
        n = ::recv(fd, buffer, size, flags);
    } while (n < 0 && errno == EINTR);
    if (count) *count = n > 0 ? static_cast<size_t>(n) : 0;
    if (n == 0) return SOCKET_RECV_CLOSED;
    if (n < 0) return SOCKET_FAIL_RECV;
    return SOCKET_OK;
}

int TKVSocket::ReceiveSecure(void* buffer, size_t size, size_t* count) {
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(SslLock);
            if (!Ssl || !SslAttached.load() || Handle.load() == -1) return SOCKET_NOT_CREATED;
            ERR_clear_error();
            int n = SSL_read(Ssl, buffer, static_cast<int>(size < INT_MAX ? size : INT_MAX));
            if (n > 0) {
                if (count) *count = static_cast<size_t>(n);
                return SOCKET_OK;
            }
            int error = SSL_get_error(Ssl, n);
            ERR_clear_error();
            if (error == SSL_ERROR_ZERO_RETURN) return SOCKET_RECV_CLOSED;
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
                SslBroken = true;
                return SOCKET_FAIL_SSL_RECV;
            }
            // No record is whole yet (or only a session ticket came); the
            // session keeps what part of one has arrived.
        }
        // The same silence limit as a plain receive, also inside a record.
        int ready = PollReadable(ReceiveWaitMs.load());
        if (ready < 0) return SOCKET_NOT_CREATED;
        if (ready == 0) return SOCKET_HAD_TIMEOUT;
    }
}

bool TKVSocket::WaitReadable(int timeoutMs) {
    if (Handle.load() == -1) return false;
    if (SslAttached.load()) {
        std::lock_guard<std::mutex> guard(SslLock);
        if (Ssl && (SSL_pending(Ssl) > 0 || SSL_has_pending(Ssl))) return true;
    }
    return PollReadable(timeoutMs) == 1;
}

int TKVSocket::PollReadable(int timeoutMs) {
    int fd = Handle.load();
    if (fd == -1) return -1;
    // Neither close() nor shutdown() reliably wakes a poll on another
    // thread, so Close signals the wake-up descriptor as well.
    pollfd p[2] = {{fd, POLLIN, 0}, {WakeFd, POLLIN, 0}};
    int rc;
    do {
        rc = ::poll(p, WakeFd >= 0 ? 2 : 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    if (p[1].revents != 0 || Handle.load() == -1) return -1;
    if (rc <= 0) return 0;
    // Hang-up and errors count as readable: the receive then reports them.
    return p[0].revents != 0 ? 1 : 0;
}

int TKVSocket::Close() {
    std::lock_guard<std::mutex> guard(CloseLock);
    int fd = Handle.exchange(-1);
    if (fd == -1) return SOCKET_OK;
    // The wake-up descriptor ends a poll at once; shutdown ends a recv
    // blocked on another thread (close alone does not).
    if (WakeFd >= 0) {
        uint64_t one = 1;
        ssize_t n = ::write(WakeFd, &one, sizeof one);
        (void)n;  // a full counter already wakes every waiter
    }
    {
        // A handshake or a write blocked on the socket holds the lock;
        // after two seconds the socket is shut under it instead.
        std::unique_lock<std::mutex> ssl(SslLock, std::defer_lock);
        for (int attempt = 0; attempt < 20 && !ssl.try_lock(); ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        bool shut = false;
        if (!ssl.owns_lock()) {
            ::shutdown(fd, SHUT_RDWR);
            shut = true;
            ssl.lock();
        }
        DropSession(!shut);
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    std::lock_guard<std::mutex> notice(NoticeLock);
    if (NoticeTarget && NoticeLoop)
        NoticeLoop->Post(NoticeTarget, NoticeMsg, NoticeWParam, NoticeLParam);
    return SOCKET_OK;
}

}  // namespace zorvex
