// A scripted NNTP server on 127.0.0.1 for exact protocol cases: sends the
// greeting, then for each step reads one command line, records it and sends
// the step's reply. Tests assert both what the client sent and what it did.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback.h"

namespace zorvex::test {

struct TStep {
    std::string Reply;        // '\n' become CRLF unless Raw
    bool Raw = false;         // send the bytes exactly as given
    bool CloseAfter = false;  // close the connection after the reply
};

class TScriptedServer {
  public:
    TScriptedServer();
    ~TScriptedServer();

    int Port() const { return Listener.Port; }
    std::string HostString() const;
    // Starts serving one connection: the greeting, then one step per command.
    // Commands beyond the script are recorded and get no answer.
    void Serve(TStep greeting, std::vector<TStep> steps);
    // Serves connections one after another, one script each: a session ends
    // when its connection closes (either side), and the next connection
    // gets the next script. Connections beyond them are not accepted.
    struct TSession {
        TStep Greeting;
        std::vector<TStep> Steps;
    };
    void ServeSessions(std::vector<TSession> sessions);
    // Connections accepted so far.
    int Accepted() const { return AcceptedCount; }
    // Every command line received so far, without CR LF.
    std::vector<std::string> Received();
    bool SawCommand(const std::string& prefix);
    // Blocks until the client closed its side or the limit passed.
    bool WaitClientClosed(int ms);

  private:
    void Run(std::vector<TSession> sessions);
    void RunSession(int fd, const TSession& session);
    static void SendStep(int fd, const TStep& step);

    TLoopbackListener Listener;
    std::thread Worker;
    std::mutex Lock;
    std::vector<std::string> Lines;
    std::atomic<bool> ClientClosed{false};
    std::atomic<bool> Stopping{false};
    std::atomic<int> AcceptedCount{0};
};

// Reply lines joined with '\n'.
std::string Lines(std::initializer_list<std::string> lines);

}  // namespace zorvex::test
