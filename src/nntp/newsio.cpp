#include "nntp/newsio.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "library/ascii.h"
#include "library/diagsink.h"
#include "library/eventloop.h"
#include "net/ntlm.h"
#include "nntp/newsrc.h"

namespace zorvex {

namespace {

uint64_t TickMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// One of the XHDR or XOVER steps of header loading.
bool IsHeaderStep(TNewsState state) {
    switch (state) {
        case TNewsState::XHDR_SUBJECT:
        case TNewsState::XHDR_FROM:
        case TNewsState::XHDR_DATE:
        case TNewsState::XHDR_LINES:
        case TNewsState::XHDR_XREF:
        case TNewsState::XHDR_HOST:
        case TNewsState::XOVER:
        case TNewsState::LINES_CAPABILITIES:
        case TNewsState::LINES_OVERVIEW_FMT:
        case TNewsState::META_LINES:
            return true;
        default:
            return false;
    }
}

bool IsEmpty(const char* text) {
    return !text || !*text;
}

void CopyCut(char* dst, size_t size, const char* src) {
    std::snprintf(dst, size, "%s", src ? src : "");
}

// The leading decimal response code; 0 when the line has none.
int ResponseCode(const char* line) {
    std::string_view text(line);
    int64_t code = 0;
    if (!ReadClampedDecimal(&text, &code) || code < 0 || code > INT32_MAX) return 0;
    return static_cast<int>(code);
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

bool TNewsIo::ConnectToServer(TEventLoop* loop, TMessageTarget* window, uint32_t notice) {
    LastResponseText[0] = '\0';
    LastCommandText[0] = '\0';
    NotifyLoop = loop;
    NotifyWindow = window;
    Socket->SetNotify(loop, window, notice);
    Socket->Socket().SetSecure(UseSsl(), TlsOptions());
    State = TNewsState::CONNECTING;
    LogF(UseSsl() ? "Connecting [secure] to %s" : "Connecting to %s", ServerName.c_str());
    int status = Socket->RequestConnect(ServerName.c_str());
    if (status != 0) {
        ReportError("connect", status, true);
        State = TNewsState::IDLE;
        return false;
    }
    return true;
}

int TNewsIo::HandleSocketNotice(TSocketNotice what) {
    Diagnostic("state", "handlesocketmessage what=%d", static_cast<int>(what));
    switch (what) {
        case TSocketNotice::RECEIVED:
            if (Socket->IsConnected()) {
                size_t taken = ProcessLines();
                return taken > INT32_MAX ? INT32_MAX : static_cast<int>(taken);
            }
            break;
        case TSocketNotice::CONNECT_ENDED:
            if (Socket->ErrorCode() != 0)
                Log("Error during connection");
            else if (Socket->IsConnected())
                Log("Error (?) connection already open");
            else
                ConnectionEstablished();
            break;
        case TSocketNotice::LATER_ERROR:
            ReportError("async error", Socket->ErrorCode(), false);
            break;
        case TSocketNotice::FIRST_ERROR:
            ReportError("async error", Socket->ErrorCode(), true);
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
    MultiLine = false;
    DiscardResponse = false;
    LatencyPending = false;
    RateMeasuring = false;
    ModeReaderSent = false;
    Started = false;
    AuthTried = false;
    MetaLines = TMetaLines::UNASKED;  // another connection may be another server
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
    if (status != 0) ReportError("put_data", status, true);
    CommandTime = TickMs();
    LatencyPending = true;
}

void TNewsIo::SendCommand(const char* format, ...) {
    char line[NNTP_COMMAND_MAX];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    // The password must never reach a log, whatever its case, nor an NTLM
    // answer, from which it could be guessed offline.
    const char* masked = nullptr;
    if (StartsWithIgnoringCase(line, "AUTHINFO PASS"))
        masked = "AUTHINFO PASS (password hidden)";
    else if (StartsWithIgnoringCase(line, "AUTHINFO GENERIC ") &&
             !EqualsIgnoringCase(line, "AUTHINFO GENERIC MSN"))
        masked = "AUTHINFO GENERIC (NTLM message hidden)";
    SendLine(line, masked);
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
                ReportError("getchar", status, true);
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
        LatencyPending = false;
    }
    if (RateMeasuring) {
        RateBytes += static_cast<uint64_t>(LineLength);
        uint64_t elapsed = now - RateStart;
        if (elapsed >= RATE_WINDOW_MS) {
            Rate.Add(static_cast<uint32_t>(RateBytes * 1000 / elapsed));
            RateMeasuring = false;
        }
    }
    if (!RateMeasuring) {
        RateMeasuring = true;
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
                MultiLine = false;
                if (DiscardResponse) {
                    DiscardResponse = false;
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
        case 101:
        case 215:
        case 231:
        case 221:
        case 224:
        case 225:
            MultiLine = true;
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
            AuthTried = true;
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
    if (StartsWithIgnoringCase(LastCommandText, "mode reader") ||
        StartsWithIgnoringCase(LastCommandText, "AUTHINFO ")) {
        ContinueLogon();
        return;
    }
    if (IsHeaderStep(State)) {
        // A field the server will not give stays empty; the step is over.
        EndOfResponse();
        return;
    }
    switch (State) {
        case TNewsState::NEWSRC:
            Newsrc->EndListing(false);
            State = TNewsState::LOGGED_ON;
            StartGroupWalk();
            break;
        default:
            break;
    }
}

// ---- logon ----

bool TNewsIo::ContinueLogon() {
    if (!ModeReaderSent) {
        ModeReaderSent = true;
        SendCommand("mode reader");
        return true;
    }
    if (!AuthTried && AuthAtLogon() && !IsEmpty(AuthName()) && !IsEmpty(AuthPassword())) {
        CopyCut(LastCommandText, sizeof LastCommandText, SERVER_READY_MARKER);
        BeginAuthentication();
        return true;
    }
    if (Started) return false;
    Started = true;
    State = TNewsState::LOGGED_ON;
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
    AuthTried = true;
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
        const bool challenged = NtlmStep != 0;
        if (!challenged) {
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
            Log(challenged ? "Error: no NTLM (SPA) answer could be made to the server's challenge"
                           : "Error: no NTLM (SPA) message could be made for this name");
            return;
        }
        // A message cut to the command's size would be refused for reasons
        // nobody could see.
        if (std::strlen(NTLM_COMMAND) + 1 + message.size() >= NNTP_COMMAND_MAX) {
            Disconnect();
            Log("Error: the NTLM (SPA) message for this name is too long to send");
            return;
        }
        SendCommand("%s %s", NTLM_COMMAND, message.c_str());
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
    if (StartsWithIgnoringCase(command.c_str(), "LIST"))
        Log("Downloading full NewsRC listing (may take a few minutes...)");
    State = TNewsState::NEWSRC;
    SendCommand("%s", command.c_str());
}

// ---- data ----

void TNewsIo::DataLine(char* line, int length) {
    if (IsHeaderStep(State)) {
        HeaderDataLine(line);
        return;
    }
    switch (State) {
        case TNewsState::NEWSRC:
            Newsrc->AddLine(line);
            break;
        case TNewsState::ARTICLES:
            ArticleDataLine(line, length);
            break;
        default:
            break;
    }
}

void TNewsIo::EndOfResponse() {
    if (IsHeaderStep(State)) {
        HeaderStepEnded();
        return;
    }
    switch (State) {
        case TNewsState::ARTICLES:
            OnArticleEnd();
            break;
        case TNewsState::NEWSRC:
            Newsrc->EndListing(true);
            State = TNewsState::LOGGED_ON;
            StartGroupWalk();
            break;
        default:
            break;
    }
}

}  // namespace zorvex
