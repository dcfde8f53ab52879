#include "support/scripted_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace zorvex::test {

std::string Lines(std::initializer_list<std::string> lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

TScriptedServer::TScriptedServer() {
    if (!Listener.Ok) throw std::runtime_error("no loopback listener");
}

TScriptedServer::~TScriptedServer() {
    Stopping = true;
    if (Worker.joinable()) Worker.join();
}

std::string TScriptedServer::HostString() const {
    return Listener.HostString();
}

void TScriptedServer::Serve(TStep greeting, std::vector<TStep> steps) {
    ServeSessions({TSession{std::move(greeting), std::move(steps)}});
}

void TScriptedServer::ServeSessions(std::vector<TSession> sessions) {
    Worker = std::thread([this, sessions = std::move(sessions)] { Run(sessions); });
}

std::vector<std::string> TScriptedServer::Received() {
    std::lock_guard<std::mutex> guard(Lock);
    return Lines;
}

bool TScriptedServer::SawCommand(const std::string& prefix) {
    std::lock_guard<std::mutex> guard(Lock);
    for (const auto& l : Lines)
        if (l.rfind(prefix, 0) == 0) return true;
    return false;
}

bool TScriptedServer::WaitClientClosed(int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!ClientClosed && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return ClientClosed;
}

void TScriptedServer::SendStep(int fd, const TStep& step) {
    std::string bytes;
    if (step.Raw) {
        bytes = step.Reply;
    } else {
        for (char c : step.Reply) {
            if (c == '\n') bytes += '\r';
            bytes += c;
        }
    }
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return;
        off += static_cast<size_t>(n);
    }
}

void TScriptedServer::Run(std::vector<TSession> sessions) {
    for (const TSession& session : sessions) {
        int fd = -1;
        while (!Stopping) {
            pollfd p{Listener.Fd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                fd = Listener.Accept();
                break;
            }
        }
        if (fd < 0) return;
        ++AcceptedCount;
        RunSession(fd, session);
        ::close(fd);
    }
}

void TScriptedServer::RunSession(int fd, const TSession& session) {
    SendStep(fd, session.Greeting);
    bool open = !session.Greeting.CloseAfter;
    size_t next = 0;
    std::string pending;
    char buf[4096];
    while (open && !Stopping) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            ClientClosed = true;
            break;
        }
        pending.append(buf, static_cast<size_t>(n));
        size_t nl;
        while (open && (nl = pending.find("\r\n")) != std::string::npos) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 2);
            {
                std::lock_guard<std::mutex> guard(Lock);
                Lines.push_back(line);
            }
            if (next < session.Steps.size()) {
                const TStep& step = session.Steps[next++];
                SendStep(fd, step);
                if (step.CloseAfter) open = false;
            }
        }
    }
}

}  // namespace zorvex::test
