#include "nntp/newsio.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/messages.h"
#include "library/diagsink.h"
#include "library/eventloop.h"
#include "library/strman.h"
#include "net/ntlm.h"
#include "nntp/newsrc.h"

namespace zorvex {

namespace {

uint64_t TickMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool StartsWithNoCase(const char* text, const char* prefix) {
    return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

bool HasEntries(TStringManager* list) {
    return list && list->Count() > 0;
}

bool IsEmpty(const char* text) {
    return !text || !*text;
}

void CopyCut(char* dst, size_t size, const char* src) {
    std::snprintf(dst, size, "%s", src ? src : "");
}

// The leading decimal response code; 0 when the line has none.
int ResponseCode(const char* line) {
    while (*line == ' ' || *line == '\t') ++line;
    int code = 0;
    for (int digits = 0; *line >= '0' && *line <= '9' && digits < 9; ++digits)
        code = code * 10 + (*line++ - '0');
    return code;
}

// Reads one decimal number after white space. Article numbers are never
// negative and stay far from overflow: a hostile server's digits are clamped.
bool ReadArticleNumber(const char** text, TArticleNo* value) {
    const char* p = *text;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    if (*p < '0' || *p > '9') return false;
    TArticleNo v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) v = ClampedDigit(v, *p);
    *value = negative ? 0 : v;
    *text = p;
    return true;
}

}  // namespace

TNewsIo::TNewsIo(TNewsStore& store)
    : Headers(store),
      Socket(std::make_unique<TAsyncSocket>()),
      Diagnostics(&TDiagnosticsDiscarded::Instance()),
      Ntlm(&TNtlmUnavailable::Instance()),
      Newsrc(&TNewsrcNotKept::Instance()),
      CommLineIn(new char[MAXCOMMLINE + 1]),
      Chunk(new char[ASYNC_BUFFER_SIZE]) {
    CommLineIn[0] = '\0';
}

TNewsIo::~TNewsIo() {
    Socket.reset();  // joins the worker's threads: nothing is posted after this
    if (NotifyLoop && NotifyWindow) NotifyLoop->Detach(NotifyWindow);
}

void TNewsIo::SetDiagnostics(TDiagnosticSink* sink) {
    Diagnostics = sink ? sink : &TDiagnosticsDiscarded::Instance();
}
void TNewsIo::SetNtlm(TNtlmBuilder* builder) {
    Ntlm = builder ? builder : &TNtlmUnavailable::Instance();
}
void TNewsIo::SetNewsrc(TNewsrcKeeper* keeper) {
    Newsrc = keeper ? keeper : &TNewsrcNotKept::Instance();
}

void TNewsIo::SetServer(const char* server) {
    ServerName.assign(server ? server : "");
    if (ServerName.size() > NNTP_SERVER_MAX) ServerName.resize(NNTP_SERVER_MAX);
}

void TNewsIo::LogF(const char* format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Log(text);
}

void TNewsIo::Diagnostic(const char* tag, const char* format, ...) {
    if (!Diagnostics->Enabled()) return;
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Diagnostics->Write(tag, text);
}

// ---- connection ----

int TNewsIo::ConnectToServer(TEventLoop* loop, TMessageTarget* window) {
    LastResponseText[0] = '\0';
    LastCommandText[0] = '\0';
    NotifyLoop = loop;
    NotifyWindow = window;
    Socket->SetNotify(loop, window, MSG_SOCKET);
    Socket->Socket().SetSecure(UseSsl());
    State = NS_CONNECTING;
    LogF(UseSsl() ? "Connecting [secure] to %s" : "Connecting to %s", ServerName.c_str());
    int status = Socket->RequestConnect(ServerName.c_str());
    if (status != 0) {
        ReportError("connect", status, 1);
        State = NS_IDLE;
        return 0;
    }
    return 1;
}

int TNewsIo::HandleSocketMessage(uintptr_t what) {
    Diagnostic("state", "handlesocketmessage what=%d", static_cast<int>(what));
    switch (what) {
        case ASYNC_RECEIVED:
            if (Socket->IsConnected()) {
                size_t taken = ProcessLines();
                return taken > INT32_MAX ? INT32_MAX : static_cast<int>(taken);
            }
            break;
        case ASYNC_CONNECT_ENDED:
            if (Socket->ErrorCode() != 0)
                Log("Error during connection");
            else if (Socket->IsConnected())
                Log("Error (?) connection already open");
            else
                ConnectionEstablished();
            break;
        case ASYNC_LATER_ERROR:
            ReportError("async error", Socket->ErrorCode(), 0);
            break;
        case ASYNC_FIRST_ERROR:
            ReportError("async error", Socket->ErrorCode(), 1);
            ConnectionLost(Socket->ErrorCode());
            break;
        default:
            break;
    }
    return 0;
}

void TNewsIo::ConnectionEstablished() {
    Socket->SetConnected(true);
    LineCursor = 0;
    ChunkPos = ChunkLen = 0;
    LogF("Connection established on port %d.", Socket->Socket().Port());
    if (Socket->Socket().HasSslSession()) Log("Connection is Secure/Encrypted");
    MultiLine = 0;
    DiscardResponse = 0;
    LatencyPending = 0;
    RateMeasuring = 0;
    ModeReaderSent = 0;
    Started = 0;
    AuthTried = 0;
    AuthRetries = UseSpa() ? NNTP_SPA_AUTH_RETRIES : 0;
    Connected();
}

void TNewsIo::Disconnect() {
    if (!Socket->IsConnected()) return;
    Socket->Close();
    Log("Disconnecting.... successful!");
    Disconnected();
}

// ---- sending ----

void TNewsIo::SendLine(const char* line, const char* maskedLogText) {
    CopyCut(LastCommandText, sizeof LastCommandText, line);
    // A line break in a setting or a group name must not smuggle in a
    // second command.
    LastCommandText[std::strcspn(LastCommandText, "\r\n")] = '\0';
    LastCommandShown = maskedLogText ? maskedLogText : LastCommandText;
    LogF("SEND %s", LastCommandShown.c_str());
    char wire[NNTP_COMMAND_MAX + 2];
    int n = std::snprintf(wire, sizeof wire, "%s\r\n", LastCommandText);
    int status = Socket->SendData(wire, static_cast<size_t>(n));
    if (status != 0) ReportError("put_data", status, 1);
    CommandTime = TickMs();
    LatencyPending = 1;
}

void TNewsIo::SendCommand(const char* format, ...) {
    char line[NNTP_COMMAND_MAX];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    // The password must never reach a log, whatever its case.
    SendLine(line,
             StartsWithNoCase(line, "AUTHINFO PASS") ? "AUTHINFO PASS (password hidden)" : nullptr);
}

// ---- receiving ----

bool TNewsIo::GetLine() {
    if (!Socket->IsConnected()) return false;
    for (;;) {
        if (ChunkPos == ChunkLen) {
            size_t count = 0;
            int status = Socket->ReadBytes(Chunk.get(), ASYNC_BUFFER_SIZE, &count);
            if (status == SOCKET_RECV_BUFFER_EMPTY) return false;
            if (status != SOCKET_OK) {
                ReportError("getchar", status, 1);
                return false;
            }
            ChunkPos = 0;
            ChunkLen = count;
            BytesTaken += count;
        }
        const char* start = Chunk.get() + ChunkPos;
        size_t left = ChunkLen - ChunkPos;
        const char* nl = static_cast<const char*>(std::memchr(start, '\n', left));
        size_t seg = nl ? static_cast<size_t>(nl - start) : left;
        // Keep the first MAXCOMMLINE characters; CR is dropped wherever it stands.
        const char* p = start;
        const char* end = start + seg;
        while (p < end) {
            const char* cr = static_cast<const char*>(std::memchr(p, '\r', end - p));
            size_t run = static_cast<size_t>((cr ? cr : end) - p);
            size_t room = static_cast<size_t>(MAXCOMMLINE - LineCursor);
            if (run > room) run = room;
            std::memcpy(CommLineIn.get() + LineCursor, p, run);
            LineCursor += static_cast<int>(run);
            p = cr ? cr + 1 : end;
        }
        ChunkPos += seg + (nl ? 1 : 0);
        if (nl) {
            CommLineIn[LineCursor] = '\0';
            LineLength = LineCursor;
            LineCursor = 0;
            return true;
        }
    }
}

void TNewsIo::UpdateStatistics() {
    uint64_t now = TickMs();
    if (LatencyPending) {
        Latency.Add(static_cast<uint32_t>(now - CommandTime));
        LatencyPending = 0;
    }
    if (RateMeasuring) {
        RateBytes += static_cast<uint64_t>(LineLength);
        uint64_t elapsed = now - RateStart;
        if (elapsed >= RATE_WINDOW_MS) {
            Rate.Add(static_cast<uint32_t>(RateBytes * 1000 / elapsed));
            RateMeasuring = 0;
        }
    }
    if (!RateMeasuring) {
        RateMeasuring = 1;
        RateBytes = 0;
        RateStart = now;
    }
}

size_t TNewsIo::ProcessLines() {
    Diagnostic("state", "start updatecomm");
    BytesTaken = 0;
    while (GetLine()) {
        UpdateStatistics();
        char* line = CommLineIn.get();
        if (MultiLine) {
            Diagnostic("DATA", "%s", line);
            if (line[0] == '.' && line[1] == '\0') {
                MultiLine = 0;
                if (DiscardResponse) {
                    DiscardResponse = 0;
                } else {
                    EndOfResponse();
                }
                continue;
            }
            int length = LineLength;
            if (line[0] == '.' && line[1] == '.') {
                ++line;
                --length;
            }
            if (!DiscardResponse) DataLine(line, length);
        } else {
            LogF("RECV %s", line);
            CopyCut(LastResponseText, sizeof LastResponseText, line);
            Dispatch(ResponseCode(line));
        }
    }
    Diagnostic("state", "finish updatecomm");
    return BytesTaken;
}

void TNewsIo::Dispatch(int code) {
    switch (code) {
        case 200:
        case 201:
            if (!ContinueLogon()) Log("Confused -- too many 200 respones?");
            break;
        case 211:
            OnGroupSelected();
            break;
        case 215:
        case 231:
        case 221:
        case 224:
            MultiLine = 1;
            break;
        case 220:
            OnArticleFollows();
            break;
        case 250:
        case 281:
            AuthenticationAccepted();
            break;
        case 350:
            if (IsEmpty(AuthName())) {
                AskForCredentials("auth-name", ">>>> the <connect> again");
            } else if (!IsEmpty(AuthPassword())) {
                char line[NNTP_COMMAND_MAX], shown[NNTP_COMMAND_MAX];
                std::snprintf(line, sizeof line, "%s %s", AuthName(), AuthPassword());
                std::snprintf(shown, sizeof shown, "%s (password hidden)", AuthName());
                SendLine(line, shown);
            } else {
                AskForCredentials("auth-pword", ">>>> the <connect> again");
            }
            break;
        case 380:
        case 480:
            BeginAuthentication();
            break;
        case 381:
            NextAuthenticationStep();
            break;
        case 411:
            if (CurGroup) {
                LogF("No such group: %s", CurGroup->Name);
                CurGroup->Done = 1;
                CurGroup->First = CurGroup->Last = CurGroup->Pointer = 0;
            }
            SelectNextGroup();
            break;
        case 423:
        case 430:
            OnNoSuchArticle();
            break;
        case 450:
            AuthTried = 1;
            CopyCut(PendingCommand, sizeof PendingCommand, LastCommandText);
            SendCommand("AUTHINFO SIMPLE");
            break;
        case 502:
            AuthenticationRefused();
            break;
        default:
            UnhandledResponse();
            break;
    }
}

void TNewsIo::UnhandledResponse() {
    if (StartsWithNoCase(LastCommandText, "mode reader") ||
        StartsWithNoCase(LastCommandText, "AUTHINFO ")) {
        ContinueLogon();
        return;
    }
    switch (State) {
        case NS_XHDR_SUBJECT:
        case NS_XHDR_FROM:
        case NS_XHDR_DATE:
        case NS_XHDR_LINES:
        case NS_XHDR_XREF:
        case NS_XHDR_HOST:
        case NS_XOVER:
            // A field the server will not give stays empty; the step is over.
            EndOfResponse();
            break;
        case NS_NEWSRC:
            Newsrc->EndListing(false);
            State = NS_LOGGED_ON;
            StartGroupWalk();
            break;
        default:
            break;
    }
}

// ---- logon ----

bool TNewsIo::ContinueLogon() {
    if (!ModeReaderSent) {
        ModeReaderSent = 1;
        SendCommand("mode reader");
        return true;
    }
    if (!AuthTried && AuthAtLogon() && !IsEmpty(AuthName()) && !IsEmpty(AuthPassword())) {
        CopyCut(LastCommandText, sizeof LastCommandText, SERVER_READY_MARKER);
        BeginAuthentication();
        return true;
    }
    if (Started) return false;
    Started = 1;
    State = NS_LOGGED_ON;
    if (MaintainNewsrc() && Newsrc->Kept() && !Newsrc->LoadedThisRun())
        StartNewsrcStep();
    else
        StartGroupWalk();
    return true;
}

void TNewsIo::AskForCredentials(const char* what, const char* lastLine) {
    Disconnect();
    LogF("Error: Server wants %s!", what);
    Log(">>>> Use Configure:Authentication menu option");
    Log(lastLine);
}

void TNewsIo::BeginAuthentication() {
    AuthTried = 1;
    CopyCut(PendingCommand, sizeof PendingCommand, LastCommandText);
    if (UseSpa()) {
        NtlmStep = 0;
        SendCommand("AUTHINFO GENERIC MSN");
    } else if (!IsEmpty(AuthName())) {
        SendCommand("AUTHINFO USER %s", AuthName());
    } else {
        AskForCredentials("auth-name", ">>>> then <connect> again");
    }
}

void TNewsIo::NextAuthenticationStep() {
    if (UseSpa()) {
        std::string message;
        const char* name = AuthName() ? AuthName() : "";
        const char* password = AuthPassword() ? AuthPassword() : "";
        bool built;
        if (NtlmStep == 0) {
            NtlmStep = 1;
            built = Ntlm->Build(name, password, nullptr, &message);
        } else {
            // The challenge is the word after the code.
            const char* p = LastResponseText;
            while (*p == ' ') ++p;
            while (*p && *p != ' ') ++p;
            while (*p == ' ') ++p;
            std::string challenge(p, std::strcspn(p, " \t"));
            built = Ntlm->Build(name, password, challenge.c_str(), &message);
        }
        if (!built) {
            Disconnect();
            Log("Error: NTLM (SPA) logon is not available in this build");
            return;
        }
        SendCommand("AUTHINFO GENERIC %s", message.c_str());
        return;
    }
    if (!IsEmpty(AuthPassword())) {
        SendCommand("AUTHINFO PASS %s", AuthPassword());
    } else {
        AskForCredentials("auth-pass", ">>>> the <connect> again");
    }
}

void TNewsIo::AuthenticationAccepted() {
    if (std::strcmp(PendingCommand, SERVER_READY_MARKER) == 0) {
        ContinueLogon();
    } else {
        SendCommand("%s", PendingCommand);
    }
}

void TNewsIo::AuthenticationRefused() {
    if (AuthRetries > 0) {
        Log(">>> retrying authentication. standby.");
        LogF("%s", LastCommandShown.c_str());
        --AuthRetries;
        CopyCut(LastCommandText, sizeof LastCommandText, PendingCommand);
        BeginAuthentication();
        return;
    }
    Log(">>>> Check your auth settings (config: authentication)");
    UnhandledResponse();
}

void TNewsIo::StartNewsrcStep() {
    std::string command = Newsrc->BeginRequest();
    if (StartsWithNoCase(command.c_str(), "LIST"))
        Log("Downloading full NewsRC listing (may take a few minutes...)");
    State = NS_NEWSRC;
    SendCommand("%s", command.c_str());
}

// ---- data ----

void TNewsIo::DataLine(char* line, int length) {
    switch (State) {
        case NS_XHDR_SUBJECT:
            ++SubjectLines;
            [[fallthrough]];
        case NS_XHDR_FROM:
        case NS_XHDR_DATE:
        case NS_XHDR_LINES:
        case NS_XHDR_XREF:
        case NS_XHDR_HOST:
            if (CurGroup) Headers.AddFieldLine(CurGroup, State, line);
            ++LineCount;
            break;
        case NS_XOVER:
            if (CurGroup) Headers.AddOverviewLine(CurGroup, line);
            ++LineCount;
            break;
        case NS_NEWSRC:
            Newsrc->AddLine(line);
            break;
        case NS_ARTICLES:
            if (InBody) {
                ++LineCount;
                BodyLine(line, length);
            } else if (length > 0) {
                HeaderLine(line, length);
            } else {
                InBody = 1;
                OnArticleHeaderEnd();
            }
            break;
        default:
            break;
    }
}

void TNewsIo::EndOfResponse() {
    switch (State) {
        case NS_XHDR_SUBJECT:
            RequestRange("xhdr from", NS_XHDR_FROM);
            ExpectCount(SubjectLines);
            break;
        case NS_XHDR_FROM:
            RequestRange("xhdr date", NS_XHDR_DATE);
            break;
        case NS_XHDR_DATE:
            RequestRange("xhdr lines", NS_XHDR_LINES);
            break;
        case NS_XHDR_LINES:
            // A server without XHDR support gets asked for the overview.
            if (SubjectLines > 0)
                CrossPostStep();
            else
                RequestRange("xover", NS_XOVER);
            break;
        case NS_XOVER:
            CrossPostStep();
            break;
        case NS_XHDR_XREF:
            PostingHostStep();
            break;
        case NS_XHDR_HOST:
            SortAndWalk();
            break;
        case NS_ARTICLES:
            OnArticleEnd();
            break;
        case NS_NEWSRC:
            Newsrc->EndListing(true);
            State = NS_LOGGED_ON;
            StartGroupWalk();
            break;
        default:
            break;
    }
}

// ---- groups and headers ----

void TNewsIo::StartGroupWalk() {
    if ((State == NS_ALL_DONE || State == NS_LOGGED_ON) && Socket->IsConnected()) SelectNextGroup();
}

void TNewsIo::SelectGroup(int index) {
    TNewsGroup* g = Headers.GetGroup(index);
    if (!g) return;
    CurGroup = g;
    SendCommand("group %s", g->Name);
}

void TNewsIo::ClearDoneFlags() {
    for (int i = 0; i < Headers.GroupCount(); ++i) Headers.GetGroup(i)->Done = 0;
}

void TNewsIo::ChangeGroupTable(const std::function<void()>& change) {
    const char* current = CurGroup ? CurGroup->Name : nullptr;
    const char* announced = LastAnnouncedGroup ? LastAnnouncedGroup->Name : nullptr;
    // Records move: a resume noted for a group could point at another one.
    ResumeAfter = nullptr;
    ResumeGroup = nullptr;
    TNewsGroup* next = Headers.GetGroup(NextGroupOverride);
    const char* nextName = next ? next->Name : nullptr;
    change();
    CurGroup = current ? Headers.FindGroup(current) : nullptr;
    LastAnnouncedGroup = announced ? Headers.FindGroup(announced) : nullptr;
    next = nextName ? Headers.FindGroup(nextName) : nullptr;
    NextGroupOverride = next ? Headers.IndexOf(next) : -1;
}

void TNewsIo::SelectNextGroup() {
    if (StopFlag) {
        AllGroupsDone();
        return;
    }
    int count = Headers.GroupCount();
    int start;
    if (NextGroupOverride >= 0 && NextGroupOverride < count) {
        start = NextGroupOverride;
        NextGroupOverride = -1;
    } else {
        start = Headers.IndexOf(CurGroup);
        if (start < 0) start = 0;
    }
    for (int i = 0; i < count; ++i) {
        TNewsGroup* g = Headers.GetGroup((start + i) % count);
        bool qualifies = g->Enabled && (!g->Done || (g->Pointer != g->Last && g->Last >= g->First));
        if (qualifies) {
            CurGroup = g;
            SendCommand("group %s", g->Name);
            return;
        }
    }
    AllGroupsDone();
}

void TNewsIo::OnGroupSelected() {
    // code, count, first, last, name
    TArticleNo numbers[4] = {};
    const char* p = LastResponseText;
    int fields = 0;
    while (fields < 4 && ReadArticleNumber(&p, &numbers[fields])) ++fields;
    char name[256] = {};
    while (*p == ' ' || *p == '\t') ++p;
    size_t nameLen = std::min(std::strcspn(p, " \t"), sizeof name - 1);
    std::memcpy(name, p, nameLen);
    if (fields == 4 && nameLen > 0) fields = 5;
    TArticleNo first = numbers[2], last = numbers[3];
    LogF("News server selected group: %s", name);
    if (!CurGroup) {
        Log("Group selected that was not asked for");
        return;
    }
    if (fields < 4) {
        LogF("Unreadable group response for %s", CurGroup->Name);
        return;
    }
    if (fields == 5 && strcasecmp(name, CurGroup->Name) != 0 && strcasecmp(name, "group") != 0) {
        LogF("Wrong group -- expected %s", CurGroup->Name);
        return;
    }
    CurGroup->First = first;
    CurGroup->Last = last;
    if ((first != 0 || last != 0) && last >= first) {
        if (!CurGroup->HeaderHash) Headers.CreateHash(CurGroup);
        if (CurGroup != LastAnnouncedGroup) {
            LastAnnouncedGroup = CurGroup;
            GroupChanged();
        }
        RequestHeaderRange();
    } else {
        CurGroup->Pointer = last;
        CurGroup->Done = 1;
        Log("Group is empty");
        SelectNextGroup();
    }
}

void TNewsIo::RequestHeaderRange() {
    TNewsGroup* g = CurGroup;
    SubjectLines = 0;
    if (g->Pointer < g->First) g->Pointer = g->First - 1;
    if (g->Last < g->Pointer) g->Pointer = g->First - 1;  // the server renumbered
    RangeFirst = std::max(g->HighestLoaded + 1, g->Pointer + 1);
    RangeLast = g->Last;
    if (g->Pointer >= g->Last) {
        LogF("Already seen all messages: %s", g->Name);
        g->Done = 1;
        SelectNextGroup();
    } else if (g->Last < RangeFirst) {
        Log("No new headers to load in this group");
        SortAndWalk();
    } else {
        if (UseXover())
            RequestRange("xover", NS_XOVER);
        else
            RequestRange("xhdr subject", NS_XHDR_SUBJECT);
        ExpectCount(static_cast<long>(RangeLast - RangeFirst + 1));
    }
}

void TNewsIo::RequestRange(const char* command, int state) {
    State = state;
    SendCommand("%s %lld-%lld", command, static_cast<long long>(RangeFirst),
                static_cast<long long>(RangeLast));
    LineCount = 0;
}

void TNewsIo::CrossPostStep() {
    int maxXref = MaxXref();
    if (LoadXrefHeaders() &&
        ((maxXref >= 1 && maxXref <= 99) || HasEntries(Headers.AllGroup().XrefList) ||
         HasEntries(CurGroup->XrefList))) {
        RequestRange("xhdr xref", NS_XHDR_XREF);
    } else {
        PostingHostStep();
    }
}

void TNewsIo::PostingHostStep() {
    if (LoadPostingHostHeaders() &&
        (HasEntries(Headers.AllGroup().HostList) || HasEntries(CurGroup->HostList))) {
        RequestRange("xhdr nntp-posting-host", NS_XHDR_HOST);
    } else {
        SortAndWalk();
    }
}

void TNewsIo::SortAndWalk() {
    TNewsGroup* g = CurGroup;
    if (g->FirstUnstored != 0 && !g->CapReported) {
        g->CapReported = 1;
        LogF("Too many headers in %s: articles from #%lld on are not stored and will be skipped",
             g->Name, static_cast<long long>(g->FirstUnstored));
    }
    LogF("Sorting %d headers", g->NumHeaders);
    Headers.SortHeaders(g);
    WalkCursor = g->SortedHead;
    while (WalkCursor && WalkCursor->Number < g->Pointer) WalkCursor = WalkCursor->NumberNext;
    g->Done = 1;
    FollowPosterFlag = 0;
    if (ResumeAfter && ResumeGroup == g) {
        CurMsg = ResumeAfter;
        FollowPosterFlag = 1;
    }
    ResumeAfter = nullptr;
    ResumeGroup = nullptr;
    State = NS_ARTICLES;
    ChooseNextArticle();
}

// ---- the article walk ----

void TNewsIo::AdvanceCursor() {
    while (WalkCursor && CheckHeader(WalkCursor)) {
        if (WalkCursor->Number > CurGroup->Pointer) CurGroup->Pointer = WalkCursor->Number;
        WalkCursor = WalkCursor->NumberNext;
    }
}

void TNewsIo::ChooseNextArticle() {
    if (!Socket->IsConnected() || !CurGroup) return;
    if (TerminateGroupFlag) {
        LogF("Terminating group %s by user request", CurGroup->Name);
        TerminateGroupFlag = 0;
        CurMsg = nullptr;
        AdvanceCursor();
        SelectNextGroup();
        return;
    }
    THeader* candidate = nullptr;
    if (FollowPosterFlag && CurMsg && CurMsg->PosterNext &&
        !(CurMsg->PosterNext->Flags & HEADER_HANDLED)) {
        candidate = CurMsg->PosterNext;
    } else {
        CurMsg = nullptr;
        AdvanceCursor();
        candidate = WalkCursor;
        if (FollowPoster() && WalkCursor) {
            while (candidate->PosterPrev && !CheckHeader(candidate->PosterPrev))
                candidate = candidate->PosterPrev;
        }
    }
    CurMsg = candidate;
    if (candidate) {
        candidate->Flags |= HEADER_HANDLED | HEADER_REQUESTED;
        RequestArticle();
    } else {
        LogF("Finished with group %s", CurGroup->Name);
        CurGroup->Pointer = CurGroup->Last;
        SelectNextGroup();
    }
}

int TNewsIo::CheckHeader(THeader* header) {
    if (header->Flags & HEADER_HANDLED) return 1;
    if (header->Flags & HEADER_MARKED_REJECT) RejectMarked(header);
    int minLines = MinLines();
    int maxLines = MaxLines();
    if (header->Lines > 0 && minLines >= 0 && header->Lines < minLines) RejectTooSmall(header);
    if (header->Lines > 0 && maxLines >= 0 && header->Lines > maxLines) RejectTooLong(header);
    return (header->Flags & HEADER_HANDLED) ? 1 : 0;
}

void TNewsIo::RequestArticle() {
    if (!CurMsg) return;
    LogF("Asking for message #%lld", static_cast<long long>(CurMsg->Number));
    SendCommand("article %lld", static_cast<long long>(CurMsg->Number));
}

void TNewsIo::OnArticleFollows() {
    if (!CurMsg) {
        UnexpectedArticle();
        // Its lines must not be read as responses.
        MultiLine = 1;
        DiscardResponse = 1;
        return;
    }
    const char* p = LastResponseText;
    while (*p == ' ' || *p == '\t') ++p;
    while (*p >= '0' && *p <= '9') ++p;
    while (*p == ' ' || *p == '\t') ++p;
    while (*p && *p != ' ' && *p != '\t') ++p;
    while (*p == ' ' || *p == '\t') ++p;
    size_t len = std::strcspn(p, " \t");
    if (len > sizeof MessageIdText - 2) len = sizeof MessageIdText - 2;
    std::memcpy(MessageIdText, p, len);
    MessageIdText[len] = '\0';
    LogF("Subject: %s", CurMsg->Subject ? CurMsg->Subject : Headers.Null());
    LogF("From: %s", CurMsg->Poster ? CurMsg->Poster : Headers.Null());
    LineCount = 0;
    State = NS_ARTICLES;
    MultiLine = 1;
    InBody = 0;
}

}  // namespace zorvex
