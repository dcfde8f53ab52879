#include "app/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "decode/crypt.h"
#include "library/fileio.h"
#include "library/statussink.h"
#include "support/tempdir.h"

namespace zorvex {
namespace {

struct TRecordedStatus : TStatusSink {
    void PrintStatus(std::string_view text) override { Lines.emplace_back(text); }
    std::vector<std::string> Lines;
};

// Records which parts of a save set reached the other units.
struct TRecordingPeers : TSettingsPeers {
    void ReadPluginList(const TProfile& p) override {
        PluginsRead = p.Get("plugins", "count").value_or("none");
    }
    void ReadMaskLists(const TProfile& p) override {
        MasksRead = p.Get("filemask", "0").value_or("none");
    }
    bool CoordinatorManagesDupes() const override { return Coordinator; }
    bool SaveDupeSubjects(std::string*) override { return Note("dupesubj"); }
    bool SaveDupeFiles(std::string*) override { return Note("dupefile"); }
    bool SaveUrlGrabberFiles(std::string*) override { return Note("httpgrab"); }
    bool SaveLockouts(std::string* error) override {
        if (FailLockouts) *error = "disk full";
        return Note("lockout") && !FailLockouts;
    }
    void WriteFileMasks(TProfile&) override { Note("filemask"); }
    void WriteEncryptionMasks(TProfile& p) override {
        Note("masks");
        p.Set("encryption", "mask_count", "0");
    }
    void WriteViewerSettings(TProfile&) override { Note("viewer"); }
    void WritePluginList(TProfile&) override { Note("plugins"); }
    void WriteGroupList(TProfile& p) override {
        Note("groups");
        p.Set("grouplist", "count", "0");
    }
    bool Note(const char* what) {
        Calls += std::string(Calls.empty() ? "" : " ") + what;
        return true;
    }
    bool Coordinator = false;
    bool FailLockouts = false;
    std::string Calls;
    std::string PluginsRead;
    std::string MasksRead;
};

class SettingsStore : public ::testing::Test {
  protected:
    void TearDown() override { ClearFileFaults(); }
    void WriteIni(const std::string& text) {
        std::string error;
        ASSERT_TRUE(ReplaceFileAtomically(path, text, &error)) << error;
    }
    std::string ReadIni() {
        std::string s;
        EXPECT_TRUE(ReadWholeFile(path, &s));
        return s;
    }
    TProfile SavedProfile() {
        TProfile p;
        EXPECT_TRUE(p.Load(path));
        return p;
    }
    test::TTempDir dir;
    std::string path = dir.File("vantrel.ini");
    TRecordingPeers peers;
    TRecordedStatus status;
    TSettingsStore store{path, peers, &status};
};

// Every key of the settings file with its default, as the first save of an
// empty file must write it.
const char* const EVERY_DEFAULT =
    "savepos top 0|savepos bottom 0|savepos left 0|savepos right 0|"
    "misc statesetinusethresh 3072|misc viewer_enable 1|misc maintain_newsrc 1|"
    "misc filemaskrequiresubject 0|misc rejectsuspicious 1|misc bosskeyenable 1|"
    "misc taskbar_use_password 0|misc taskbar_password |misc confirmdelete 1|"
    "misc deleteincomplete 0|misc enablehttpgrabber 0|misc loadxrefheaders 0|"
    "misc maxxref 999|misc loadpostinghostheaders 0|misc minfreespace 1048576|"
    "misc renamedupes 0|misc maxdisc 100|misc xover 0|misc forcenumericorder 0|"
    "miscpref minlines 0|miscpref maxlines 16384|miscpref pathexpand 0|"
    "miscpref caseconvert 1|miscpref nodatathresh 512|miscpref style 0|"
    "log enabled 1|log subject 1|log name 1|log comments 0|log toosmall 0|log toobig 0|"
    "log dupefile 1|log dupesubject 1|log mime 0|log trim_old_logs 1|"
    "dupe enabled 0|dupe save 0|dupe count 2048|dupe from 1|dupe lines 1|"
    "dupe_file enabled 0|dupe_file save 0|dupe_file count 2048|dupe_file from 0|"
    "dupe_file lines 0|dupe_file in_subject 1|"
    "disconnect nodata 1|disconnect delete 1|disconnect dupefile 1|disconnect nomask 1|"
    "disconnect lockout_file 1|disconnect lockout_host 1|disconnect lockout_xref 1|"
    "disconnect lockout_any 1|disconnect lockout_org 1|"
    "auth name |auth password |auth alwaysatlogon 1|auth usespa 0|auth usessl 0|"
    "autosave pointers 10|autosave everything 100|encryption enable 0|encryption key |"
    "fbbs format 0|fbbs 83 1|fbbs name files.bbs|"
    "browse sci 0|browse else 0|browse rec 0|browse comp 0|browse biz 0|browse alt 1|"
    "switches autostart 0|switches autoexit 0|switches autocat 0|switches about 1|"
    "switches diagnosticlog 0|switches autorestart 0|switches mintaskbar 0|"
    "timeout delay 300|timeout maxcount 1000|timeout msgdelay 0|"
    "headers show_lockouts 1|headers show_toobig 1|"
    "header_column_width 0 75|header_column_width 3 75|header_column_width 6 75|"
    "tips lasttip -1|tips showtips 1|"
    "color 0 12632256|color 1 216|color 7 0|color 8 8388736|color 10 24576|color 15 12632256|"
    "color 19 0|color_i 0 8388608|color_i 7 16777215|color_i 19 16777215|"
    "custom_color 0 12632256|custom_color 13 8388608|custom_color 15 0|"
    "color_revision color_revision 3|connection host |paths download |"
    "font_header face Courier|font_header height -13|font_header weight 500|"
    "font_dupelist face Courier|font_status weight 0";

TEST_F(SettingsStore, EmptyFileGivesDefaultsAndFirstSaveWritesEveryKey) {
    WriteIni("");
    ASSERT_TRUE(store.LoadSettings());
    EXPECT_TRUE(store.Loaded());
    const TSettings& s = store.Settings();
    EXPECT_EQ(s.MaxXref, 999);
    EXPECT_EQ(s.LastTip, -1);
    EXPECT_EQ(s.FbbsName, "files.bbs");
    EXPECT_EQ(peers.MasksRead, "none");
    EXPECT_EQ(store.DefaultSaveSet(), 0xFCu);

    ASSERT_TRUE(store.SaveWithSet(store.DefaultSaveSet()));
    TProfile saved = SavedProfile();
    std::stringstream rows(EVERY_DEFAULT);
    std::string row;
    int checked = 0;
    while (std::getline(rows, row, '|')) {
        std::istringstream fields(row);
        std::string section, key, value;
        fields >> section >> key;
        std::getline(fields, value);
        if (!value.empty() && value[0] == ' ') value.erase(0, 1);
        auto got = saved.Get(section, key);
        ASSERT_TRUE(got.has_value()) << "[" << section << "] " << key << " not written";
        EXPECT_EQ(*got, value) << "[" << section << "] " << key;
        ++checked;
    }
    EXPECT_GT(checked, 100);
    EXPECT_EQ(peers.Calls, "httpgrab lockout filemask masks viewer plugins groups");
}

TEST_F(SettingsStore, ColourFixUps) {
    struct {
        const char* Stored;
        int32_t Color0, Highlighted0, Color10, Color11, Revision;
    } cases[] = {
        // The old default pair of colour 0 becomes the new one.
        {"[color]\n0=8388608\n[color_i]\n0=0\n", 0xC0C0C0, 0x800000, 0x6000, 0x6000, 3},
        // Another user choice is kept.
        {"[color]\n0=8388608\n[color_i]\n0=5\n", 0x800000, 5, 0x6000, 0x6000, 3},
        // Revision 2 already has colour 10 fixed: only 11 changes.
        {"[color]\n10=1\n11=2\n[color_revision]\ncolor_revision=2\n", 0xC0C0C0, 0x800000, 1, 0x6000,
         3},
        // Revision 3 keeps both.
        {"[color]\n10=1\n11=2\n[color_revision]\ncolor_revision=3\n", 0xC0C0C0, 0x800000, 1, 2, 3},
        // Colours are signed reads.
        {"[color]\n0=-1\n", -1, 0x800000, 0x6000, 0x6000, 3},
    };
    for (const auto& c : cases) {
        WriteIni(c.Stored);
        ASSERT_TRUE(store.LoadSettings());
        const TSettings& s = store.Settings();
        EXPECT_EQ(s.Colors[0], c.Color0) << c.Stored;
        EXPECT_EQ(s.ColorsHighlighted[0], c.Highlighted0) << c.Stored;
        EXPECT_EQ(s.Colors[10], c.Color10) << c.Stored;
        EXPECT_EQ(s.Colors[11], c.Color11) << c.Stored;
        EXPECT_EQ(s.ColorRevision, c.Revision) << c.Stored;
    }
    // Index 15 gets the same fix as index 0.
    WriteIni("[color]\n15=8388608\n[color_i]\n15=0\n");
    ASSERT_TRUE(store.LoadSettings());
    EXPECT_EQ(store.Settings().Colors[15], 0xC0C0C0);
    EXPECT_EQ(store.Settings().ColorsHighlighted[15], 0x800000);
}

TEST_F(SettingsStore, ShrinkingANumberedListDeletesStaleKeys) {
    // Key 6 lies beyond a gap: deleting stops at the first absent key.
    WriteIni("[pathprefix]\n0=a/\n1=b/\n2=c/\n3=d/\n4=e/\n6=g/\n");
    ASSERT_TRUE(store.LoadSettings());
    EXPECT_EQ(peers.MasksRead, "none");
    EXPECT_EQ(store.PathPrefixes.size(), 5u);
    store.PathPrefixes.resize(2);
    ASSERT_TRUE(store.SaveWithSet(SAVE_MAIN));
    TProfile saved = SavedProfile();
    EXPECT_EQ(saved.Get("pathprefix", "0").value_or(""), "a/");
    EXPECT_EQ(saved.Get("pathprefix", "1").value_or(""), "b/");
    for (const char* gone : {"2", "3", "4"}) EXPECT_FALSE(saved.Has("pathprefix", gone)) << gone;
    EXPECT_TRUE(saved.Has("pathprefix", "6"));
}

TEST_F(SettingsStore, ListsStopAtTheFirstEmptyKeyAndCutLongEntries) {
    WriteIni("[pathprefix]\n0=a\n1=" + std::string(1500, 'x') + "\n2=\n3=d\n");
    ASSERT_TRUE(store.LoadSettings());
    ASSERT_EQ(store.PathPrefixes.size(), 2u);
    EXPECT_EQ(store.PathPrefixes[1].size(), NUMBERED_ENTRY_MAX);
    TProfile p;
    for (int i = 0; i < 300; ++i) p.SetInt("autoscan", std::to_string(i), 1000 + i);
    EXPECT_EQ(ReadNumberedList(p, "autoscan").size(), NUMBERED_COUNT_MAX);
}

TEST_F(SettingsStore, UnknownKeysAndCommentsSurviveASave) {
    WriteIni(
        "; my settings\r\n"
        "[misc]\r\n"
        "xover=1\r\n"
        "my_own_key=keep\r\n"
        "[plugins]\r\n"
        "count=2\r\n"
        "[somebody_else]\r\n"
        "x=y\r\n");
    ASSERT_TRUE(store.LoadSettings());
    EXPECT_EQ(store.Settings().Xover, 1);
    EXPECT_EQ(peers.PluginsRead, "2");
    store.Settings().Xover = 0;
    ASSERT_TRUE(store.SaveWithSet(store.DefaultSaveSet()));
    std::string text = ReadIni();
    EXPECT_EQ(text.rfind("; my settings\n", 0), 0u) << text;
    TProfile saved = SavedProfile();
    EXPECT_EQ(saved.Get("misc", "xover").value_or(""), "0");
    EXPECT_EQ(saved.Get("misc", "my_own_key").value_or(""), "keep");
    EXPECT_EQ(saved.Get("somebody_else", "x").value_or(""), "y");
    EXPECT_EQ(saved.Get("plugins", "count").value_or(""), "2");
}

TEST_F(SettingsStore, AKeyWrittenByOthersSinceTheLoadSurvives) {
    WriteIni("[misc]\nxover=1\n");
    ASSERT_TRUE(store.LoadSettings());
    WriteIni("[misc]\nxover=1\n[viewer]\nzoom=3\n");
    ASSERT_TRUE(store.SaveWithSet(SAVE_MAIN));
    EXPECT_EQ(SavedProfile().Get("viewer", "zoom").value_or(""), "3");
}

TEST_F(SettingsStore, CrashBetweenWritingAndRenamingLeavesTheOldFile) {
    WriteIni("[misc]\nxover=1\n");
    ASSERT_TRUE(store.LoadSettings());
    store.Settings().Xover = 0;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            InjectFileFault(TFileFault::EXIT_BEFORE_RENAME);
            store.SaveWithSet(SAVE_MAIN);
        },
        ::testing::ExitedWithCode(3), "");
    EXPECT_EQ(ReadIni(), "[misc]\nxover=1\n");
    TSettingsStore again(path, peers);
    ASSERT_TRUE(again.LoadSettings());
    EXPECT_EQ(again.Settings().Xover, 1);
}

TEST_F(SettingsStore, AFailedSaveIsReportedAndLosesNothing) {
    WriteIni("[misc]\nxover=1\n");
    ASSERT_TRUE(store.LoadSettings());
    store.Settings().Xover = 0;
    InjectFileFault(TFileFault::DISK_FULL);
    EXPECT_FALSE(store.SaveWithSet(SAVE_MAIN));
    EXPECT_EQ(ReadIni(), "[misc]\nxover=1\n");
    ASSERT_EQ(status.Lines.size(), 1u);
    EXPECT_NE(status.Lines[0].find("Could not save " + path), std::string::npos) << status.Lines[0];
    // The block still holds the change: the next save writes it.
    ASSERT_TRUE(store.SaveWithSet(SAVE_MAIN));
    EXPECT_EQ(SavedProfile().Get("misc", "xover").value_or(""), "0");

    peers.FailLockouts = true;
    EXPECT_FALSE(store.SaveWithSet(SAVE_LOCKOUTS));
    EXPECT_EQ(status.Lines.back(), "Could not save lockout.lst: disk full");
}

TEST_F(SettingsStore, AFileThatCannotBeReadIsNeverOverwritten) {
    std::string asDirectory = dir.File("dir.ini");
    ASSERT_EQ(mkdir(asDirectory.c_str(), 0700), 0);
    TSettingsStore blocked(asDirectory, peers, &status);
    EXPECT_FALSE(blocked.LoadSettings());
    EXPECT_FALSE(blocked.Loaded());
    EXPECT_EQ(blocked.Settings().MaxXref, 999);  // defaults still apply
    blocked.SaveWithSet(blocked.DefaultSaveSet());
    struct stat st {};
    ASSERT_EQ(stat(asDirectory.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(SettingsStore, SaveSetBitsReachTheirOwners) {
    WriteIni("[dupe]\nsave=1\n[dupe_file]\nsave=1\n");
    ASSERT_TRUE(store.LoadSettings());
    EXPECT_EQ(store.DefaultSaveSet(), 0xFFu);
    struct {
        uint32_t Bits;
        bool Coordinator;
        const char* Calls;
    } cases[] = {
        {SAVE_DUPE_SUBJECTS | SAVE_DUPE_FILES, false, "dupesubj dupefile"},
        {SAVE_DUPE_SUBJECTS | SAVE_DUPE_FILES, true, ""},
        {SAVE_URL_GRABBER, false, "httpgrab"},
        {SAVE_LOCKOUTS, false, "lockout"},
        {SAVE_GROUP_LIST, false, "groups"},
        {SAVE_MAIN, false, "masks viewer plugins"},
        {SAVE_FONTS | SAVE_FILE_MASKS, false, "filemask"},
    };
    for (const auto& c : cases) {
        peers.Calls.clear();
        peers.Coordinator = c.Coordinator;
        EXPECT_TRUE(store.SaveWithSet(c.Bits));
        EXPECT_EQ(peers.Calls, c.Calls) << std::hex << c.Bits;
    }
}

TEST_F(SettingsStore, SecretsAreStoredEnciphered) {
    WriteIni("");
    ASSERT_TRUE(store.LoadSettings());
    store.Settings().EncryptionKey = "my secret key";
    store.Settings().TaskbarPassword = std::string(200, 'p');
    store.Settings().AuthPassword = "plain";
    ASSERT_TRUE(store.SaveWithSet(SAVE_MAIN));
    TProfile saved = SavedProfile();
    std::string hex = saved.Get("encryption", "key").value_or("");
    EXPECT_EQ(hex, EncodeStoredKey("my secret key", SETTINGS_KEY_PHRASE));
    EXPECT_EQ(hex.size(), 26u);
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos) << hex;
    EXPECT_EQ(saved.Get("misc", "taskbar_password").value_or("").size(), 2 * SETTINGS_NAME_MAX);
    EXPECT_EQ(saved.Get("auth", "password").value_or(""), "plain");

    TSettingsStore again(path, peers);
    ASSERT_TRUE(again.LoadSettings());
    EXPECT_EQ(again.Settings().EncryptionKey, "my secret key");
    EXPECT_EQ(again.Settings().TaskbarPassword, std::string(SETTINGS_NAME_MAX, 'p'));

    // Lower-case digits read the same; an odd last digit is dropped.
    std::string lower = hex;
    for (char& c : lower) c = static_cast<char>(tolower(c));
    WriteIni("[encryption]\nkey=" + lower + "7\n[misc]\ntaskbar_password=\n");
    ASSERT_TRUE(again.LoadSettings());
    EXPECT_EQ(again.Settings().EncryptionKey, "my secret key");
    EXPECT_EQ(again.Settings().TaskbarPassword, "");
}

TEST_F(SettingsStore, ScreenDependentDefaultsAndSignedReads) {
    WriteIni("[dupe]\ncount= -12 \n[tips]\nlasttip=abc\n");
    TDisplayFacts narrow;
    narrow.ScreenWidth = 640;
    ASSERT_TRUE(store.LoadSettings(narrow));
    EXPECT_EQ(store.Settings().Style, 1);
    EXPECT_EQ(store.Settings().DupeCount, -12);
    EXPECT_EQ(store.Settings().LastTip, 0);
    ASSERT_TRUE(store.LoadSettings(TDisplayFacts{}));
    EXPECT_EQ(store.Settings().Style, 0);
}

TEST_F(SettingsStore, FontsReadOverTheirBuiltIns) {
    TDisplayFacts display;
    display.DotsPerInchY = 120;  // 10 points: -16.67, rounded as MulDiv does
    display.SystemFont.FaceName = "System";
    display.SystemFont.Height = 16;
    auto builtIn = TSettingsStore::BuiltInFonts(display);
    EXPECT_EQ(builtIn[FONT_HEADER].Height, -17);
    EXPECT_EQ(builtIn[FONT_HEADER].Weight, 500);
    EXPECT_EQ(builtIn[FONT_DUPELIST], builtIn[FONT_HEADER]);
    EXPECT_EQ(builtIn[FONT_STATUS].FaceName, "System");
    display.GroupListHasFont = true;
    display.GroupListFont.FaceName = "Sans";
    EXPECT_EQ(TSettingsStore::BuiltInFonts(display)[FONT_LOGLIST].FaceName, "Sans");
    display.GroupListHasFont = false;

    WriteIni("[font_status]\nface=" + std::string(40, 'F') + "\nweight=700\n");
    ASSERT_TRUE(store.LoadSettings(display));
    EXPECT_EQ(store.Fonts[FONT_STATUS].Weight, 700);
    EXPECT_EQ(store.Fonts[FONT_STATUS].FaceName, std::string(FONT_FACE_MAX, 'F'));
    EXPECT_EQ(store.Fonts[FONT_STATUS].Height, 16);  // missing key keeps the built-in
    store.Fonts[FONT_LVHEADER].Italic = 1;
    ASSERT_TRUE(store.SaveWithSet(SAVE_FONTS));
    TSettingsStore again(path, peers);
    ASSERT_TRUE(again.LoadSettings(display));
    EXPECT_EQ(again.Fonts, store.Fonts);
}

TEST(Autosave, CountsArticlesUpToEachLimit) {
    TSettings s;
    s.AutosavePointers = 2;
    s.AutosaveEverything = 3;
    TAutosave autosave;
    std::vector<unsigned> due;
    for (int i = 0; i < 6; ++i) due.push_back(autosave.Count(s));
    const unsigned P = TAutosave::DUE_POINTERS, E = TAutosave::DUE_EVERYTHING;
    EXPECT_EQ(due, (std::vector<unsigned>{0, P, E, P, 0, P | E}));
    s.AutosavePointers = 0;  // never
    TAutosave off;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(off.Count(s) & P, 0u);
}

TEST(SavedPosition, PlausibleRectanglesOnly) {
    struct {
        int32_t Top, Bottom, Left, Right;
        bool Usable;
    } cases[] = {
        {0, 600, 0, 800, true},   {0, 200, 0, 800, false},  {0, 600, 0, 200, false},
        {-4, 600, -4, 800, true}, {-5, 600, 0, 800, false}, {0, 600, -5, 800, false},
        {0, 817, 0, 800, true},   {0, 818, 0, 800, false},  {0, 600, 0, 1073, true},
        {0, 600, 0, 1074, false},
    };
    for (const auto& c : cases) {
        TSettings s;
        s.PosTop = c.Top;
        s.PosBottom = c.Bottom;
        s.PosLeft = c.Left;
        s.PosRight = c.Right;
        EXPECT_EQ(SavedPositionUsable(s, 1024, 768), c.Usable)
            << c.Top << " " << c.Bottom << " " << c.Left << " " << c.Right;
    }
}

// The sample settings file of the README, loaded as a user would copy it:
// every value it shows must come out as written.
TEST(ReadmeSample, LoadsWithTheValuesItShows) {
    std::string readme;
    ASSERT_TRUE(ReadWholeFile(ZORVEX_SOURCE_DIR "/README.md", &readme));
    const size_t start = readme.find("```ini\n");
    ASSERT_NE(start, std::string::npos) << "no ini sample in the README";
    const size_t end = readme.find("```", start + 7);
    ASSERT_NE(end, std::string::npos);
    test::TTempDir dir;
    const std::string path = dir.File("vantrel.ini");
    ASSERT_TRUE(ReplaceFileAtomically(path, readme.substr(start + 7, end - start - 7), nullptr));

    TRecordingPeers peers;
    TSettingsStore store(path, peers);
    ASSERT_TRUE(store.LoadSettings());
    const TSettings& s = store.Settings();
    EXPECT_EQ(s.Host, "news.example.net:119");
    EXPECT_EQ(s.DownloadPath, "/home/me/usenet/");
    EXPECT_EQ(s.PathExpand, 3);
    EXPECT_EQ(s.AuthName, "me");
    EXPECT_EQ(s.AuthPassword, "");
    TProfile profile;
    ASSERT_TRUE(profile.Load(path));
    EXPECT_EQ(profile.Get("grouplist", "0").value_or(""), "alt.binaries.example 1 0");
    EXPECT_EQ(profile.Get("grouplist", "1").value_or(""), "alt.binaries.other 1 0");
}

}  // namespace
}  // namespace zorvex
