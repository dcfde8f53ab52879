#include "app/news.h"

#include <cstdio>
#include <fstream>

#include "app/groupcommands.h"
#include "app/messages.h"
#include "app/statuslog.h"
#include "app/view.h"
#include "decode/placement.h"
#include "library/fileio.h"
#include "library/strings.h"
#include "net/kvsocket.h"
#include "nntp/crosspost.h"
#include "select/lockout.h"

namespace zorvex {

namespace {
constexpr const char* DECODE_FILE_POSTER = "fubar";
}

TNews::TNews(TSettingsStore& settings, TStatusLog& log, TNewsView& view,
             TDecodeObservers& observers, TNewsStore& store)
    : TNewsIo(store),
      Settings(settings),
      Status(log),
      View(view),
      DriverReport(log, view),
      Acceptance(*this),
      FileDriver(DriverReport, Acceptance, observers),
      Catalogs(log, view, CatalogKeyring) {
    RefreshDriverOptions();
    FreeSpaceOf = FreeBytes;
}

TNews::~TNews() {
    // Its timers and queued messages go; the client's destructor drops what
    // its worker posts until it has joined.
    if (Loop) Loop->Detach(this);
}

void TNews::EndWaitingFiles() {
    RefreshDriverOptions();
    FileDriver.EndWaitingFiles("the program exits");
}

void TNews::RefreshDriverOptions() {
    FileDriver.SetOptions(DriverOptionsFrom(Settings));
    Acceptance.SetOptions(AcceptanceOptionsFrom(Settings.Settings()));
}

void TNews::AttachLoop(TEventLoop& loop) {
    Loop = &loop;
    Loop->SetTimer(this, TIMER_PAUSE_TICKER, PAUSE_TICK_MS, true);
}

// ---- settings answered to the client ----

bool TNews::UseXover() {
    return Settings.Settings().Xover != 0;
}
bool TNews::MaintainNewsrc() {
    return Settings.Settings().MaintainNewsrc != 0;
}
bool TNews::AuthAtLogon() {
    return Settings.Settings().AuthAlwaysAtLogon != 0;
}
bool TNews::LoadXrefHeaders() {
    return Settings.Settings().LoadXrefHeaders != 0;
}
int TNews::MaxXref() {
    return Settings.Settings().MaxXref;
}
bool TNews::LoadPostingHostHeaders() {
    return Settings.Settings().LoadPostingHostHeaders != 0;
}
bool TNews::FollowPoster() {
    return Settings.Settings().ForceNumericOrder == 0;
}
int TNews::MinLines() {
    return Settings.Settings().MinLines;
}
int TNews::MaxLines() {
    return Settings.Settings().MaxLines;
}
bool TNews::UseSsl() {
    return Settings.Settings().AuthUseSsl != 0;
}
TTlsOptions TNews::TlsOptions() {
    TTlsOptions options;
    options.Verify = Settings.Settings().AuthSslVerify != 0;
    options.CaFile = Settings.Settings().AuthSslCaFile;
    return options;
}
const char* TNews::AuthName() {
    return Settings.Settings().AuthName.c_str();
}
const char* TNews::AuthPassword() {
    return Settings.Settings().AuthPassword.c_str();
}
bool TNews::UseSpa() {
    return Settings.Settings().AuthUseSpa != 0;
}

void TNews::Log(const char* text) {
    Status.PrintStatus(text);
}

void TNews::ReportError(const char* where, int code, bool fatal) {
    Status.PrintStatusF("Comm Error (%s): %s (%d)", where, SocketErrorName(code), code);
    if (fatal) Disconnect();
}

// ---- the connection ----

bool TNews::IsConnected() {
    return Worker().IsConnected();
}

bool TNews::Connect() {
    RefusedCertificate.clear();
    const std::string& host = Settings.Settings().Host;
    if (host.empty()) {
        Status.PrintStatus("No news server is set ([connection] host)");
        return false;
    }
    if (!Loop) return false;
    SetServer(host.c_str());
    return ConnectToServer(Loop, this, MSG_SOCKET);
}

TPlugIns& TNews::PlugIns() {
    TPlugIns* plugIns = Acceptance.Selection().PlugIns;
    return plugIns ? *plugIns : TNoPlugInsLoaded::Instance();
}

void TNews::Connected() {
    PlugIns().Connect(Server());
    if (Loop) {
        int delay = Settings.Settings().TimeoutDelay;
        if (delay > 0)
            Loop->SetTimer(this, TIMER_WATCHDOG, static_cast<unsigned>(delay) * 1000u, true);
        else
            Loop->KillTimer(this, TIMER_WATCHDOG);
    }
    Traffic = 0;
    Timeouts = 0;
    if (!CheckFreeSpace()) AutomaticExitCheck();
}

void TNews::Disconnected() {
    PlugIns().Disconnect(Server());
    if (Loop) Loop->KillTimer(this, TIMER_WATCHDOG);
    DelayTicks = 0;
    CutPending = false;
    ReleaseCutArticle();
}

void TNews::ReleaseCutArticle() {
    THeader* cut = InTransfer;
    InTransfer = nullptr;
    if (!cut) return;
    RefreshDriverOptions();
    bool again = TransferStarted ? FileDriver.ArticleCut() : true;
    // A rejected article stays handled: the walk goes on after it.
    if (Abandoning) again = false;
    TransferStarted = false;
    if (CurrentArticle() == cut) SetCurrentArticle(nullptr);
    SetFollowPoster(false);
    // A file that waits for the poster's next article gets it first after
    // the reconnect: the cut article again, or the one after it.
    if (FileDriver.MorePartsToCome() || FileDriver.DecodeState() == DS_AWAITING_CONTINUATION) {
        THeader* after = again ? cut->PosterPrev : cut;
        if (after) ResumeWalkAfter(CurrentGroup(), after);
    }
    // A refused post's file: the rest of its parts are not asked for.
    if (!again && FileDriver.PartRefused()) SkipRestOfPost(cut);
    if (!again) return;
    // Asked for and never finished: it is asked for again after the
    // reconnect, and the group's pointer must not pass it before then.
    cut->Flags &= ~(HEADER_HANDLED | HEADER_REQUESTED);
    TNewsGroup* group = CurrentGroup();
    if (group && group->Pointer >= cut->Number) group->Pointer = cut->Number - 1;
    Status.PrintStatusF("Article #%lld was cut off; it will be asked for again",
                        static_cast<long long>(cut->Number));
}

void TNews::SkipRestOfPost(THeader* header) {
    int skipped = 0;
    for (THeader *prev = header, *h = header->PosterNext; TNewsStore::LaterPartOfPost(prev, h);
         prev = h, h = h->PosterNext) {
        if (h->Flags & HEADER_HANDLED) continue;
        MarkRejected(h);
        ++skipped;
    }
    if (skipped > 0)
        Status.PrintStatusF("Skipping %d more parts of \"%s\": the file cannot be completed",
                            skipped, header->Subject ? header->Subject : "");
}

void TNews::StartRetry() {
    if (Loop) Loop->SetTimer(this, TIMER_RETRY, RETRY_DELAY_MS, false);
}

void TNews::ConnectionLost(int code) {
    if (code == SOCKET_FAIL_SSL_CONNECT && Worker().Socket().CertificateRefused()) {
        RefusedCertificate = Worker().Socket().TlsFailure();
        Status.PrintStatusF(
            "The server's certificate was refused: %s; not connecting again "
            "(trust it with [auth] sslcafile, or set [auth] sslverify=0)",
            RefusedCertificate.c_str());
        AutomaticExitCheck();
        return;
    }
    if (code == SOCKET_RECV_CLOSED)
        ServerDisconnected();
    else
        StartRetry();
    Status.PrintStatusF("Automatic retry in %d seconds...",
                        static_cast<int>(RETRY_DELAY_MS / 1000));
}

void TNews::UnexpectedArticle() {
    Status.PrintStatus("[Error] CurMsg==NULL in ArticleReady(), retrying ...");
    Disconnect();
    StartRetry();
}

void TNews::ServerDisconnected() {
    Status.PrintStatus("The server disconnected us -- trying again!");
    Disconnect();
    StartRetry();
}

bool TNews::CheckFreeSpace() {
    const TSettings& s = Settings.Settings();
    LowSpace = TLowSpace{};
    if (s.MinFreeSpace <= 0) return true;
    double free = FreeSpaceOf ? FreeSpaceOf(s.DownloadPath) : -1;
    if (free < 0 || free >= static_cast<double>(s.MinFreeSpace)) return true;
    LowSpace = TLowSpace{true, s.DownloadPath, free};
    Status.PrintStatusF("Low disk space (%1.0f bytes) on download drive", free);
    if (IsConnected()) Disconnect();
    return false;
}

// ---- the walk ----

void TNews::GroupChanged() {
    // The next article or part of a file cannot come from another group.
    RefreshDriverOptions();
    FileDriver.EndWaitingFiles("the group ended");
    if (TCrossPostTally* tally = Acceptance.Selection().Tally) tally->ClearCounts();
}

bool TNews::CheckHeader(THeader* header) {
    if (header->Flags & HEADER_HANDLED) return true;
    // Before the checks: a second copy of a part is no new article.
    if (SkipRepeatedPart(header)) return true;
    Acceptance.SetOptions(AcceptanceOptionsFrom(Settings.Settings()));
    if (Acceptance.HeaderRejected(header)) return true;
    return CheckMarkAndLines(header);
}

// ---- what the acceptance checks ask ----

void TNews::RejectLine(const THeader* header, std::string_view line, bool toLog) {
    if (toLog)
        Status.WriteLogLine(line, true, header);
    else
        Status.PrintStatus(line);
}

void TNews::CutArticleShort(const THeader* header) {
    // Only the article on the wire, with enough of it still to come, and
    // not more often in a row than [misc] maxdisc.
    if (!header || header != InTransfer || CutPending) return;
    if (header->Lines - LinesReceived() <= CUT_LINES_LEFT_MIN) return;
    if (Cuts >= Settings.Settings().MaxDisc || !IsConnected()) return;
    ++Cuts;
    CutPending = true;
}

void TNews::CutShortNow() {
    CutPending = false;
    if (!IsConnected()) return;
    Abandoning = true;
    Disconnect();
    Abandoning = false;
    if (!Connect()) StartRetry();
}

void TNews::OnGroupSelected() {
    TNewsIo::OnGroupSelected();
    if (const TNewsGroup* group = CurrentGroup()) {
        PlugIns().NewGroup(*group);
        View.GroupShown(group->Name, static_cast<long long>(group->Last));
    }
}

void TNews::ExpectCount(long count) {
    View.ExpectCount(count);
}

void TNews::RequestArticle() {
    InTransfer = CurrentArticle();
    TransferStarted = false;
    if (InTransfer) Acceptance.ArticleRequested(*InTransfer);
    TNewsIo::RequestArticle();
}

void TNews::OnArticleFollows() {
    TNewsIo::OnArticleFollows();
    if (!CurrentArticle()) return;
    TransferStarted = true;
    const THeader* h = CurrentArticle();
    Seen[1] = Seen[0];
    Seen[0] = {true, h->Number, h->Poster ? h->Poster : "null", h->Subject ? h->Subject : "null",
               h->PostingHost ? h->PostingHost : "null"};
    // The settings may have changed since the last article.
    RefreshDriverOptions();
    FileDriver.ArticleStart(CurrentGroup(), CurrentArticle(), MessageId());
    RunAutosave();
}

void TNews::RunAutosave() {
    unsigned due = Autosave.Count(Settings.Settings());
    if (due & TAutosave::DUE_POINTERS) {
        Status.PrintStatusString(STR_AUTOSAVE_POINTERS);
        if (Groups)
            Groups->SavePointers(Settings);
        else
            Settings.SaveWithSet(SAVE_GROUP_LIST);
    }
    if (due & TAutosave::DUE_EVERYTHING) {
        Status.PrintStatusString(STR_AUTOSAVE_EVERYTHING);
        Settings.SaveWithSet(Settings.DefaultSaveSet());
    }
}

void TNews::HeaderLine(const char* line, int length) {
    FileDriver.HeaderLine(std::string_view(line, static_cast<size_t>(length)));
    if (!Acceptance.ArticlePostingHost().empty()) Seen[0].Host = Acceptance.ArticlePostingHost();
    if (CutPending) CutShortNow();
}

void TNews::OnArticleHeaderEnd() {
    FileDriver.HeaderEnd();
}

void TNews::BodyLine(const char* line, int length) {
    FileDriver.BodyLine(std::string_view(line, static_cast<size_t>(length)), LinesReceived());
    if (CutPending) CutShortNow();
}

void TNews::OnArticleEnd() {
    InTransfer = nullptr;
    TransferStarted = false;
    Cuts = 0;
    if (CurrentArticle()) Acceptance.ArticleCompleted(*CurrentArticle());
    SetFollowPoster(FileDriver.ArticleEnd());
    if (FileDriver.PartRefused() && CurrentArticle()) SkipRestOfPost(CurrentArticle());
    if (!CheckFreeSpace()) {
        AutomaticExitCheck();
        return;
    }
    int delay = Settings.Settings().TimeoutMsgDelay;
    if (delay > 0) {
        DelayTicks = delay * PAUSE_TICKS_PER_SECOND;
        Status.PrintStatusF("Delaying %d seconds", delay);
        return;
    }
    ChooseNextArticle();
}

void TNews::OnNoSuchArticle() {
    InTransfer = nullptr;
    TransferStarted = false;
    TNewsIo::OnNoSuchArticle();
}

void TNews::AllGroupsDone() {
    RefreshDriverOptions();
    FileDriver.EndWaitingFiles("the run ended");
    TNewsIo::AllGroupsDone();
    EndOfDownloadRun();
}

void TNews::EndOfDownloadRun() {
    if (StopRequested()) {
        bool exitAfter = TakeStopRequest();
        Status.PrintStatus("Graceful disconnect requested; Shutting Down.");
        Disconnect();
        if (Groups) Groups->SavePointers(Settings);
        if (exitAfter) Switches.Autoexit = 1;
    } else {
        if (Store().GroupCount() > 0) {
            Status.PrintStatusString(STR_FINISHED_ALL_GROUPS);
        } else {
            Status.PrintStatus(">>>> Use the <Add> button to add some groups");
            Status.PrintStatus(">>>> Then <connect> again");
        }
        Disconnect();
        if (Groups) Groups->SavePointers(Settings);
        if (Switches.Autorestart) {
            Status.PrintStatusString(STR_AUTO_RESTART);
            ClearDoneFlags();
            Disconnect();
            Connect();
            return;
        }
        if (Switches.Autocat) {
            Status.PrintStatusString(STR_AUTO_CATALOG);
            StartCatalogRun();
            return;
        }
    }
    AutomaticExitCheck();
}

void TNews::CatalogAllGroupsCommand() {
    if (View.MessageBox("This will generate image catalog files for each newsgroup in your list. "
                        "Proceed?",
                        "Confirm", BOX_YES_NO) == ANSWER_YES)
        StartCatalogRun();
}

void TNews::StartCatalogRun() {
    // A second start would lose the group being done; the first one's end
    // goes to the exit check anyway.
    if (Catalogs.Running()) {
        Status.PrintStatus("The catalogs are being made already");
        return;
    }
    const TSettings& s = Settings.Settings();
    TCatalogRunSetup setup;
    // Without a download path there is no directory of the groups'.
    for (int i = 0; !s.DownloadPath.empty() && i < Store().GroupCount(); ++i) {
        const TNewsGroup* group = Store().GetGroup(i);
        setup.Groups.push_back(
            {group->Name, GroupDirectory(s.DownloadPath, group->Name, group->Ordinal, s.PathExpand,
                                         Settings.PathPrefixes)});
    }
    setup.OneDirectory = s.PathExpand == 0;
    setup.SettingsPath = Settings.Path();
    setup.SystemFont = Settings.Display().SystemFont;
    setup.Key = s.EncryptionKey;
    if (!Loop) {
        AutomaticExitCheck();
        return;
    }
    Catalogs.Start(*Loop, *this, std::move(setup));
    Loop->Post(this, MSG_CATALOG_NEXT_STEP, 0, 0);
}

void TNews::AutomaticExitCheck() {
    if (!Switches.Autoexit || IsConnected()) return;
    Status.PrintStatusString(STR_AUTO_EXIT);
    if (Loop) Loop->SetTimer(this, TIMER_AUTO_EXIT, AUTO_EXIT_DELAY_MS, false);
}

// ---- messages and timers ----

void TNews::OnMessage(const TMessage& msg) {
    switch (msg.Msg) {
        case MSG_SOCKET: {
            int taken = HandleSocketNotice(SocketNoticeOf(msg));
            if (taken > 0) {
                Traffic += static_cast<uint64_t>(taken);
                TotalBytes += static_cast<uint64_t>(taken);
            }
            ShowProgress();
            break;
        }
        case MSG_CATALOG_NEXT_STEP:
            if (Catalogs.Running() && !Catalogs.NextGroup()) AutomaticExitCheck();
            break;
        case MSG_HEADER_WINDOW_OPENED:
            HeaderWindow = true;
            break;
        case MSG_HEADER_WINDOW_CLOSED:
            HeaderWindow = false;
            break;
        default:
            break;
    }
}

void TNews::ShowProgress() {
    TProgress p;
    p.Group = CurrentGroup() ? CurrentGroup()->Name : "";
    p.Article = InTransfer ? static_cast<long long>(InTransfer->Number) : 0;
    p.Lines = InTransfer ? InTransfer->Lines : 0;
    p.LinesReceived = InTransfer ? LinesReceived() : 0;
    p.BytesReceived = TotalBytes;
    View.Progress(p);
}

void TNews::OnTimer(uint32_t id) {
    switch (id) {
        case TIMER_RETRY:
            if (Loop) Loop->KillTimer(this, TIMER_RETRY);
            if (!IsConnected()) Connect();
            break;
        case TIMER_WATCHDOG:
            Watchdog();
            break;
        case TIMER_AUTO_EXIT:
            if (Loop) Loop->KillTimer(this, TIMER_AUTO_EXIT);
            if (ExitCommand) ExitCommand();
            break;
        case TIMER_AFTER_START:
            // No tips or taskbar without a window; the desktop view adds them.
            if (Loop) Loop->KillTimer(this, TIMER_AFTER_START);
            break;
        case TIMER_PAUSE_TICKER:
            if (DelayTicks > 0 && --DelayTicks == 0) ChooseNextArticle();
            break;
        default:
            break;
    }
}

void TNews::Watchdog() {
    // A pause between articles is quiet on purpose.
    if (!IsConnected() || Traffic != 0 || DelayTicks > 0) {
        Traffic = 0;
        Timeouts = 0;
        return;
    }
    const TSettings& s = Settings.Settings();
    Status.PrintStatusF("Timeout has occurred (%d secs)", s.TimeoutDelay);
    Status.WriteLogLine("Timeout", true, nullptr);
    ++Timeouts;
    Disconnect();
    if (Timeouts <= s.TimeoutMaxCount) {
        Connect();
    } else {
        Status.PrintStatus("Maximum timeout count exceeded, shutting down");
        AutomaticExitCheck();
    }
}

// ---- commands ----

bool TNews::ConnectCommand() {
    if (DelayTicks > 0) {
        DelayTicks = 1;
        return true;
    }
    if (IsConnected()) {
        if (View.MessageBox("You are already connected -- do you want to disconnect and then "
                            "connect again? ",
                            "Confirm", BOX_YES_NO) != ANSWER_YES)
            return false;
        Disconnect();
    }
    return Connect();
}

void TNews::DisconnectCommand() {
    if (Loop) {
        Loop->KillTimer(this, TIMER_RETRY);
        Loop->KillTimer(this, TIMER_WATCHDOG);
    }
    Disconnect();
}

void TNews::GracefulDisconnectCommand() {
    TBoxAnswer answer = View.MessageBox(
        "This will cause Vantrel to disconnect after the current action has "
        "completed. Do you wish to auto-exit as well?",
        "Confirm", BOX_YES_NO_CANCEL);
    if (answer == ANSWER_CANCEL) return;
    RequestGracefulDisconnect(answer == ANSWER_YES);
}

void TNews::RequestGracefulDisconnect(bool exitAfter) {
    StopAfterArticle(exitAfter);
}

void TNews::JumpToCommand(const std::vector<int>& selection) {
    if (selection.size() > 1) {
        View.MessageBox("Please select only one item when using this button", "Error", BOX_OK);
        return;
    }
    TNewsGroup* group = selection.empty() ? nullptr : Store().GetGroup(selection[0]);
    if (!group) {
        Status.ShowMessageById(5, 1, BOX_OK);
        return;
    }
    group->Done = 0;
    JumpToGroup(selection[0]);
    Status.ShowMessageById(7, 8, BOX_OK);
}

bool TNews::LockoutArticleCommand(bool previous) {
    const TSeenArticle& article = Seen[previous ? 1 : 0];
    TLockoutLists* lockouts = Acceptance.Selection().Lockouts;
    if (!article.Valid || !lockouts) {
        View.MessageBox("No picture has been downloaded into the image slot", "Error!", BOX_OK);
        return false;
    }
    // The file this article started, whether still being decoded or done.
    std::string file = "null";
    if (FileDriver.Current().Article == article.Number && !FileDriver.Current().FileName.empty())
        file = FileDriver.Current().FileName;
    for (const TCurrentFile& received : FileDriver.Received())
        if (received.Article == article.Number) file = received.FileName;

    TLockoutForm form;
    form.Fields = LockoutFieldsFrom(article.Poster, article.Subject, file, article.Host);
    form.Choice.Poster = true;
    if (!View.EditLockoutForm(form)) return false;
    lockouts->AddLockouts(form.Fields, form.Choice, form.Temporary);
    return true;
}

void TNews::TestStringCommand(int kind) {
    std::string text;
    TLockoutLists* lockouts = Acceptance.Selection().Lockouts;
    if (!lockouts ||
        !View.AskText("Test String Matcher",
                      "Enter a string, Zorvex will tell which groups match:", 255, &text))
        return;
    for (const TLockoutAnswer& answer : lockouts->TestString(kind, text))
        View.MessageBox(answer.Text, answer.Title, BOX_OK);
}

bool TNews::SetPointerCommand(int index, TArticleNo pointer) {
    TNewsGroup* group = Store().GetGroup(index);
    if (!group || !Groups || pointer < 0) return false;
    if (Groups->List().SetPointer(group, pointer) && group == CurrentGroup()) EndGroup();
    return true;
}

bool TNews::DecodeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        View.MessageBox("Unable to open file", "Decode File", BOX_OK);
        return false;
    }
    TNewsStore& store = Store();
    const TNewsGroup* group = store.GroupCount() > 0 ? store.GetGroup(0) : &store.AllGroup();
    FileHeader = THeader{};
    FileHeader.Subject = store.Intern(DECODE_FILE_POSTER);
    FileHeader.Poster = FileHeader.Subject;
    FileHeader.CrossPosts = store.Null();
    FileHeader.PostingHost = store.Null();
    RefreshDriverOptions();
    FileDriver.ArticleStart(group, &FileHeader, NO_MESSAGE_ID);
    FileDriver.HeaderEnd();
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        FileDriver.BodyLine(line, ++count);
    }
    // The file ends like an article: whatever is still open is finished.
    FileDriver.ArticleEnd();
    return true;
}

}  // namespace zorvex
