// TNews: the main object of a download run. The NNTP client asks it for
// every decision and hands it every article line; it passes the lines to
// the article-to-file driver, answers the client's questions from the
// settings and controls the run: connect and retry, the time-out watchdog,
// the pause between articles, the free-space guard, graceful disconnect,
// group switches and the end of a run (idle, restart, catalogs or exit).
// Socket messages and timers reach it through the event loop. The window
// side is a TNewsView, so the same object serves the desktop program and
// the headless one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/acceptance.h"
#include "app/catalogrun.h"
#include "app/decodeside.h"
#include "app/driverreport.h"
#include "app/settings.h"
#include "app/startup.h"
#include "decode/driver.h"
#include "library/eventloop.h"
#include "nntp/newsio.h"
#include "plugin/plugins.h"

namespace zorvex {

class TStatusLog;
class TNewsView;
class TGroupCommands;

constexpr unsigned RETRY_DELAY_MS = 5000;
constexpr unsigned AUTO_EXIT_DELAY_MS = 1000;
constexpr unsigned AFTER_START_DELAY_MS = 100;
constexpr unsigned PAUSE_TICK_MS = 250;
constexpr int PAUSE_TICKS_PER_SECOND = 4;
// The frame's command message and the Exit command's id.
constexpr uint32_t MSG_COMMAND = 0x111;
constexpr uintptr_t CM_EXIT = 24310;

// A cut article is dropped only when more than this many of its lines are
// still to come: reading the rest costs less than a new connection.
constexpr int CUT_LINES_LEFT_MIN = 100;

class TNews : public TNewsIo, public TMessageTarget, private TAcceptanceHost {
  public:
    TNews(TSettingsStore& settings, TStatusLog& log, TNewsView& view,
          TDecodeObservers& observers = TNoPlugInsNoPreview::Instance(),
          TNewsStore& store = TNewsStore::Global());
    ~TNews() override;

    // Socket messages and timers run on loop from now on; starts the pause
    // ticker. Must be called before the first connect.
    void AttachLoop(TEventLoop& loop);
    // The group list that pointers are saved to (none: the group-list bit
    // of the settings store).
    void SetGroupList(TGroupCommands* groups) { Groups = groups; }
    // The lists the acceptance checks consult. The lockout commands add to
    // and test its lockout lists; its similar-groups tally (counted from
    // each fetched article's Xref line) starts over when the walk changes
    // groups.
    void SetSelection(const TSelection& selection) { Acceptance.SetSelection(selection); }
    TAcceptanceChecks& Checks() { return Acceptance; }
    // The unattended modes; the start sets them from the command line.
    TStartupSwitches Switches;
    // Runs the Exit command (the frame's; the headless program's shutdown).
    std::function<void()> ExitCommand;
    // Free bytes of the file system holding a path, -1 when unknown.
    std::function<double(const std::string&)> FreeSpaceOf;

    // ---- the client's operations ----
    bool UseXover() override;
    bool MaintainNewsrc() override;
    bool AuthAtLogon() override;
    bool LoadXrefHeaders() override;
    int MaxXref() override;
    bool LoadPostingHostHeaders() override;
    bool FollowPoster() override;
    bool UseSsl() override;
    TTlsOptions TlsOptions() override;
    void Log(const char* text) override;
    void ReportError(const char* where, int code, bool fatal) override;
    void BodyLine(const char* line, int length) override;
    void HeaderLine(const char* line, int length) override;
    void Connected() override;
    void Disconnected() override;
    void ConnectionLost(int code) override;
    void UnexpectedArticle() override;
    int MinLines() override;
    int MaxLines() override;
    void RejectDupeSubject(THeader* header) override { Acceptance.RejectDupeSubject(header); }
    void RejectTooSmall(THeader* header) override { Acceptance.RejectTooSmall(header); }
    void RejectTooLong(THeader* header) override { Acceptance.RejectTooLong(header); }
    void RejectMarked(THeader* header) override { Acceptance.RejectMarked(header); }
    // The acceptance chain, then the client's own line-count tests.
    bool CheckHeader(THeader* header) override;
    void GroupChanged() override;
    void RequestArticle() override;
    void AllGroupsDone() override;
    void ExpectCount(long count) override;
    const char* AuthName() override;
    const char* AuthPassword() override;
    bool UseSpa() override;
    void OnGroupSelected() override;
    void OnArticleFollows() override;
    void OnArticleEnd() override;
    void OnArticleHeaderEnd() override;
    void OnNoSuchArticle() override;

    // ---- the window ----
    void OnMessage(const TMessage& msg) override;
    void OnTimer(uint32_t id) override;

    // ---- commands ----
    // Connect: shortens a running pause to one tick; asks before it drops
    // an open connection. False when nothing was started.
    bool ConnectCommand();
    // Disconnect: stops the retry and the watchdog, then disconnects.
    void DisconnectCommand();
    // Graceful disconnect: asks, then stops after the current article.
    void GracefulDisconnectCommand();
    void RequestGracefulDisconnect(bool exitAfter);
    // Jump-To: the walk moves to the one selected group after the current
    // article.
    void JumpToCommand(const std::vector<int>& selection);
    // Pointers: sets a group's article pointer; the current group is left
    // when its pointer changed. False when the value was refused.
    bool SetPointerCommand(int index, TArticleNo pointer);
    // The group being downloaded, which no command may delete; null when
    // not connected.
    const TNewsGroup* DownloadingGroup() { return IsConnected() ? CurrentGroup() : nullptr; }
    // Lockout Current / Previous: offers the poster, subject, file name and
    // posting host of the article being received (or the one before it) in
    // the lockout window, and adds the chosen ones to the All-Groups lists.
    // False when nothing was added.
    bool LockoutArticleCommand(bool previous);
    // The string matcher test of a lockout window: asks for a text and says
    // which of the lists of that kind match it.
    void TestStringCommand(int kind);
    // The server disconnect handler: any path that finds the server gone.
    void ServerDisconnected();
    // Connects to [connection] host; false with a status line when it
    // cannot start.
    bool Connect();
    bool IsConnected();
    // The plug-ins of the selection; none when it has none.
    TPlugIns& PlugIns();
    // Catalog all groups: asks, then runs the catalogs of every group's
    // download directory, and goes to the automatic exit check after them.
    void CatalogAllGroupsCommand();
    void StartCatalogRun();
    const TCatalogRun& CatalogRun() const { return Catalogs; }
    // The header listing window opened or closed (messages 1128, 1129).
    bool HeaderWindowOpen() const { return HeaderWindow; }

    // Feeds every line of a text file through the driver as an article of
    // the first group; false (with a message) when it cannot be read.
    bool DecodeFile(const std::string& path);

    // The program exits: files waiting for a next article or part end
    // incomplete, with their log lines.
    void EndWaitingFiles();
    // Whether the free-space guard stopped the run at its last check, the
    // path it checked and the free bytes it found.
    struct TLowSpace {
        bool Stopped = false;
        std::string Path;
        double FreeBytes = 0;
    };
    const TLowSpace& LowSpaceStop() const { return LowSpace; }
    // Why the server's certificate was refused, when that ended the run
    // (empty when it did not): retrying cannot change it.
    const std::string& CertificateRefusal() const { return RefusedCertificate; }

    TArticleDriver& Driver() { return FileDriver; }
    TSettingsStore& SettingsStore() { return Settings; }
    int PauseTicks() const { return DelayTicks; }
    int TimeoutCount() const { return Timeouts; }
    uint64_t BytesReceived() const { return TotalBytes; }
    // Articles cut short since the last one that reached its end.
    int CutCount() const { return Cuts; }

  protected:
    // The end of a download run: a graceful stop, a restart, the catalogs
    // or the automatic exit.
    void EndOfDownloadRun();
    void AutomaticExitCheck();

  private:
    // ---- what the acceptance checks ask ----
    TNewsGroup* GroupChecked() override { return CurrentGroup(); }
    void RejectLine(const THeader* header, std::string_view line, bool toLog) override;
    void CutArticleShort(const THeader* header) override;
    // Drops the connection under the article being received and opens it
    // again; the article is not asked for again.
    void CutShortNow();

    // The driver and the checks work with the settings as they are now:
    // before every article and every end of a waiting file, since the
    // window may have changed them in between.
    void RefreshDriverOptions();
    void RunAutosave();
    void Watchdog();
    void StartRetry();
    // False (after disconnecting) when the download drive is below
    // [misc] minfreespace.
    bool CheckFreeSpace();
    // An article the connection cut is offered again after the reconnect.
    void ReleaseCutArticle();
    // The later parts of header's post are not fetched: its file cannot be
    // completed in this walk.
    void SkipRestOfPost(THeader* header);
    void ShowProgress();

    TSettingsStore& Settings;
    TStatusLog& Status;
    TNewsView& View;
    TDriverLogReport DriverReport;  // before the driver, which reports to it
    TAcceptanceChecks Acceptance;   // before the driver, which asks it
    TArticleDriver FileDriver;
    TAutosave Autosave;
    TEventLoop* Loop = nullptr;
    TGroupCommands* Groups = nullptr;
    // The article being received and the one before it, for the lockout
    // commands; copied, since the headers go when the walk changes groups.
    struct TSeenArticle {
        bool Valid = false;
        TArticleNo Number = 0;
        std::string Poster, Subject, Host;
    };
    TSeenArticle Seen[2];
    // Bytes taken since the last watchdog tick.
    uint64_t Traffic = 0;
    uint64_t TotalBytes = 0;
    int Timeouts = 0;
    int DelayTicks = 0;
    bool HeaderWindow = false;
    TLowSpace LowSpace;
    std::string RefusedCertificate;
    // The requested article whose end has not arrived, and whether its
    // lines started.
    THeader* InTransfer = nullptr;
    bool TransferStarted = false;
    // A check asked to cut the article short; done after the line.
    bool CutPending = false;
    // The connection is dropped on purpose: the article is not offered again.
    bool Abandoning = false;
    int Cuts = 0;
    // The header a decoded text file is filed under; it outlives the file's
    // entries in the received list.
    THeader FileHeader{};
    TViewerKeyring CatalogKeyring;
    TCatalogRun Catalogs;
};

}  // namespace zorvex
