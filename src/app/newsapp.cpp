#include "app/newsapp.h"

#include <algorithm>
#include <ctime>

#include "app/messages.h"
#include "app/statusqueue.h"
#include "app/view.h"
#include "decode/placement.h"
#include "library/fileio.h"
#include "library/format.h"
#include "library/homefiles.h"
#include "library/profile.h"
#include "library/strings.h"

namespace zorvex {

namespace {

constexpr const char* VERSION_TEXT = "version 10.3";

std::string WordSizeText() {
    return std::to_string(sizeof(void*) * 8) + "-bit";
}

}  // namespace

TNewsApp::TNewsApp(const TStartup& startup, TNewsView& view, TEventLoop& loop, TNewsStore& store)
    : Startup(startup),
      View(view),
      Loop(loop),
      GroupTable(store),
      GroupList(store),
      GroupCommands(GroupList),
      NewsrcList(startup.HomeDir),
      HomeFiles(HomeFileNames(startup.HomeDir, std::time(nullptr))),
      LockoutLists(store),
      Peers(GroupList, LockoutLists, MaskLists, DupeTables, PlugInList, HomeFiles),
      Store(startup.SettingsPath, Peers),
      Diagnostics(startup.HomeDir + "/" + DIAGNOSTIC_LOG_NAME) {}

bool TKeptLists::SaveLockouts(std::string* error) {
    // Lists never read would overwrite the user's file with nothing.
    if (!LockoutsLoaded) return true;
    return Lockouts.Save(Files.Lockouts, error);
}

TLockoutLoadReport TKeptLists::LoadLockouts() {
    LockoutsLoaded = true;
    return Lockouts.Load(Files.Lockouts);
}

bool TKeptLists::SaveDupeSubjects(std::string* error) {
    if (!DupeSubjectsLoaded) return true;
    return Dupes.Subjects().Save(Files.DupeSubjects, error);
}

bool TKeptLists::SaveDupeFiles(std::string* error) {
    if (!DupeFilesLoaded) return true;
    return Dupes.Files().Save(Files.DupeFiles, error);
}

namespace {

void NoteDupeLoad(const TDupeLoadReport& report, const std::string& path,
                  std::vector<std::string>* notes) {
    if (report.Skipped == 0) return;
    notes->push_back(Format("%s: %zu malformed line%s skipped, the first is line %zu", path.c_str(),
                            report.Skipped, report.Skipped == 1 ? "" : "s", report.FirstSkipped));
}

}  // namespace

std::vector<std::string> TKeptLists::LoadDupes(bool subjects, bool files) {
    std::vector<std::string> notes;
    if (!Dupes.KeepsLocalFiles()) return notes;
    if (subjects) {
        DupeSubjectsLoaded = true;
        NoteDupeLoad(Dupes.Subjects().Load(Files.DupeSubjects), Files.DupeSubjects, &notes);
    }
    if (files) {
        DupeFilesLoaded = true;
        NoteDupeLoad(Dupes.Files().Load(Files.DupeFiles), Files.DupeFiles, &notes);
    }
    return notes;
}

TNewsApp::~TNewsApp() {
    TStatusQueue::Global().Detach();
    Loop.Detach(this);
    // The client's worker threads end with it, before the logs it prints to.
    Main.reset();
    Store.SetStatus(nullptr);
}

TStartResult TNewsApp::Start() {
    TStartResult result;
    if (!Store.LoadSettings()) {
        result.ExitCode = EXIT_SETTINGS_UNUSABLE;
        result.Error = "Cannot read the settings file " + Store.Path();
        return result;
    }
    TSettings& s = Store.Settings();
    if (s.Host.empty()) {
        result.ExitCode = EXIT_SETTINGS_UNUSABLE;
        result.Error =
            "No news server is set: add \"host=NAME[:PORT]\" under [connection] in " + Store.Path();
        return result;
    }
    if (s.DownloadPath.empty()) {
        result.ExitCode = EXIT_SETTINGS_UNUSABLE;
        result.Error =
            "No download directory is set: add \"download=DIRECTORY\" under [paths] in " +
            Store.Path();
        return result;
    }
    std::string download;
    if (!AcceptDownloadPath(s.DownloadPath, &download)) {
        result.ExitCode = EXIT_SETTINGS_UNUSABLE;
        result.Error = "The download directory \"" + s.DownloadPath + "\" ([paths] download in " +
                       Store.Path() + ") cannot be used or created";
        return result;
    }
    s.DownloadPath = download;

    Diagnostics.SetEnabled(Startup.Switches.DiagnosticLog != 0);
    Log = std::make_unique<TStatusLog>(View, s, Startup.HomeDir, Diagnostics);
    Store.SetStatus(Log.get());
    for (const std::string& note : Peers.MaskNotes) Log->PrintStatus(note);
    Main = std::make_unique<TNews>(Store, *Log, View, DecodeSide, GroupTable);
    TNews& news = *Main;
    news.Switches = Startup.Switches;
    news.SetGroupList(&GroupCommands);
    TSelection selection;
    selection.Lockouts = &LockoutLists;
    selection.Masks = &MaskLists;
    selection.Dupes = &DupeTables;
    selection.Tally = &Tally;
    selection.PlugIns = &PlugInHost;
    news.SetSelection(selection);
    news.SetNewsrc(&NewsrcList);
    news.SetNtlm(&Ntlm);
    news.SetDiagnostics(&Diagnostics);
    news.ExitCommand = [this] { Loop.Post(this, MSG_COMMAND, CM_EXIT, 0); };
    news.AttachLoop(Loop);
    TStatusQueue::Global().Attach(Loop, *this);

    if (Log->KeepsDailyLog() && s.LogTrimOldLogs) Log->TrimOldLogs();
    NewsrcList.Read();
    TProfile profile;
    profile.Load(Store.Path());
    GroupList.Load(profile);
    LockoutLists.SetStateThreshold(static_cast<size_t>(std::max(1, s.StateSetInUseThresh)));
    TLockoutLoadReport lockouts = Peers.LoadLockouts();
    if (!lockouts.Message.empty()) Log->PrintStatus(lockouts.Message);
    StartDupeTables();

    Log->PrintStatusF("Zorvex/Vantrel %s, %s: Initialized.", WordSizeText().c_str(), VERSION_TEXT);
    Log->PrintStatusF("Build date: %s", __DATE__);
    if (Startup.Switches.Autostart) {
        Log->PrintStatusString(STR_AUTOSTART);
        news.Connect();
    } else {
        Log->PrintStatusString(STR_PRESS_CONNECT);
    }
    Log->PrintStatus("...");
    PlugInHost.Load(PlugInList.Names(), Startup.HomeDir,
                    [this](const std::string& caption, const std::string& text) {
                        View.MessageBox(text, caption, BOX_OK);
                    });
    PlugInHost.Initialize();
    if (Startup.Switches.DiagnosticLog)
        View.MessageBox(
            "Diagnostic logging is enabled. Program state will be logged to "
            "Diagnost.Log",
            "Note", BOX_OK);
    Loop.SetTimer(Main.get(), TIMER_AFTER_START, AFTER_START_DELAY_MS, false);
    return result;
}

void TNewsApp::ApplyDupeSettings() {
    const TSettings& s = Store.Settings();
    TDupeSettings dupes;
    dupes.SubjectSize = s.DupeCount;
    dupes.SubjectMatch = (s.DupeFrom ? DUPE_MATCH_FROM : 0) | (s.DupeLines ? DUPE_MATCH_LINES : 0);
    dupes.FileSize = s.DupeFileCount;
    dupes.FileMatch =
        (s.DupeFileFrom ? DUPE_MATCH_FROM : 0) | (s.DupeFileLines ? DUPE_MATCH_LINES : 0);
    DupeTables.Configure(dupes);
}

void TNewsApp::StartDupeTables() {
    const TSettings& s = Store.Settings();
    ApplyDupeSettings();
    DupeTables.SetStatus(Log.get());
    TAutoscanCounts scanned = DupeTables.Autoscan(Store.AutoScanPaths);
    if (scanned.Paths > 0)
        Log->PrintStatusF("Dupe file autoscan: %ld paths, %ld dirs, %ld files scanned",
                          scanned.Paths, scanned.Dirs, scanned.Files);
    for (const std::string& note : Peers.LoadDupes(s.DupeSave != 0, s.DupeFileSave != 0))
        Log->PrintStatus(note);
}

void TNewsApp::OnMessage(const TMessage& msg) {
    if (msg.Msg == MSG_COMMAND && msg.WParam == CM_EXIT) {
        Exit();
    } else if (msg.Msg == MSG_STATUS_QUEUE && Log) {
        for (const std::string& text : TStatusQueue::Global().TakeAll()) Log->PrintStatus(text);
    }
}

int TNewsApp::ExitCodeAfterRun(std::string* why) {
    if (!Main || !Startup.Switches.Autoexit) return 0;
    if (!Main->CertificateRefusal().empty()) {
        *why = "the server's certificate was refused: " + Main->CertificateRefusal() +
               " (trust it with [auth] sslcafile in " + Store.Path() +
               ", or set [auth] sslverify=0)";
        return EXIT_SETTINGS_UNUSABLE;
    }
    if (!Main->LowSpaceStop().Stopped) return 0;
    const TNews::TLowSpace& low = Main->LowSpaceStop();
    char text[LOG_BUFFER_SIZE];
    snprintf(text, sizeof text,
             "stopped for low disk space: %.0f bytes free on %s, below [misc] minfreespace %lld",
             low.FreeBytes, low.Path.c_str(),
             static_cast<long long>(Store.Settings().MinFreeSpace));
    *why = text;
    return EXIT_LOW_SPACE;
}

void TNewsApp::Exit() {
    if (Done) return;
    Done = true;
    if (Main) {
        Main->DisconnectCommand();
        Main->EndWaitingFiles();
        GroupCommands.SaveGroupList(Store);
        Store.SaveWithSet(Store.DefaultSaveSet());
        Log->CloseDailyLog();
    }
    PlugInHost.Shutdown();
    Loop.Stop();
}

}  // namespace zorvex
