// TNewsIo: the NNTP client. Drives one connection from the greeting to the
// end of the group walk: sends every command, splits the worker's bytes into
// lines, keeps the protocol state, loads headers into the store, walks each
// group's articles and hands every article line to its owner. Everything
// that depends on settings or on what becomes of an article is asked of the
// owner through the virtual operations below, in their fixed slot order.
// Its work is in three files: the connection and logon (newsio.cpp), header
// loading (headerload.cpp) and the article walk (articlewalk.cpp). Runs on
// the loop thread.
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
constexpr const char* NTLM_COMMAND = "AUTHINFO GENERIC";

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

// What a group walk is doing; the header steps' numbers up to XOVER are the
// store's field codes (THeaderField). The steps after XOVER fill in line
// counts the "xhdr lines" answer left out.
enum class TNewsState : int {
    IDLE = 0,
    XHDR_SUBJECT = 1,
    XHDR_FROM = 2,
    XHDR_DATE = 3,
    ARTICLES = 4,
    ALL_DONE = 5,
    LOGGED_ON = 6,
    XHDR_LINES = 7,
    XHDR_XREF = 8,
    NEWSRC = 9,
    XHDR_HOST = 10,
    CONNECTING = 11,
    XOVER = 12,
    LINES_CAPABILITIES = 13,  // is HDR offered?
    LINES_OVERVIEW_FMT = 14,  // is :lines in the overview?
    META_LINES = 15,          // the :lines metadata
};

// How this connection gets the server's own line counts: unknown until
// asked, then HDR or XHDR of ":lines", or none.
enum class TMetaLines : int { UNASKED, HDR, XHDR, NONE };

class TNewsIo {
  public:
    explicit TNewsIo(TNewsStore& store = TNewsStore::Global());
    virtual ~TNewsIo();
    TNewsIo(const TNewsIo&) = delete;
    TNewsIo& operator=(const TNewsIo&) = delete;

    // ---- what the owner answers, in slot order ----
    // Each comes from the settings or the acceptance checks; none has a
    // default, so an owner that forgets one does not compile.
    virtual bool UseXover() = 0;
    virtual bool MaintainNewsrc() = 0;
    virtual bool AuthAtLogon() = 0;
    virtual bool LoadXrefHeaders() = 0;
    virtual int MaxXref() = 0;
    virtual bool LoadPostingHostHeaders() = 0;
    virtual bool FollowPoster() = 0;
    virtual bool UseSsl() = 0;
    // How a secure connection checks the server's certificate.
    virtual TTlsOptions TlsOptions() = 0;
    virtual void Log(const char* text) = 0;
    virtual void ReportError(const char* where, int code, bool fatal) = 0;
    virtual void BodyLine(const char* line, int length) = 0;
    virtual void HeaderLine(const char* line, int length) = 0;
    virtual void Connected() = 0;
    virtual void Disconnected() = 0;
    virtual void ConnectionLost(int code) = 0;
    virtual void UnexpectedArticle() = 0;
    // Articles outside these line counts are rejected before they are
    // asked for; a negative bound is off.
    virtual int MinLines() = 0;
    virtual int MaxLines() = 0;
    // A rejected header: the owner marks it (MarkRejected) and reports it.
    virtual void RejectDupeSubject(THeader* header) = 0;
    virtual void RejectTooSmall(THeader* header) = 0;
    virtual void RejectTooLong(THeader* header) = 0;
    virtual void RejectMarked(THeader* header) = 0;
    virtual void GroupChanged() = 0;
    virtual void ExpectCount(long count) = 0;
    virtual const char* AuthName() = 0;
    virtual const char* AuthPassword() = 0;
    virtual bool UseSpa() = 0;
    virtual void OnArticleHeaderEnd() = 0;

    // ---- the client's own steps; an owner that extends one calls it ----
    // True when the walk passes the header (handled or rejected now).
    virtual bool CheckHeader(THeader* header);
    virtual void RequestArticle();
    virtual void StartGroupWalk();
    virtual void AllGroupsDone() { State = TNewsState::ALL_DONE; }
    virtual void OnGroupSelected();
    virtual void OnArticleFollows();
    virtual void OnArticleEnd() { ChooseNextArticle(); }
    virtual void OnNoSuchArticle() { ChooseNextArticle(); }

    // ---- what the owner calls ----
    void SetServer(const char* server);
    const char* Server() const { return ServerName.c_str(); }
    // The worker's notices reach window on loop as message number notice;
    // false on an immediate failure.
    bool ConnectToServer(TEventLoop* loop, TMessageTarget* window, uint32_t notice);
    // For every notice of the worker. Returns the bytes taken from the
    // worker (0 for other notices).
    int HandleSocketNotice(TSocketNotice what);
    void Disconnect();
    void SendCommand(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void SelectGroup(int index);
    void SelectNextGroup();
    void ClearDoneFlags();
    // Runs a change of the group table (a group command). Its records move,
    // so the walk's current group and a pending switch are found again by
    // name afterwards; a group that is gone is no longer current.
    void ChangeGroupTable(const std::function<void()>& change);

    // ---- commands to the walk ----
    // The walk leaves the current group after the article being fetched.
    void EndGroup() { TerminateGroupFlag = true; }
    // The walk goes on with group index after the article being fetched.
    void JumpToGroup(int index);
    // The run ends after the article being fetched; exitAfter asks for the
    // automatic exit too.
    void StopAfterArticle(bool exitAfter);

    void SetDiagnostics(TDiagnosticSink* sink);
    void SetNtlm(TNtlmBuilder* builder);
    void SetNewsrc(TNewsrcKeeper* keeper);

    TAsyncSocket& Worker() { return *Socket; }
    TNewsStore& Store() { return Headers; }
    TNewsState GetState() const { return State; }
    const char* LastCommand() const { return LastCommandText; }
    const char* LastResponse() const { return LastResponseText; }
    const char* MessageId() const { return MessageIdText; }
    const TSampleQueue& LatencySamples() const { return Latency; }
    const TSampleQueue& RateSamples() const { return Rate; }
    // The group being walked and the article being fetched (null: none).
    TNewsGroup* CurrentGroup() const { return CurGroup; }
    THeader* CurrentArticle() const { return CurMsg; }
    // Body lines of the article so far, or lines of the header listing.
    int LinesReceived() const { return LineCount; }
    // The group the walk jumps to next (-1: none) and whether it leaves the
    // current one after this article.
    int PendingGroup() const { return NextGroupOverride; }
    bool GroupEndRequested() const { return TerminateGroupFlag; }
    bool StopRequested() const { return StopFlag; }

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
    // Where the group's pointer ends when its walk is done: its last
    // article, or below the first one the store could not hold.
    static TArticleNo WalkEnd(const TNewsGroup* group);
    // The article that continues header's file: its post's next part, or
    // without a part counter the poster's next article.
    static THeader* FollowTarget(const THeader* header);
    // A further copy of a part already dealt with is marked handled with a
    // status line; true when it was.
    bool SkipRepeatedPart(THeader* header);
    // The last of the header checks: the mark set by hand, then the line
    // limits. True when the header is rejected.
    bool CheckMarkAndLines(THeader* header);
    // Picks and requests the next article of the walk, or moves on.
    void ChooseNextArticle();
    // Whether the poster's next article comes next (the driver's answer at
    // the end of an article).
    void SetFollowPoster(bool follow) { FollowPosterFlag = follow; }
    // The article the walk goes on from; a cut article is forgotten.
    void SetCurrentArticle(THeader* header) { CurMsg = header; }
    // Ends a stop request; returns whether the automatic exit was asked.
    bool TakeStopRequest();

    TNewsState State = TNewsState::IDLE;

  private:
    // ---- connection and logon (newsio.cpp) ----
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
    // ---- header loading (headerload.cpp) ----
    void RequestHeaderRange();
    // Narrows the range to the newest articles the store can still hold and
    // says how many older ones are passed over; false when none fit.
    bool PassOverOldest(TNewsGroup* group);
    void RequestRange(const char* command, TNewsState state);
    void HeaderDataLine(char* line);
    void HeaderStepEnded();
    void CrossPostStep();
    void PostingHostStep();
    void LineCountStep();
    void LineProbeEnded();
    void RequestMetaLines();
    // The lowest and highest article of the range that holds no line count;
    // false when every one has its count.
    bool FindUncountedSpan(TArticleNo* first, TArticleNo* last) const;
    // ---- the article walk (articlewalk.cpp) ----
    void SortAndWalk();
    void AdvanceCursor();
    void ArticleDataLine(char* line, int length);

    TNewsStore& Headers;
    std::unique_ptr<TAsyncSocket> Socket;
    TDiagnosticSink* Diagnostics;
    TNtlmBuilder* Ntlm;
    TNewsrcKeeper* Newsrc;
    TEventLoop* NotifyLoop = nullptr;
    TMessageTarget* NotifyWindow = nullptr;

    TNewsGroup* CurGroup = nullptr;
    THeader* CurMsg = nullptr;
    int NextGroupOverride = -1;
    bool FollowPosterFlag = false;
    bool TerminateGroupFlag = false;
    bool StopFlag = false;
    bool ExitAfterStopFlag = false;
    int LineCount = 0;

    TNewsGroup* ResumeGroup = nullptr;
    THeader* ResumeAfter = nullptr;
    bool MultiLine = false;
    bool DiscardResponse = false;  // an unasked-for multi-line response
    int SubjectLines = 0;
    int LineLength = 0;
    bool ModeReaderSent = false;
    bool Started = false;
    bool AuthTried = false;
    int LineCursor = 0;
    char PendingCommand[NNTP_COMMAND_MAX] = {};
    char LastCommandText[NNTP_COMMAND_MAX] = {};
    std::string LastCommandShown;  // as logged: credentials masked
    std::unique_ptr<char[]> CommLineIn;
    char LastResponseText[NNTP_COMMAND_MAX] = {};
    TNewsGroup* LastAnnouncedGroup = nullptr;
    THeader* WalkCursor = nullptr;
    bool InBody = false;
    std::string ServerName;
    char MessageIdText[256] = {};
    TArticleNo RangeFirst = 0;
    TArticleNo RangeLast = 0;
    TMetaLines MetaLines = TMetaLines::UNASKED;  // per connection
    bool ProbeFound = false;
    TArticleNo MetaFirst = 0;
    TArticleNo MetaLast = 0;
    int AuthRetries = 0;
    int NtlmStep = 0;
    uint64_t CommandTime = 0;
    bool LatencyPending = false;
    TSampleQueue Latency;
    uint64_t RateStart = 0;
    uint64_t RateBytes = 0;
    bool RateMeasuring = false;
    TSampleQueue Rate;
    // Bytes taken from the worker and not yet split into lines.
    std::unique_ptr<char[]> Chunk;
    size_t ChunkPos = 0;
    size_t ChunkLen = 0;
    size_t BytesTaken = 0;
};

}  // namespace zorvex
