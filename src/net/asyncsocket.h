// TAsyncSocket keeps the blocking socket off the loop thread. A connect
// thread connects on request and a receive thread performs one receive each
// time the loop thread has taken every byte of the previous one; results are
// posted to the owner as messages of the owner's number carrying a notice.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "library/eventloop.h"
#include "net/kvsocket.h"

namespace zorvex {

enum class TSocketNotice : int {
    RECEIVED = 1,       // bytes wait, or after a failure nothing more will come
    CONNECT_ENDED = 2,  // a connect attempt ended, well or not
    LATER_ERROR = 3,    // another error after this connection's first
    FIRST_ERROR = 4,    // the first error of this connection; ErrorCode() holds it
    CLOSED = 5,         // the socket was closed
    CONNECTED = 6,
    CONNECT_FAILED = 7,
};

// The notice a socket message carries.
inline TSocketNotice SocketNoticeOf(const TMessage& msg) {
    return static_cast<TSocketNotice>(msg.WParam);
}

// Large enough that a fast server on loopback is not throttled by one
// receive per loop round trip.
constexpr size_t ASYNC_BUFFER_SIZE = 256 * 1024;
constexpr int ASYNC_RECEIVE_TIMEOUT_MS = 120 * 1000;

class TAsyncSocket {
  public:
    TAsyncSocket();
    // Stops and joins both threads; nothing is posted after it returns.
    ~TAsyncSocket();
    TAsyncSocket(const TAsyncSocket&) = delete;
    TAsyncSocket& operator=(const TAsyncSocket&) = delete;

    void SetNotify(TEventLoop* loop, TMessageTarget* target, uint32_t msg);
    // Always 0: the outcome arrives as messages.
    int RequestConnect(const char* host);
    void Close();
    int SendData(const char* buffer, size_t length);
    // Takes up to n waiting bytes. Returns the recorded error once there is
    // one, SOCKET_RECV_BUFFER_EMPTY when nothing waits.
    int ReadBytes(char* buffer, size_t n, size_t* count);

    TKVSocket& Socket() { return *Sock; }
    bool IsConnected() const;
    // The owner accepts a new connection with true; that starts receiving.
    void SetConnected(bool connected);
    int ErrorCode() const;
    void SetReceiveTimeoutMs(int ms);

  private:
    void ReceiveThread();
    void ConnectThread();
    void RecordError(int status);
    void Notify(TSocketNotice notice);

    std::unique_ptr<TKVSocket> Sock;
    mutable std::mutex Lock;  // error code, buffer fields, idle flags, permits
    std::condition_variable Changed;
    int Error = 0;
    bool ConnectIdle = false;
    bool ReceiveIdle = false;
    int ConnectRequests = 0;
    int ReceivePermits = 0;
    bool Stopping = false;
    bool Connected = false;
    bool AwaitingAccept = false;  // connected; the first receive waits for the owner
    int ReceiveTimeoutMs = ASYNC_RECEIVE_TIMEOUT_MS;
    std::mutex NotifyLock;
    TEventLoop* NotifyLoop = nullptr;
    TMessageTarget* NotifyTarget = nullptr;
    uint32_t NotifyMsg = 0;
    std::string Host;
    std::unique_ptr<char[]> Buffer;
    size_t Available = 0;
    size_t Cursor = 0;
    std::thread Receiver;
    std::thread Connector;
};

}  // namespace zorvex
