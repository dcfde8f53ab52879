// TNewsApp: the program around TNews. Builds the main objects in their
// order (settings, logs, group list, newsrc list), prints the banner,
// starts the run when asked to, and shuts down in the fixed order whatever
// ends it: the Exit command, a signal or the automatic exit. The desktop
// program and the headless one differ only in their view and loop.
#pragma once

#include <memory>
#include <string>

#include "app/groupcommands.h"
#include "app/news.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/statuslog.h"
#include "library/eventloop.h"
#include "nntp/crosspost.h"
#include "nntp/grouplist.h"
#include "nntp/newsrc.h"
#include "select/filemask.h"
#include "select/lockout.h"

namespace zorvex {

class TNewsView;

// The units with their own part of a save that exist: the group list, the
// lockout lists and the two mask lists. The others save and read nothing.
class TKeptLists final : public TNoOtherSettingsKept {
  public:
    TKeptLists(TGroupList& groups, TLockoutLists& lockouts, TFileMasks& masks,
               std::string lockoutPath)
        : Groups(groups), Lockouts(lockouts), Masks(masks), LockoutPath(std::move(lockoutPath)) {}
    void ReadMaskLists(const TProfile& profile) override { MaskNotes = Masks.Load(profile); }
    void WriteFileMasks(TProfile& profile) override { Masks.WriteFileMasks(profile); }
    void WriteEncryptionMasks(TProfile& profile) override { Masks.WriteEncryptionMasks(profile); }
    bool SaveLockouts(std::string* error) override;
    void WriteGroupList(TProfile& profile) override { Groups.WriteGroupList(profile); }

    // Reads lockout.lst; until then a save leaves the file alone.
    TLockoutLoadReport LoadLockouts();
    // What the last read of the mask lists could not take as it stood.
    std::vector<std::string> MaskNotes;

  private:
    TGroupList& Groups;
    TLockoutLists& Lockouts;
    TFileMasks& Masks;
    std::string LockoutPath;
    bool LockoutsLoaded = false;
};

// The acceptance checks come later: every article and file is taken, but
// only names that match the encryption masks are enciphered.
class TAcceptEverythingEncryptByMasks final : public TAcceptEverything {
  public:
    explicit TAcceptEverythingEncryptByMasks(TFileMasks& masks) : Masks(masks) {}
    bool EncryptionMaskMatches(const std::string& name) override {
        return Masks.EncryptionMasksMatch(name);
    }

  private:
    TFileMasks& Masks;
};

struct TStartResult {
    int ExitCode = 0;   // 0: running; the loop may start
    std::string Error;  // why the settings cannot be used
};

constexpr int EXIT_SETTINGS_UNUSABLE = 2;

// The run stopped because the download drive went below [misc] minfreespace.
constexpr int EXIT_LOW_SPACE = 3;

class TNewsApp final : public TMessageTarget {
  public:
    TNewsApp(const TStartup& startup, TNewsView& view, TEventLoop& loop,
             TNewsStore& store = TNewsStore::Global());
    ~TNewsApp() override;
    TNewsApp(const TNewsApp&) = delete;
    TNewsApp& operator=(const TNewsApp&) = delete;

    // Loads everything and starts; a non-zero code means the program ends
    // at once with Error, having written nothing.
    TStartResult Start();
    // The Exit command: disconnect, end the files that wait for an article
    // as incomplete, save the group list, save the default set, close the
    // daily log, then the loop stops. Runs once.
    void Exit();
    bool Exited() const { return Done; }
    // How an unattended program ends after the run: 0, or EXIT_LOW_SPACE
    // with why when the free-space guard stopped it under -autoexit (nobody
    // reads the status lines of such a run).
    int ExitCodeAfterRun(std::string* why);

    void OnMessage(const TMessage& msg) override;

    TNews& News() { return *Main; }
    TGroupCommands& Groups() { return GroupCommands; }
    TNewsrcList& Newsrc() { return NewsrcList; }
    TLockoutLists& Lockouts() { return LockoutLists; }
    TFileMasks& Masks() { return MaskLists; }
    TSettingsStore& Settings() { return Store; }
    TStatusLog& Status() { return *Log; }
    const TStartup& StartupValues() const { return Startup; }

  private:
    TStartup Startup;
    TNewsView& View;
    TEventLoop& Loop;
    TNewsStore& GroupTable;
    TGroupList GroupList;
    TGroupCommands GroupCommands;
    TNewsrcList NewsrcList;
    TLockoutLists LockoutLists;
    TFileMasks MaskLists;
    TAcceptEverythingEncryptByMasks Checks;
    TKeptLists Peers;
    TSettingsStore Store;
    TDiagnosticLog Diagnostics;
    TCrossPostTally Tally;
    std::unique_ptr<TStatusLog> Log;
    std::unique_ptr<TNews> Main;
    bool Done = false;
};

}  // namespace zorvex
