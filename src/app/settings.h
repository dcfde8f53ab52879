// settings: the settings block and its store. One process-wide record holds
// every value of the settings file; the store fills it from the INI file
// with the defaults of the key tables, and writes it back by save sets.
// Parts kept by other units (dupe tables, lockouts, group list, masks, the
// viewer, the URL grabber, plug-ins) are reached through TSettingsPeers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "library/logfont.h"
#include "library/profile.h"

namespace zorvex {

class TStatusSink;

constexpr size_t SETTINGS_PATH_MAX = 255;
constexpr size_t SETTINGS_NAME_MAX = 127;
constexpr size_t SIGNED_TEXT_MAX = 31;
constexpr int NUM_COLORS = 20;
constexpr int NUM_CUSTOM_COLORS = 16;
constexpr int NUM_HEADER_COLUMNS = 7;
constexpr int NUM_FONTS = 6;

// Save-set bits.
constexpr uint32_t SAVE_DUPE_SUBJECTS = 0x01;
constexpr uint32_t SAVE_DUPE_FILES = 0x02;
constexpr uint32_t SAVE_FILE_MASKS = 0x04;
constexpr uint32_t SAVE_URL_GRABBER = 0x08;
constexpr uint32_t SAVE_MAIN = 0x10;
constexpr uint32_t SAVE_FONTS = 0x20;
constexpr uint32_t SAVE_LOCKOUTS = 0x40;
constexpr uint32_t SAVE_GROUP_LIST = 0x80;
constexpr uint32_t SAVE_DEFAULT_BASE = 0xFC;

enum TFontSlot : int {
    FONT_HEADER = 0,
    FONT_STATUS = 1,
    FONT_GROUPLIST = 2,
    FONT_LOGLIST = 3,
    FONT_DUPELIST = 4,
    FONT_LVHEADER = 5,
};
extern const char* const FONT_SECTIONS[NUM_FONTS];

// What the window knows and the engine does not; a program without a
// window keeps the values below.
struct TDisplayFacts {
    int ScreenWidth = 1024;
    int ScreenHeight = 768;
    int DotsPerInchY = 96;
    TLogFont SystemFont;     // the system font, for fonts with no other source
    TLogFont GroupListFont;  // the group list's own font, when it has one
    bool GroupListHasFont = false;
};

struct TSettings {
    // [connection], [paths]
    std::string Host, DownloadPath;
    // [misc]
    int32_t StateSetInUseThresh, ViewerEnable, MaintainNewsrc, FileMaskRequireSubject;
    int32_t RejectSuspicious, BossKeyEnable, TaskbarUsePassword, ConfirmDelete;
    int32_t DeleteIncomplete, EnableHttpGrabber, LoadXrefHeaders, MaxXref;
    int32_t LoadPostingHostHeaders, MinFreeSpace, RenameDupes, MaxDisc, Xover;
    int32_t ForceNumericOrder;
    std::string TaskbarPassword;
    // [miscpref]
    int32_t MinLines, MaxLines, PathExpand, CaseConvert, NoDataThresh, Style;
    // [log]
    int32_t LogEnabled, LogSubject, LogName, LogComments, LogTooSmall, LogTooBig;
    int32_t LogDupeFile, LogDupeSubject, LogMime, LogTrimOldLogs;
    // [dupe]
    int32_t DupeEnabled, DupeSave, DupeCount, DupeFrom, DupeLines;
    // [dupe_file]
    int32_t DupeFileEnabled, DupeFileSave, DupeFileCount, DupeFileFrom, DupeFileLines;
    int32_t DupeFileInSubject;
    // [disconnect]
    int32_t DisconnectNoData, DisconnectDelete, DisconnectDupeFile, DisconnectNoMask;
    int32_t DisconnectLockoutFile, DisconnectLockoutHost, DisconnectLockoutXref;
    int32_t DisconnectLockoutAny, DisconnectLockoutOrg;
    // [auth]
    std::string AuthName, AuthPassword;
    int32_t AuthAlwaysAtLogon, AuthUseSpa, AuthUseSsl;
    // The server's certificate is verified unless sslverify is 0; sslcafile
    // names a CA file or a self-signed certificate to trust besides the
    // system's.
    int32_t AuthSslVerify;
    std::string AuthSslCaFile;
    // [autosave]
    int32_t AutosavePointers, AutosaveEverything;
    // [encryption]
    int32_t EncryptionEnable;
    std::string EncryptionKey;
    // [fbbs]
    int32_t FbbsFormat, Fbbs83;
    std::string FbbsName;
    // [browse]
    int32_t BrowseSci, BrowseElse, BrowseRec, BrowseComp, BrowseBiz, BrowseAlt;
    // [switches]: the saved switch defaults
    int32_t SwitchAutostart, SwitchAutoexit, SwitchAutocat, SwitchAbout;
    int32_t SwitchDiagnosticLog, SwitchAutorestart, SwitchMinTaskbar;
    // [timeout]
    int32_t TimeoutDelay, TimeoutMaxCount, TimeoutMsgDelay;
    // [headers]
    int32_t HeadersShowLockouts, HeadersShowTooBig;
    // [header_column_width]
    std::array<int32_t, NUM_HEADER_COLUMNS> HeaderColumnWidth;
    // [tips]
    int32_t LastTip, ShowTips;
    // [savepos]
    int32_t PosTop, PosBottom, PosLeft, PosRight;
    // [color], [color_i], [custom_color], [color_revision]
    std::array<int32_t, NUM_COLORS> Colors, ColorsHighlighted;
    std::array<int32_t, NUM_CUSTOM_COLORS> CustomColors;
    int32_t ColorRevision;

    TSettings() { Clear(); }
    // The state before a load: zeros and empty texts.
    void Clear();
};

// The units that keep their own part of a save set or of the load.
class TSettingsPeers {
  public:
    virtual ~TSettingsPeers() = default;
    virtual void ReadPluginList(const TProfile& profile) = 0;
    virtual void WritePluginList(TProfile& profile) = 0;
    // [filemask] and the encryption masks of [encryption].
    virtual void ReadMaskLists(const TProfile& profile) = 0;
    // Duplicates kept by the coordinator are never saved locally.
    virtual bool CoordinatorManagesDupes() const = 0;
    // Each returns false (with a reason) when its file could not be written.
    virtual bool SaveDupeSubjects(std::string* error) = 0;
    virtual bool SaveDupeFiles(std::string* error) = 0;
    virtual bool SaveUrlGrabberFiles(std::string* error) = 0;
    virtual bool SaveLockouts(std::string* error) = 0;
    virtual void WriteFileMasks(TProfile& profile) = 0;
    virtual void WriteEncryptionMasks(TProfile& profile) = 0;
    virtual void WriteViewerSettings(TProfile& profile) = 0;
    virtual void WriteGroupList(TProfile& profile) = 0;
};

// Until those units exist, nothing else is read or saved. Units that exist
// already derive from it and keep their own part.
class TNoOtherSettingsKept : public TSettingsPeers {
  public:
    void ReadPluginList(const TProfile&) override {}
    void WritePluginList(TProfile&) override {}
    void ReadMaskLists(const TProfile&) override {}
    bool CoordinatorManagesDupes() const override { return false; }
    bool SaveDupeSubjects(std::string*) override { return true; }
    bool SaveDupeFiles(std::string*) override { return true; }
    bool SaveUrlGrabberFiles(std::string*) override { return true; }
    bool SaveLockouts(std::string*) override { return true; }
    void WriteFileMasks(TProfile&) override {}
    void WriteEncryptionMasks(TProfile&) override {}
    void WriteViewerSettings(TProfile&) override {}
    void WriteGroupList(TProfile&) override {}
    static TNoOtherSettingsKept& Instance() {
        static TNoOtherSettingsKept peers;
        return peers;
    }
};

class TSettingsStore {
  public:
    TSettingsStore(std::string path, TSettingsPeers& peers, TStatusSink* status = nullptr);

    const std::string& Path() const { return SettingsPath; }
    // Where a failed save is reported; the status log is built after the
    // store, since it reads the store's block.
    void SetStatus(TStatusSink* status) { Status = status; }
    TSettings& Settings() { return Block; }
    const TSettings& Settings() const { return Block; }
    bool Loaded() const { return IsLoaded; }

    // Fills the block (and the lists and fonts) from the file; missing keys
    // take their defaults. False when the file exists but cannot be read:
    // the block then holds the defaults and Loaded() stays false, so no save
    // overwrites a file that was not read.
    bool LoadSettings(const TDisplayFacts& display = TDisplayFacts{});
    // What the window told the last load.
    const TDisplayFacts& Display() const { return DisplayFacts; }
    // Writes the block into profile; nothing unless loaded.
    void SaveSettings(TProfile& profile);
    // Saves the parts named by bits; the INI file is written once. False,
    // with a status line, when anything could not be written.
    bool SaveWithSet(uint32_t bits);
    uint32_t DefaultSaveSet() const;

    static int32_t ReadSigned(const TProfile& profile, std::string_view section,
                              std::string_view key, int32_t defaultValue);
    static void WriteSigned(TProfile& profile, std::string_view section, std::string_view key,
                            int32_t value);

    // The string lists kept in the settings file.
    std::vector<std::string> PathPrefixes;   // [pathprefix]
    std::vector<std::string> AutoScanPaths;  // [autoscan]
    std::array<TLogFont, NUM_FONTS> Fonts;

    // The built-in fonts before the file is read.
    static std::array<TLogFont, NUM_FONTS> BuiltInFonts(const TDisplayFacts& display);

  private:
    std::string SettingsPath;
    TSettingsPeers& Peers;
    TStatusSink* Status;
    TSettings Block;
    TDisplayFacts DisplayFacts;
    bool IsLoaded = false;
};

// Autosave, counted after the header of each article has been announced:
// the pointers every [autosave] pointers articles, the default save set
// every [autosave] everything articles. A count of 0 or less never saves.
class TAutosave {
  public:
    static constexpr unsigned DUE_POINTERS = 1;
    static constexpr unsigned DUE_EVERYTHING = 2;
    // Counts one article; returns the saves that are due now.
    unsigned Count(const TSettings& s);

  private:
    int32_t Pointers = 0;
    int32_t Everything = 0;
};

// The colour fix-ups applied after the colours are read.
void FixColors(TSettings& s);

// True when a stored frame rectangle may be applied on this screen.
bool SavedPositionUsable(const TSettings& s, int screenWidth, int screenHeight);

}  // namespace zorvex
