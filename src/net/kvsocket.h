// TKVSocket: the program's one blocking TCP client socket. Resolves "host",
// "host:port", "host:service" or "[v6]:port", connects, sends, receives and
// waits for readability. Every operation returns a status code from one fixed
// table (0 = ok); the names of the codes appear in the user's error messages.
#pragma once

#include <openssl/types.h>
#include <sys/socket.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace zorvex {

class TEventLoop;
class TMessageTarget;

enum : int {
    SOCKET_OK = 0,
    SOCKET_NOT_CREATED = -1,
    SOCKET_FAIL_CREATE = -2,
    SOCKET_FAIL_HOST_LOOKUP = -3,
    SOCKET_FAIL_CONNECT = -4,
    SOCKET_FAIL_SEND = -5,
    SOCKET_BUFFER_NOT_CREATED = -6,
    SOCKET_HAD_TIMEOUT = -7,
    SOCKET_FAIL_GET_LINE = -8,
    SOCKET_SSL_NOT_INIT = -9,
    SOCKET_FAIL_SSL_CONNECT = -10,
    SOCKET_FAIL_SSL_WRITE = -11,
    SOCKET_FAIL_RECV = -12,
    SOCKET_RECV_CLOSED = -13,
    SOCKET_FAIL_SSL_RECV = -14,
    SOCKET_NOT_SUPPORTED = -15,
    SOCKET_WOULD_BLOCK = -16,
    SOCKET_RECV_BUFFER_EMPTY = -17,
    SOCKET_BLANK_HOSTNAME = -18,
};

constexpr int NNTP_DEFAULT_PORT = 119;
constexpr int NNTP_SSL_DEFAULT_PORT = 563;
constexpr size_t SOCKET_HOST_MAX = 1024;
// How long a secure receive waits in silence for a record or for the rest
// of one it has begun; also the handshake's limit.
constexpr int SOCKET_RECEIVE_WAIT_MS = 120 * 1000;

// How a secure socket checks the server. Verify on: the certificate must
// chain to the system CA store or to CaFile (a CA or a self-signed server
// certificate) and name the host. Verify off accepts any certificate.
struct TTlsOptions {
    bool Verify = true;
    std::string CaFile;
};

// Name of a status code; "socket_unknown(%d)" for codes outside the table.
// The text stays valid until the calling thread asks again.
const char* SocketErrorName(int code);

class TKVSocket {
  public:
    TKVSocket();
    virtual ~TKVSocket();
    TKVSocket(const TKVSocket&) = delete;
    TKVSocket& operator=(const TKVSocket&) = delete;

    // Takes effect at the next Open.
    void SetSecure(bool secure, const TTlsOptions& options = {});
    int Open(const char* host);
    int Connect();
    int OpenAndConnect(const char* host);
    // Sends the whole buffer or fails with SOCKET_FAIL_SEND (SOCKET_FAIL_SSL_WRITE
    // on a secure socket).
    int Send(const void* buffer, size_t length, int flags);
    // On a secure socket returns decrypted bytes at once when some are
    // buffered, else waits for a whole record; SOCKET_HAD_TIMEOUT when the
    // receive wait passes without a byte, also in the middle of a record.
    int Receive(void* buffer, size_t size, int flags, size_t* count);
    // True at once when a secure session holds decrypted bytes.
    bool WaitReadable(int timeoutMs);
    // Safe to call repeatedly and from another thread than a blocked reader.
    virtual int Close();

    // Posted (msg, wparam, lparam) to target when Close really closed a socket.
    void SetCloseNotice(TEventLoop* loop, TMessageTarget* target, uint32_t msg, uintptr_t wparam,
                        intptr_t lparam);

    int Port() const { return PortInUse; }
    int DefaultPort() const { return DefaultPortNo; }
    bool IsSecure() const { return UseSsl != 0; }
    // True while a secure session is attached to the connection.
    bool HasSslSession() const { return SslAttached.load(); }
    void SetReceiveWaitMs(int ms) { ReceiveWaitMs.store(ms); }

    // Why the last secure Open or Connect failed; cleared by Open. Written
    // only by the thread running Open/Connect before it returns, so read
    // them on that thread or after it has handed its result over (the
    // worker's notice goes through the event loop's locked queue).
    bool CertificateRefused() const { return Refused; }
    const std::string& TlsFailure() const { return Failure; }
    bool IsOpen() const { return Handle.load() != -1; }

    // Resolution only, for tests and diagnostics: the addresses and port a
    // host string names. Status as Open would return it.
    int Resolve(const char* host, std::vector<sockaddr_storage>* addresses, int* port) const;

  private:
    int ResolveName(const char* host, std::vector<sockaddr_storage>* addresses, int* port,
                    std::string* name) const;
    int CreateHandle(int family);
    // 1 readable, 0 time-out, -1 closed or woken by Close.
    int PollReadable(int timeoutMs);
    int PrepareTls();
    int Handshake(int fd);
    int SendSecure(const void* buffer, size_t length);
    int ReceiveSecure(void* buffer, size_t size, size_t* count);
    // Ends and frees the session; the caller holds SslLock.
    void DropSession(bool sayGoodbye);

    std::atomic<int> Handle{-1};
    int WakeFd = -1;  // signalled by Close to end a wait on another thread
    int PortInUse = 0;
    std::vector<sockaddr_storage> Addresses;
    int UseSsl = 0;
    TTlsOptions Tls;
    std::string PeerName;  // the host name the certificate must carry
    bool Refused = false;
    std::string Failure;
    // Serialises the receive thread (read, pending) with the window thread
    // (write) and Close; held for a whole blocking handshake or write. Reads
    // never block under it.
    std::mutex SslLock;
    SSL* Ssl = nullptr;
    bool SslBroken = false;  // a fatal error: no close_notify may follow
    std::atomic<bool> SslAttached{false};
    std::atomic<int> ReceiveWaitMs{SOCKET_RECEIVE_WAIT_MS};
    int DefaultPortNo = NNTP_DEFAULT_PORT;
    std::mutex CloseLock;
    std::mutex NoticeLock;
    TEventLoop* NoticeLoop = nullptr;
    TMessageTarget* NoticeTarget = nullptr;
    uint32_t NoticeMsg = 0;
    uintptr_t NoticeWParam = 0;
    intptr_t NoticeLParam = 0;
};

}  // namespace zorvex
