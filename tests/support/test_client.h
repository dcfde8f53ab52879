// A TNewsIo owner for tests: answers the settings hooks from plain fields,
// records every report, and runs the plain event loop until a condition.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/messages.h"
#include "library/eventloop.h"
#include "nntp/newsio.h"
#include "support/scripted_server.h"

namespace zorvex::test {

struct TReportedError {
    std::string Where;
    int Code;
    bool Fatal;
};

class TTestClient : public TNewsIo, public TMessageTarget {
  public:
    TTestClient(TNewsStore& store, TPlainEventLoop& loop) : TNewsIo(store), Loop(loop) {}

    // Settings answered by the hooks.
    bool Xover = false;
    bool AlwaysAuth = false;
    bool Spa = false;
    bool LoadXref = false;
    int MaxXrefValue = 100;
    bool LoadHost = false;
    bool FollowPosterValue = true;
    int MinLinesValue = 0;
    int MaxLinesValue = 16384;
    bool Newsrc = false;
    bool Ssl = false;
    TTlsOptions Tls;
    std::string Name, Password;
    // Called for each finished article, before the default moves on.
    std::function<void(TTestClient&)> AtArticleEnd;

    // What happened.
    std::vector<std::string> Logs;
    std::vector<TReportedError> Errors;
    std::vector<uintptr_t> SocketMessages;
    std::vector<std::string> HeaderLines, BodyLines;
    std::vector<TArticleNo> Requested;
    std::vector<std::pair<std::string, TArticleNo>> RequestedIn;  // group, number
    std::vector<long> Expected;
    int AllDone = 0, Unexpected = 0, ConnectedCount = 0, DisconnectedCount = 0;
    std::vector<int> Lost;

    void OnMessage(const TMessage& msg) override {
        if (msg.Msg != MSG_SOCKET) return;
        SocketMessages.push_back(msg.WParam);
        HandleSocketNotice(SocketNoticeOf(msg));
    }

    bool UseXover() override { return Xover; }
    bool MaintainNewsrc() override { return Newsrc; }
    bool AuthAtLogon() override { return AlwaysAuth; }
    bool LoadXrefHeaders() override { return LoadXref; }
    int MaxXref() override { return MaxXrefValue; }
    bool LoadPostingHostHeaders() override { return LoadHost; }
    bool FollowPoster() override { return FollowPosterValue; }
    bool UseSsl() override { return Ssl; }
    TTlsOptions TlsOptions() override { return Tls; }
    bool UseSpa() override { return Spa; }
    int MinLines() override { return MinLinesValue; }
    int MaxLines() override { return MaxLinesValue; }
    const char* AuthName() override { return Name.c_str(); }
    const char* AuthPassword() override { return Password.c_str(); }
    void Log(const char* text) override { Logs.emplace_back(text); }
    void ReportError(const char* where, int code, bool fatal) override {
        Errors.push_back({where, code, fatal});
    }
    void HeaderLine(const char* line, int length) override {
        HeaderLines.emplace_back(line, length);
    }
    void BodyLine(const char* line, int length) override { BodyLines.emplace_back(line, length); }
    void Connected() override { ++ConnectedCount; }
    void Disconnected() override { ++DisconnectedCount; }
    void ConnectionLost(int code) override { Lost.push_back(code); }
    void UnexpectedArticle() override { ++Unexpected; }
    void RejectDupeSubject(THeader* header) override { MarkRejected(header); }
    void RejectTooSmall(THeader* header) override { MarkRejected(header); }
    void RejectTooLong(THeader* header) override { MarkRejected(header); }
    void RejectMarked(THeader* header) override { MarkRejected(header); }
    void GroupChanged() override {}
    void OnArticleHeaderEnd() override {}
    void AllGroupsDone() override {
        ++AllDone;
        TNewsIo::AllGroupsDone();
    }
    void ExpectCount(long count) override { Expected.push_back(count); }
    void RequestArticle() override {
        if (const THeader* article = CurrentArticle()) {
            Requested.push_back(article->Number);
            RequestedIn.emplace_back(CurrentGroup()->Name, article->Number);
        }
        TNewsIo::RequestArticle();
    }
    void OnArticleEnd() override {
        if (AtArticleEnd) AtArticleEnd(*this);
        TNewsIo::OnArticleEnd();
    }

    bool Run(const std::function<bool()>& until, int ms = 5000) {
        return Loop.RunUntil(until, std::chrono::milliseconds(ms));
    }
    bool Connect(const std::string& host) {
        SetServer(host.c_str());
        return ConnectToServer(&Loop, this, MSG_SOCKET);
    }
    // What the driver would answer at the end of an article.
    void FollowPosterNext(bool follow) { SetFollowPoster(follow); }
    bool Logged(const std::string& text) const {
        return std::find(Logs.begin(), Logs.end(), text) != Logs.end();
    }
    bool LoggedPrefix(const std::string& prefix) const {
        return std::any_of(Logs.begin(), Logs.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }

    TPlainEventLoop& Loop;  // outlives the client: the worker posts to it until joined
};

// Lets the last commands and replies arrive (the server's record must stay
// unchanged for a while), then gives what the server saw.
inline std::vector<std::string> SettledCommands(TTestClient& client, TScriptedServer& server) {
    std::vector<std::string> seen = server.Received();
    for (int quiet = 0, round = 0; quiet < 3 && round < 40; ++round) {
        client.Run([] { return false; }, 50);
        std::vector<std::string> now = server.Received();
        quiet = now == seen ? quiet + 1 : 0;
        seen = std::move(now);
    }
    return seen;
}

}  // namespace zorvex::test
