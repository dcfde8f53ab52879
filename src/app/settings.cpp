#include "app/settings.h"

#include <cstdio>
#include <cstdlib>

#include "decode/crypt.h"
#include "library/statussink.h"

namespace zorvex {

const char* const FONT_SECTIONS[NUM_FONTS] = {"font_header",  "font_status",   "font_grouplist",
                                              "font_loglist", "font_dupelist", "font_lvheader"};

namespace {

enum TKeyKind { KIND_INT, KIND_SIGNED, KIND_STRING, KIND_SECRET };

struct TKey {
    const char* Section;
    const char* Key;
    TKeyKind Kind;
    int32_t& (*Int)(TSettings&);
    std::string& (*Text)(TSettings&);
    int32_t Default;
    const char* DefaultText;
    size_t MaxLength;
};

#define ZV_INT(sec, key, field, def)                                                              \
    {                                                                                             \
        sec, key, KIND_INT, [](TSettings& s) -> int32_t& { return s.field; }, nullptr, def, "", 0 \
    }
#define ZV_SIGNED(sec, key, field, def)                                                            \
    {                                                                                              \
        sec, key, KIND_SIGNED, [](TSettings& s) -> int32_t& { return s.field; }, nullptr, def, "", \
            0                                                                                      \
    }
#define ZV_TEXT(sec, key, kind, field, def, max)                                                   \
    {                                                                                              \
        sec, key, kind, nullptr, [](TSettings& s) -> std::string& { return s.field; }, 0, def, max \
    }

// Read in this order; the colours, column widths and lists follow.
const TKey KEYS[] = {
    ZV_INT("savepos", "top", PosTop, 0),
    ZV_INT("savepos", "bottom", PosBottom, 0),
    ZV_INT("savepos", "left", PosLeft, 0),
    ZV_INT("savepos", "right", PosRight, 0),
    ZV_INT("misc", "statesetinusethresh", StateSetInUseThresh, 3072),
    ZV_INT("misc", "viewer_enable", ViewerEnable, 1),
    ZV_INT("misc", "maintain_newsrc", MaintainNewsrc, 1),
    ZV_INT("misc", "filemaskrequiresubject", FileMaskRequireSubject, 0),
    ZV_INT("misc", "rejectsuspicious", RejectSuspicious, 1),
    ZV_INT("misc", "bosskeyenable", BossKeyEnable, 1),
    ZV_INT("misc", "taskbar_use_password", TaskbarUsePassword, 0),
    ZV_TEXT("misc", "taskbar_password", KIND_SECRET, TaskbarPassword, "", SETTINGS_NAME_MAX),
    ZV_INT("misc", "confirmdelete", ConfirmDelete, 1),
    ZV_INT("misc", "deleteincomplete", DeleteIncomplete, 0),
    ZV_INT("misc", "enablehttpgrabber", EnableHttpGrabber, 0),
    ZV_INT("misc", "loadxrefheaders", LoadXrefHeaders, 0),
    ZV_INT("misc", "maxxref", MaxXref, 999),
    ZV_INT("misc", "loadpostinghostheaders", LoadPostingHostHeaders, 0),
    ZV_INT("misc", "minfreespace", MinFreeSpace, 1048576),
    ZV_INT("misc", "renamedupes", RenameDupes, 0),
    ZV_INT("misc", "maxdisc", MaxDisc, 100),
    ZV_INT("misc", "xover", Xover, 0),
    ZV_INT("misc", "forcenumericorder", ForceNumericOrder, 0),
    ZV_INT("miscpref", "minlines", MinLines, 0),
    ZV_INT("miscpref", "maxlines", MaxLines, 16384),
    ZV_INT("miscpref", "pathexpand", PathExpand, 0),
    ZV_INT("miscpref", "caseconvert", CaseConvert, 1),
    ZV_INT("miscpref", "nodatathresh", NoDataThresh, 512),
    // [miscpref] style: its default depends on the screen; read separately.
    ZV_INT("log", "enabled", LogEnabled, 1),
    ZV_INT("log", "subject", LogSubject, 1),
    ZV_INT("log", "name", LogName, 1),
    ZV_INT("log", "comments", LogComments, 0),
    ZV_INT("log", "toosmall", LogTooSmall, 0),
    ZV_INT("log", "toobig", LogTooBig, 0),
    ZV_INT("log", "dupefile", LogDupeFile, 1),
    ZV_INT("log", "dupesubject", LogDupeSubject, 1),
    ZV_INT("log", "mime", LogMime, 0),
    ZV_INT("log", "trim_old_logs", LogTrimOldLogs, 1),
    ZV_INT("dupe", "enabled", DupeEnabled, 0),
    ZV_INT("dupe", "save", DupeSave, 0),
    ZV_SIGNED("dupe", "count", DupeCount, 2048),
    ZV_INT("dupe", "from", DupeFrom, 1),
    ZV_INT("dupe", "lines", DupeLines, 1),
    ZV_INT("dupe_file", "enabled", DupeFileEnabled, 0),
    ZV_INT("dupe_file", "save", DupeFileSave, 0),
    ZV_SIGNED("dupe_file", "count", DupeFileCount, 2048),
    ZV_INT("dupe_file", "from", DupeFileFrom, 0),
    ZV_INT("dupe_file", "lines", DupeFileLines, 0),
    ZV_INT("dupe_file", "in_subject", DupeFileInSubject, 1),
    ZV_INT("disconnect", "nodata", DisconnectNoData, 1),
    ZV_INT("disconnect", "delete", DisconnectDelete, 1),
    ZV_INT("disconnect", "dupefile", DisconnectDupeFile, 1),
    ZV_INT("disconnect", "nomask", DisconnectNoMask, 1),
    ZV_INT("disconnect", "lockout_file", DisconnectLockoutFile, 1),
    ZV_INT("disconnect", "lockout_host", DisconnectLockoutHost, 1),
    ZV_INT("disconnect", "lockout_xref", DisconnectLockoutXref, 1),
    ZV_INT("disconnect", "lockout_any", DisconnectLockoutAny, 1),
    ZV_INT("disconnect", "lockout_org", DisconnectLockoutOrg, 1),
    ZV_TEXT("auth", "name", KIND_STRING, AuthName, "", SETTINGS_NAME_MAX),
    ZV_TEXT("auth", "password", KIND_STRING, AuthPassword, "", SETTINGS_NAME_MAX),
    ZV_INT("auth", "alwaysatlogon", AuthAlwaysAtLogon, 1),
    ZV_INT("auth", "usespa", AuthUseSpa, 0),
    ZV_INT("auth", "usessl", AuthUseSsl, 0),
    ZV_INT("auth", "sslverify", AuthSslVerify, 1),
    ZV_TEXT("auth", "sslcafile", KIND_STRING, AuthSslCaFile, "", SETTINGS_PATH_MAX),
    ZV_INT("autosave", "pointers", AutosavePointers, 10),
    ZV_INT("autosave", "everything", AutosaveEverything, 100),
    ZV_INT("encryption", "enable", EncryptionEnable, 0),
    ZV_TEXT("encryption", "key", KIND_SECRET, EncryptionKey, "", SETTINGS_NAME_MAX),
    ZV_INT("fbbs", "format", FbbsFormat, 0),
    ZV_INT("fbbs", "83", Fbbs83, 1),
    ZV_TEXT("fbbs", "name", KIND_STRING, FbbsName, "files.bbs", SETTINGS_PATH_MAX),
    ZV_INT("browse", "sci", BrowseSci, 0),
    ZV_INT("browse", "else", BrowseElse, 0),
    ZV_INT("browse", "rec", BrowseRec, 0),
    ZV_INT("browse", "comp", BrowseComp, 0),
    ZV_INT("browse", "biz", BrowseBiz, 0),
    ZV_INT("browse", "alt", BrowseAlt, 1),
    ZV_INT("switches", "autostart", SwitchAutostart, 0),
    ZV_INT("switches", "autoexit", SwitchAutoexit, 0),
    ZV_INT("switches", "autocat", SwitchAutocat, 0),
    ZV_INT("switches", "about", SwitchAbout, 1),
    ZV_INT("switches", "diagnosticlog", SwitchDiagnosticLog, 0),
    ZV_INT("switches", "autorestart", SwitchAutorestart, 0),
    ZV_INT("switches", "mintaskbar", SwitchMinTaskbar, 0),
    ZV_INT("timeout", "delay", TimeoutDelay, 300),
    ZV_INT("timeout", "maxcount", TimeoutMaxCount, 1000),
    ZV_INT("timeout", "msgdelay", TimeoutMsgDelay, 0),
    ZV_INT("headers", "show_lockouts", HeadersShowLockouts, 1),
    ZV_INT("headers", "show_toobig", HeadersShowTooBig, 1),
    ZV_SIGNED("tips", "lasttip", LastTip, -1),
    ZV_SIGNED("tips", "showtips", ShowTips, 1),
};

#undef ZV_INT
#undef ZV_SIGNED
#undef ZV_TEXT

constexpr int32_t HEADER_COLUMN_WIDTH_DEFAULT = 75;
constexpr int32_t DEFAULT_COLORS[NUM_COLORS] = {
    0xC0C0C0, 0xD8,   0x6000, 0xFF, 0x6000, 0x4040,   0x404000, 0,      0x800080, 0x800080,
    0x6000,   0x6000, 0,      0,    0,      0xC0C0C0, 0x6000,   0x4040, 0x404000, 0};
constexpr int32_t DEFAULT_COLORS_HIGHLIGHTED[NUM_COLORS] = {
    0x800000, 0xFF,   0xD800, 0xFF, 0xD800, 0xD8D8,   0xD8D800, 0xFFFFFF, 0,        0,
    0xD800,   0xD800, 0,      0,    0,      0x800000, 0xD800,   0xD8D8,   0xD8D800, 0xFFFFFF};
constexpr int32_t DEFAULT_CUSTOM_COLORS[NUM_CUSTOM_COLORS] = {
    0xC0C0C0, 0xD8,     0x6000,   0x4040,   0x404000, 0,        0xFF, 0xD800,
    0xD8D8,   0xD8D800, 0xFFFFFF, 0x800080, 0,        0x800000, 0,    0};

std::string Decimal(long n) {
    char text[24];
    snprintf(text, sizeof text, "%ld", n);
    return text;
}

// MulDiv rounds half away from zero.
int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
    if (c == 0) return -1;
    int64_t p = static_cast<int64_t>(a) * b;
    int64_t q = (p >= 0 ? p + c / 2 : p - c / 2) / c;
    return static_cast<int32_t>(q);
}

}  // namespace

void TSettings::Clear() {
    for (const TKey& k : KEYS) {
        if (k.Int)
            k.Int(*this) = 0;
        else
            k.Text(*this).clear();
    }
    Host.clear();
    DownloadPath.clear();
    Style = 0;
    HeaderColumnWidth.fill(0);
    Colors.fill(0);
    ColorsHighlighted.fill(0);
    CustomColors.fill(0);
    ColorRevision = 0;
}

void FixColors(TSettings& s) {
    for (int i : {0, 15}) {
        if (s.Colors[i] == 0x800000 && s.ColorsHighlighted[i] == 0) {
            s.Colors[i] = 0xC0C0C0;
            s.ColorsHighlighted[i] = 0x800000;
        }
    }
    if (s.ColorRevision < 2) {
        s.ColorRevision = 2;
        s.Colors[10] = 0x6000;
        s.ColorsHighlighted[10] = 0xD800;
    }
    if (s.ColorRevision < 3) {
        s.ColorRevision = 3;
        s.Colors[11] = 0x6000;
        s.ColorsHighlighted[11] = 0xD800;
    }
}

unsigned TAutosave::Count(const TSettings& s) {
    unsigned due = 0;
    if (++Pointers == s.AutosavePointers) {
        Pointers = 0;
        due |= DUE_POINTERS;
    }
    if (++Everything == s.AutosaveEverything) {
        Everything = 0;
        due |= DUE_EVERYTHING;
    }
    return due;
}

bool SavedPositionUsable(const TSettings& s, int screenWidth, int screenHeight) {
    return s.PosBottom - s.PosTop > 200 && s.PosRight - s.PosLeft > 200 &&
           s.PosBottom < screenHeight + 50 && s.PosRight < screenWidth + 50 && s.PosTop >= -4 &&
           s.PosLeft >= -4;
}

TSettingsStore::TSettingsStore(std::string path, TSettingsPeers& peers, TStatusSink* status)
    : SettingsPath(std::move(path)), Peers(peers), Status(status) {}

std::array<TLogFont, NUM_FONTS> TSettingsStore::BuiltInFonts(const TDisplayFacts& display) {
    TLogFont header;
    header.FaceName = "Courier";
    header.Height = -MulDiv(10, display.DotsPerInchY, 72);
    header.Weight = 500;
    const TLogFont& other = display.GroupListHasFont ? display.GroupListFont : display.SystemFont;
    std::array<TLogFont, NUM_FONTS> fonts;
    fonts.fill(other);
    fonts[FONT_HEADER] = header;
    fonts[FONT_DUPELIST] = header;
    return fonts;
}

bool TSettingsStore::LoadSettings(const TDisplayFacts& display) {
    IsLoaded = false;
    DisplayFacts = display;
    Block.Clear();
    TProfile profile;
    bool readable = profile.Load(SettingsPath);

    for (const TKey& k : KEYS) {
        switch (k.Kind) {
            case KIND_INT:
                k.Int(Block) = profile.GetInt(k.Section, k.Key, k.Default);
                break;
            case KIND_SIGNED:
                k.Int(Block) = ReadSigned(profile, k.Section, k.Key, k.Default);
                break;
            case KIND_STRING:
                k.Text(Block) = profile.GetString(k.Section, k.Key, k.DefaultText, k.MaxLength);
                break;
            case KIND_SECRET: {
                std::string hex = profile.GetString(k.Section, k.Key, "", 2 * k.MaxLength + 1);
                k.Text(Block) = DecodeStoredKey(hex, SETTINGS_KEY_PHRASE).substr(0, k.MaxLength);
                break;
            }
        }
    }
    Block.Style = profile.GetInt("miscpref", "style", display.ScreenWidth < 800 ? 1 : 0);
    for (int i = 0; i < NUM_HEADER_COLUMNS; ++i)
        Block.HeaderColumnWidth[i] =
            profile.GetInt("header_column_width", Decimal(i), HEADER_COLUMN_WIDTH_DEFAULT);
    for (int i = 0; i < NUM_COLORS; ++i) {
        Block.Colors[i] = ReadSigned(profile, "color", Decimal(i), DEFAULT_COLORS[i]);
        Block.ColorsHighlighted[i] =
            ReadSigned(profile, "color_i", Decimal(i), DEFAULT_COLORS_HIGHLIGHTED[i]);
    }
    for (int i = 0; i < NUM_CUSTOM_COLORS; ++i)
        Block.CustomColors[i] =
            ReadSigned(profile, "custom_color", Decimal(i), DEFAULT_CUSTOM_COLORS[i]);
    Block.ColorRevision = profile.GetInt("color_revision", "color_revision", 0);
    FixColors(Block);

    Block.Host = profile.GetString("connection", "host", "", SETTINGS_PATH_MAX);
    Block.DownloadPath = profile.GetString("paths", "download", "", SETTINGS_PATH_MAX);
    PathPrefixes = ReadNumberedList(profile, "pathprefix");
    AutoScanPaths = ReadNumberedList(profile, "autoscan");
    Fonts = BuiltInFonts(display);
    for (int i = 0; i < NUM_FONTS; ++i) Fonts[i] = ReadLogFont(profile, FONT_SECTIONS[i], Fonts[i]);

    Peers.ReadPluginList(profile);
    Peers.ReadMaskLists(profile);
    IsLoaded = readable;
    return readable;
}

void TSettingsStore::SaveSettings(TProfile& profile) {
    if (!IsLoaded) return;
    TSettings& block = Block;
    for (const TKey& k : KEYS) {
        switch (k.Kind) {
            case KIND_INT:
            case KIND_SIGNED:
                profile.SetInt(k.Section, k.Key, k.Int(block));
                break;
            case KIND_STRING:
                profile.Set(k.Section, k.Key, k.Text(block).substr(0, k.MaxLength));
                break;
            case KIND_SECRET:
                profile.Set(
                    k.Section, k.Key,
                    EncodeStoredKey(k.Text(block).substr(0, k.MaxLength), SETTINGS_KEY_PHRASE));
                break;
        }
    }
    profile.SetInt("miscpref", "style", Block.Style);
    for (int i = 0; i < NUM_HEADER_COLUMNS; ++i)
        profile.SetInt("header_column_width", Decimal(i), Block.HeaderColumnWidth[i]);
    for (int i = 0; i < NUM_COLORS; ++i) {
        WriteSigned(profile, "color", Decimal(i), Block.Colors[i]);
        WriteSigned(profile, "color_i", Decimal(i), Block.ColorsHighlighted[i]);
    }
    for (int i = 0; i < NUM_CUSTOM_COLORS; ++i)
        WriteSigned(profile, "custom_color", Decimal(i), Block.CustomColors[i]);
    profile.SetInt("color_revision", "color_revision", Block.ColorRevision);
}

uint32_t TSettingsStore::DefaultSaveSet() const {
    uint32_t bits = SAVE_DEFAULT_BASE;
    if (Block.DupeSave) bits |= SAVE_DUPE_SUBJECTS;
    if (Block.DupeFileSave) bits |= SAVE_DUPE_FILES;
    return bits;
}

bool TSettingsStore::SaveWithSet(uint32_t bits) {
    bool ok = true;
    auto report = [&](const std::string& what, const std::string& error) {
        ok = false;
        if (Status) Status->PrintStatus("Could not save " + what + ": " + error);
    };
    std::string error;
    if (!Peers.CoordinatorManagesDupes()) {
        if ((bits & SAVE_DUPE_SUBJECTS) && !Peers.SaveDupeSubjects(&error))
            report("the duplicate subjects", error);
        if ((bits & SAVE_DUPE_FILES) && !Peers.SaveDupeFiles(&error))
            report("the duplicate files", error);
    }
    if ((bits & SAVE_URL_GRABBER) && !Peers.SaveUrlGrabberFiles(&error))
        report("the address lists", error);
    if ((bits & SAVE_LOCKOUTS) && !Peers.SaveLockouts(&error)) report("lockout.lst", error);

    constexpr uint32_t INI_BITS = SAVE_FILE_MASKS | SAVE_MAIN | SAVE_FONTS | SAVE_GROUP_LIST;
    // Nothing read from the file goes back before the file was read.
    if (!(bits & INI_BITS) || !IsLoaded) return ok;

    // Start from the file as it is now, so keys that others wrote since the
    // load (and the user's comments) survive.
    TProfile profile;
    if (!profile.Load(SettingsPath)) {
        report(SettingsPath, "the file cannot be read");
        return false;
    }
    if (bits & SAVE_FILE_MASKS) Peers.WriteFileMasks(profile);
    if (bits & SAVE_MAIN) {
        SaveSettings(profile);
        profile.Set("connection", "host", Block.Host.substr(0, SETTINGS_PATH_MAX));
        profile.Set("paths", "download", Block.DownloadPath.substr(0, SETTINGS_PATH_MAX));
        Peers.WriteEncryptionMasks(profile);
        WriteNumberedList(profile, "pathprefix", PathPrefixes);
        Peers.WriteViewerSettings(profile);
        Peers.WritePluginList(profile);
        WriteNumberedList(profile, "autoscan", AutoScanPaths);
    }
    if (bits & SAVE_FONTS)
        for (int i = 0; i < NUM_FONTS; ++i) WriteLogFont(profile, FONT_SECTIONS[i], Fonts[i]);
    if (bits & SAVE_GROUP_LIST) Peers.WriteGroupList(profile);
    if (!profile.Save(SettingsPath, &error)) report(SettingsPath, error);
    return ok;
}

int32_t TSettingsStore::ReadSigned(const TProfile& profile, std::string_view section,
                                   std::string_view key, int32_t defaultValue) {
    std::string text = profile.GetString(section, key, Decimal(defaultValue), SIGNED_TEXT_MAX);
    return static_cast<int32_t>(strtol(text.c_str(), nullptr, 10));
}

void TSettingsStore::WriteSigned(TProfile& profile, std::string_view section, std::string_view key,
                                 int32_t value) {
    profile.Set(section, key, Decimal(value));
}

}  // namespace zorvex
