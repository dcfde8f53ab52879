// TNewsIo: the NNTP client. Drives one connection from the greeting to the
// end of the group walk: sends every command, splits the worker's bytes into
// lines, keeps the protocol state, loads headers into the store, walks each
// group's articles and hands every article line to its owner. Everything
// that depends on settings or on what becomes of an article is asked of the
// owner through the virtual operations below, in their fixed slot order;
// their defaults let the engine run on its own. Runs on the loop thread.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "net/asyncsocket.h"
#include "nntp/newsstore.h"

namespace zorvex {

class TDiagnosticSink;
class TEventLoop;
class TMessageTarget;
class TNewsrcKeeper;
class TNtlmBuilder;

constexpr int MAXCOMMLINE = 16384;
constexpr size_t NNTP_COMMAND_MAX = 1024;
constexpr size_t NNTP_SERVER_MAX = 255;
constexpr int NNTP_SPA_AUTH_RETRIES = 10;
constexpr size_t SAMPLE_QUEUE_CAPACITY = 256;
constexpr int RATE_WINDOW_MS = 2500;
constexpr const char* SERVER_READY_MARKER = "SERVER_READY_MARKER";

enum TNewsState : int {
    NS_IDLE = 0,
    NS_XHDR_SUBJECT = 1,
    NS_XHDR_FROM = 2,
    NS_XHDR_DATE = 3,
    NS_ARTICLES = 4,
    NS_ALL_DONE = 5,
    NS_LOGGED_ON = 6,
    NS_XHDR_LINES = 7,
    NS_XHDR_XREF = 8,
    NS_NEWSRC = 9,
    NS_XHDR_HOST = 10,
    NS_CONNECTING = 11,
    NS_XOVER = 12,
};

// Keeps the newest 256 values for the latency and throughput displays.
class TSampleQueue {
  public:
    void Add(uint32_t value) {
        if (Values.size() == SAMPLE_QUEUE_CAPACITY) Values.pop_front();
        Values.push_back(value);
    }
    const std::deque<uint32_t>& Samples() const { return Values; }

  private:
    std::deque<uint32_t> Values;
};

class TNewsIo {
  public:
    explicit TNewsIo(TNewsStore& store = TNewsStore::Global());
    virtual ~TNewsIo();
    TNewsIo(const TNewsIo&) = delete;
    TNewsIo& operator=(const TNewsIo&) = delete;

    // ---- the owner's operations, in slot order ----
    virtual int UseXover() { return 0; }
    virtual int MaintainNewsrc() { return 0; }
    virtual int AuthAtLogon() { return 0; }
    virtual int LoadXrefHeaders() { return 0; }
    virtual int MaxXref() { return 100; }
    virtual int LoadPostingHostHeaders() { return 0; }
    virtual int FollowPoster() { return 1; }
    virtual int UseSsl() { return 0; }
    virtual void Log(const char* text) { (void)text; }
    virtual void ReportError(const char* where, int code, int fatal) {
        (void)where, (void)code, (void)fatal;
    }
    virtual void BodyLine(const char* line, int length) { (void)line, (void)length; }
    virtual void HeaderLine(const char* line, int length) { (void)line, (void)length; }
    virtual void Connected() {}
    virtual void Disconnected() {}
    virtual void ConnectionLost(int code) { (void)code; }
    virtual void UnexpectedArticle() {}
    virtual int MinLines() { return 0; }
    virtual int MaxLines() { return 16384; }
    // The rejects mark the header handled and requested; owners add their tag.
    virtual void RejectDupeSubject(THeader* header) { MarkRejected(header); }
    virtual void RejectTooSmall(THeader* header) { MarkRejected(header); }
    virtual void RejectTooLong(THeader* header) { MarkRejected(header); }
    virtual void RejectMarked(THeader* header) { MarkRejected(header); }
    virtual void GroupChanged() {}
    virtual int CheckHeader(THeader* header);
    virtual void RequestArticle();
    virtual void StartGroupWalk();
    virtual void AllGroupsDone() { State = NS_ALL_DONE; }
    virtual void ExpectCount(long count) { (void)count; }
    virtual const char* AuthName() { return nullptr; }
    virtual const char* AuthPassword() { return nullptr; }
    virtual int UseSpa() { return 0; }
    virtual void OnGroupSelected();
    virtual void OnArticleFollows();
    virtual void OnArticleEnd() { ChooseNextArticle(); }
    virtual void OnArticleHeaderEnd() {}
    virtual void OnNoSuchArticle() { ChooseNextArticle(); }

    // ---- what the owner calls ----
    void SetServer(const char* server);
    const char* Server() const { return ServerName.c_str(); }
    // 1 when the request went to the worker, 0 on an immediate failure.
    int ConnectToServer(TEventLoop* loop, TMessageTarget* window);
    // For every socket message the worker posts; wparam is its code.
    // Returns the bytes taken from the worker (0 for other messages).
    int HandleSocketMessage(uintptr_t what);
    void Disconnect();
    void SendCommand(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void SelectGroup(int index);
    void SelectNextGroup();
    void ClearDoneFlags();
    // Runs a change of the group table (a group command). Its records move,
    // so the walk's current group and a pending switch are found again by
    // name afterwards; a group that is gone is no longer current.
    void ChangeGroupTable(const std::function<void()>& change);

    void SetDiagnostics(TDiagnosticSink* sink);
    void SetNtlm(TNtlmBuilder* builder);
    void SetNewsrc(TNewsrcKeeper* keeper);

    TAsyncSocket& Worker() { return *Socket; }
    TNewsStore& Store() { return Headers; }
    int GetState() const { return State; }
    const char* LastCommand() const { return LastCommandText; }
    const char* LastResponse() const { return LastResponseText; }
    const char* MessageId() const { return MessageIdText; }
    const TSampleQueue& LatencySamples() const { return Latency; }
    const TSampleQueue& RateSamples() const { return Rate; }

    // Fields the owner reads and writes directly.
    TNewsGroup* CurGroup = nullptr;
    THeader* CurMsg = nullptr;
    int NextGroupOverride = -1;
    int FollowPosterFlag = 0;
    int TerminateGroupFlag = 0;
    int StopFlag = 0;
    int ExitAfterStopFlag = 0;
    int LineCount = 0;

  protected:
    // After a reconnect into group, the walk goes on with the article that
    // follows header in its poster's chain, as if that article had just
    // ended: a file waiting for its next part must not lose it to another
    // article the cursor finds first.
    void ResumeWalkAfter(TNewsGroup* group, THeader* header) {
        ResumeGroup = group;
        ResumeAfter = header;
    }
    void LogF(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void MarkRejected(THeader* header) { header->Flags |= HEADER_HANDLED | HEADER_REQUESTED; }
    // Picks and requests the next article of the walk, or moves on.
    void ChooseNextArticle();

    int State = NS_IDLE;

  private:
    bool GetLine();
    // The bytes taken from the worker while splitting.
    size_t ProcessLines();
    void UpdateStatistics();
    void ConnectionEstablished();
    void Dispatch(int code);
    void DataLine(char* line, int length);
    void EndOfResponse();
    void UnhandledResponse();
    bool ContinueLogon();
    void BeginAuthentication();
    void NextAuthenticationStep();
    void AuthenticationAccepted();
    void AuthenticationRefused();
    void AskForCredentials(const char* what, const char* lastLine);
    // Logs the line as sent, or maskedLogText in its place when given.
    void SendLine(const char* line, const char* maskedLogText);
    void Diagnostic(const char* tag, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void StartNewsrcStep();
    void RequestHeaderRange();
    void RequestRange(const char* command, int state);
    void CrossPostStep();
    void PostingHostStep();
    void SortAndWalk();
    void AdvanceCursor();

    TNewsStore& Headers;
    std::unique_ptr<TAsyncSocket> Socket;
    TDiagnosticSink* Diagnostics;
    TNtlmBuilder* Ntlm;
    TNewsrcKeeper* Newsrc;
    TEventLoop* NotifyLoop = nullptr;
    TMessageTarget* NotifyWindow = nullptr;

    TNewsGroup* ResumeGroup = nullptr;
    THeader* ResumeAfter = nullptr;
    int MultiLine = 0;
    int DiscardResponse = 0;  // an unasked-for multi-line response
    int SubjectLines = 0;
    int LineLength = 0;
    int ModeReaderSent = 0;
    int Started = 0;
    int AuthTried = 0;
    int LineCursor = 0;
    char PendingCommand[NNTP_COMMAND_MAX] = {};
    char LastCommandText[NNTP_COMMAND_MAX] = {};
    std::string LastCommandShown;  // as logged: credentials masked
    std::unique_ptr<char[]> CommLineIn;
    char LastResponseText[NNTP_COMMAND_MAX] = {};
    TNewsGroup* LastAnnouncedGroup = nullptr;
    THeader* WalkCursor = nullptr;
    int InBody = 0;
    std::string ServerName;
    char MessageIdText[256] = {};
    TArticleNo RangeFirst = 0;
    TArticleNo RangeLast = 0;
    int AuthRetries = 0;
    int NtlmStep = 0;
    uint64_t CommandTime = 0;
    int LatencyPending = 0;
    TSampleQueue Latency;
    uint64_t RateStart = 0;
    uint64_t RateBytes = 0;
    int RateMeasuring = 0;
    TSampleQueue Rate;
    // Bytes taken from the worker and not yet split into lines.
    std::unique_ptr<char[]> Chunk;
    size_t ChunkPos = 0;
    size_t ChunkLen = 0;
    size_t BytesTaken = 0;
};

}  // namespace zorvex
