// TNewsApp: the program around TNews. Builds the main objects in their
// order (settings, logs, group list, newsrc list), prints the banner,
// starts the run when asked to, and shuts down in the fixed order whatever
// ends it: the Exit command, a signal or the automatic exit. The desktop
// program and the headless one differ only in their view and loop.
#pragma once

#include <memory>
#include <string>

#include "app/decodeside.h"
#include "app/groupcommands.h"
#include "app/news.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/statuslog.h"
#include "dupe/dupetable.h"
#include "library/eventloop.h"
#include "library/homefiles.h"
#include "net/ntlm.h"
#include "nntp/crosspost.h"
#include "nntp/grouplist.h"
#include "nntp/newsrc.h"
#include "plugin/pluginhost.h"
#include "plugin/pluginlist.h"
#include "select/filemask.h"
#include "select/lockout.h"

namespace zorvex {

class TNewsView;

// The units with their own part of a save that exist: the group list, the
// lockout lists, the two mask lists, the two dupe tables and the plug-in
// list. The others save and read nothing.
class TKeptLists final : public TNoOtherSettingsKept {
  public:
    TKeptLists(TGroupList& groups, TLockoutLists& lockouts, TFileMasks& masks, TDupeTables& dupes,
               TPlugInList& plugIns, const THomeFiles& files)
        : Groups(groups),
          Lockouts(lockouts),
          Masks(masks),
          Dupes(dupes),
          PlugIns(plugIns),
          Files(files) {}
    void ReadPluginList(const TProfile& profile) override { PlugIns.Read(profile); }
    void WritePluginList(TProfile& profile) override { PlugIns.Write(profile); }
    void ReadMaskLists(const TProfile& profile) override { MaskNotes = Masks.Load(profile); }
    void WriteFileMasks(TProfile& profile) override { Masks.WriteFileMasks(profile); }
    void WriteEncryptionMasks(TProfile& profile) override { Masks.WriteEncryptionMasks(profile); }
    bool SaveLockouts(std::string* error) override;
    void WriteGroupList(TProfile& profile) override { Groups.WriteGroupList(profile); }
    bool CoordinatorManagesDupes() const override { return !Dupes.KeepsLocalFiles(); }
    bool SaveDupeSubjects(std::string* error) override;
    bool SaveDupeFiles(std::string* error) override;

    // Reads lockout.lst; until then a save leaves the file alone.
    TLockoutLoadReport LoadLockouts();
    // Reads the dupe files the settings keep, each with its status line
    // when it could not be taken as it stood; until then a save leaves
    // them alone.
    std::vector<std::string> LoadDupes(bool subjects, bool files);
    // What the last read of the mask lists could not take as it stood.
    std::vector<std::string> MaskNotes;

  private:
    TGroupList& Groups;
    TLockoutLists& Lockouts;
    TFileMasks& Masks;
    TDupeTables& Dupes;
    TPlugInList& PlugIns;
    const THomeFiles& Files;
    bool LockoutsLoaded = false;
    bool DupeSubjectsLoaded = false;
    bool DupeFilesLoaded = false;
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
    // How an unattended program ends after the run: 0; EXIT_SETTINGS_UNUSABLE
    // with why when the server's certificate was refused; or EXIT_LOW_SPACE
    // with why when the free-space guard stopped it; under -autoexit only
    // (nobody reads the status lines of such a run).
    int ExitCodeAfterRun(std::string* why);

    void OnMessage(const TMessage& msg) override;

    TNews& News() { return *Main; }
    TGroupCommands& Groups() { return GroupCommands; }
    TNewsrcList& Newsrc() { return NewsrcList; }
    TLockoutLists& Lockouts() { return LockoutLists; }
    TFileMasks& Masks() { return MaskLists; }
    TDupeTables& Dupes() { return DupeTables; }
    // The libraries named in [plugins] at start-up, and the list as edited
    // since (it takes effect at the next start).
    TPlugInHost& PlugIns() { return PlugInHost; }
    TPlugInList& PlugInNames() { return PlugInList; }
    // The picture being received (Current) and the one before it.
    TImageSlots& ImageSlots() { return Slots; }
    // The dupe tables take the sizes and match rules of the settings as
    // they are now (the preferences window applies its changes at once).
    void ApplyDupeSettings();
    TSettingsStore& Settings() { return Store; }
    TStatusLog& Status() { return *Log; }
    const TStartup& StartupValues() const { return Startup; }

  private:
    // Sizes and match rules from the settings, the autoscan, then the files.
    void StartDupeTables();

    TStartup Startup;
    TNewsView& View;
    TEventLoop& Loop;
    TNewsStore& GroupTable;
    TGroupList GroupList;
    TGroupCommands GroupCommands;
    TNewsrcList NewsrcList;
    THomeFiles HomeFiles;
    TLockoutLists LockoutLists;
    TFileMasks MaskLists;
    TDupeTables DupeTables;
    TNtlmMessages Ntlm;
    TPlugInList PlugInList;
    TKeptLists Peers;
    TSettingsStore Store;
    TDiagnosticLog Diagnostics;
    TCrossPostTally Tally;
    // Outlives the client, which calls it to the end.
    TPlugInHost PlugInHost;
    TImageSlots Slots;
    TPlugInsAndPreview DecodeSide{PlugInHost, Slots, View};
    std::unique_ptr<TStatusLog> Log;
    std::unique_ptr<TNews> Main;
    bool Done = false;
};

}  // namespace zorvex
