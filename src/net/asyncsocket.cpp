#include "net/asyncsocket.h"

#include <cstring>

#include "library/eventloop.h"

namespace zorvex {

TAsyncSocket::TAsyncSocket()
    : Sock(std::make_unique<TKVSocket>()), Buffer(new char[ASYNC_BUFFER_SIZE]) {
    Receiver = std::thread([this] { ReceiveThread(); });
    Connector = std::thread([this] { ConnectThread(); });
}

TAsyncSocket::~TAsyncSocket() {
    SetNotify(nullptr, nullptr, 0);
    {
        std::lock_guard<std::mutex> guard(Lock);
        Stopping = true;
        Connected = false;
    }
    Changed.notify_all();
    Sock->Close();  // wakes a receive blocked on the socket
    Receiver.join();
    Connector.join();
}

void TAsyncSocket::SetNotify(TEventLoop* loop, TMessageTarget* target, uint32_t msg) {
    {
        std::lock_guard<std::mutex> guard(NotifyLock);
        NotifyLoop = loop;
        NotifyTarget = target;
        NotifyMsg = msg;
    }
    Sock->SetCloseNotice(loop, target, msg, static_cast<uintptr_t>(TSocketNotice::CLOSED), 0);
}

void TAsyncSocket::Notify(TSocketNotice notice) {
    std::lock_guard<std::mutex> guard(NotifyLock);
    if (NotifyLoop && NotifyTarget)
        NotifyLoop->Post(NotifyTarget, NotifyMsg, static_cast<uintptr_t>(notice), 0);
}

bool TAsyncSocket::IsConnected() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Connected;
}

void TAsyncSocket::SetConnected(bool connected) {
    bool start = false;
    {
        std::lock_guard<std::mutex> guard(Lock);
        Connected = connected;
        if (connected && AwaitingAccept) {
            ++ReceivePermits;
            start = true;
        }
        AwaitingAccept = false;
    }
    if (start) Changed.notify_all();
}

int TAsyncSocket::ErrorCode() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Error;
}

void TAsyncSocket::SetReceiveTimeoutMs(int ms) {
    {
        std::lock_guard<std::mutex> guard(Lock);
        ReceiveTimeoutMs = ms;
    }
    // A secure receive waits again after a record without data.
    Sock->SetReceiveWaitMs(ms);
}

int TAsyncSocket::RequestConnect(const char* host) {
    SetConnected(false);
    Sock->Close();
    std::unique_lock<std::mutex> guard(Lock);
    // A new request never overlaps a running receive or connect.
    Changed.wait(guard, [this] { return Stopping || (ConnectIdle && ReceiveIdle); });
    ReceivePermits = 0;
    AwaitingAccept = false;
    Error = 0;
    Available = 0;
    Cursor = 0;
    Host = host ? host : "";
    ++ConnectRequests;
    guard.unlock();
    Changed.notify_all();
    return 0;
}

void TAsyncSocket::Close() {
    SetConnected(false);
    Sock->Close();
}

int TAsyncSocket::SendData(const char* buffer, size_t length) {
    return Sock->Send(buffer, length, 0);
}

int TAsyncSocket::ReadBytes(char* buffer, size_t n, size_t* count) {
    bool emptied = false;
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (count) *count = 0;
        if (Error != 0) return Error;
        if (Available == 0) return SOCKET_RECV_BUFFER_EMPTY;
        size_t take = n < Available ? n : Available;
        std::memcpy(buffer, Buffer.get() + Cursor, take);
        Cursor += take;
        Available -= take;
        if (count) *count = take;
        if (Available == 0) {
            ++ReceivePermits;
            emptied = true;
        }
    }
    if (emptied) Changed.notify_all();
    return SOCKET_OK;
}

void TAsyncSocket::RecordError(int status) {
    bool first = false;
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (Error == 0) {
            Error = status;
            first = true;
        }
    }
    Sock->Close();
    Notify(first ? TSocketNotice::FIRST_ERROR : TSocketNotice::LATER_ERROR);
}

void TAsyncSocket::ReceiveThread() {
    for (;;) {
        int timeoutMs;
        {
            std::unique_lock<std::mutex> guard(Lock);
            ReceiveIdle = true;
            Changed.notify_all();
            Changed.wait(guard, [this] { return Stopping || ReceivePermits > 0; });
            if (Stopping) return;
            --ReceivePermits;
            ReceiveIdle = false;
            timeoutMs = ReceiveTimeoutMs;
        }
        int status = SOCKET_HAD_TIMEOUT;
        if (Sock->WaitReadable(timeoutMs)) {
            size_t count = 0;
            status = Sock->Receive(Buffer.get(), ASYNC_BUFFER_SIZE, 0, &count);
            if (status == SOCKET_OK) {
                {
                    std::lock_guard<std::mutex> guard(Lock);
                    Available = count;
                    Cursor = 0;
                }
                Notify(TSocketNotice::RECEIVED);
                continue;
            }
        }
        // After the owner's own Close the failing receive is no error.
        if (IsConnected()) RecordError(status);
        Notify(TSocketNotice::RECEIVED);
    }
}

void TAsyncSocket::ConnectThread() {
    for (;;) {
        std::string host;
        {
            std::unique_lock<std::mutex> guard(Lock);
            ConnectIdle = true;
            Changed.notify_all();
            Changed.wait(guard, [this] { return Stopping || ConnectRequests > 0; });
            if (Stopping) return;
            --ConnectRequests;
            ConnectIdle = false;
            host = Host;
        }
        int status = Sock->OpenAndConnect(host.c_str());
        if (status != SOCKET_OK) {
            RecordError(status);
            Notify(TSocketNotice::CONNECT_FAILED);
            Notify(TSocketNotice::CONNECT_ENDED);
            continue;
        }
        {
            // Receiving starts when the owner accepts the connection: bytes or
            // a close announced before that would be ignored and never
            // announced again.
            std::lock_guard<std::mutex> guard(Lock);
            Available = 0;
            Cursor = 0;
            AwaitingAccept = true;
        }
        Notify(TSocketNotice::CONNECTED);
        Notify(TSocketNotice::CONNECT_ENDED);
    }
}

}  // namespace zorvex
