#include "select/lockout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "library/fileio.h"
#include "support/files.h"
#include "support/tempdir.h"

namespace zorvex {
namespace {

using test::ReadFile;
using test::WriteFile;
using Lines = std::vector<std::string>;

// A store of a few groups; two of them differ only in case, so that "the
// last group of the name" is seen.
class LockoutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"alt.test", "alt.binaries.pics", "Comp.Misc", "comp.misc"})
            ASSERT_NE(Store.AddGroup(name), nullptr);
    }
    void TearDown() override { ClearFileFaults(); }

    TNewsGroup* Group(const char* name) { return Store.FindGroup(name); }
    TLockoutLoadReport LoadText(const std::string& text) {
        WriteFile(Path, text);
        return Lists.Load(Path);
    }
    std::string SaveText() {
        std::string error;
        EXPECT_TRUE(Lists.Save(Path, &error)) << error;
        return ReadFile(Path);
    }

    // Every list's entries as "group KIND flags pattern" and its match-blank
    // flag as "group KIND blank", sorted: the lists' contents whatever the
    // order they iterate in.
    static Lines Dump(TLockoutLists& lists, TNewsStore& store) {
        Lines out;
        for (int i = -1; i < store.GroupCount(); ++i) {
            TNewsGroup* g = i < 0 ? &store.AllGroup() : store.GetGroup(i);
            for (TLockoutKind kind : kLockoutKinds) {
                TReStringManager* list = lists.List(g, kind, false);
                if (!list) continue;
                const std::string head = std::string(g->Name) + " " + std::string(KindWord(kind));
                for (TStringEntry* e = list->First(); e; e = e->IterNext)
                    out.push_back(head + " " + std::to_string(e->Flags) + " " + e->Text);
                if (list->MatchBlank()) out.push_back(head + " blank");
            }
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    Lines Dump() { return Dump(Lists, Store); }

    TNewsStore Store;
    TLockoutLists Lists{Store};
    test::TTempDir Dir;
    std::string Path = Dir.File("lockout.lst");
};

TEST(LockoutKind, WordsAndNumbers) {
    const std::pair<int, const char*> table[] = {
        {1, "POSTER"},       {2, "SUBJECT"}, {3, "FILE"},     {4, "XREF"}, {5, "HOST"},
        {6, "ORGANIZATION"}, {7, "ANY"},     {8, "KEYWORDS"}, {0, ""},     {9, ""},
    };
    for (const auto& [kind, word] : table) EXPECT_EQ(KindWord(kind), word) << kind;
}

struct TLoadCase {
    const char* Name;
    std::string Text;
    Lines Want;  // Dump() after the load
    size_t Skipped;
};

TEST_F(LockoutTest, LoadRules) {
    const std::string longPattern(LOCKOUT_LINE_MAX - 21, 'a');
    const TLoadCase cases[] = {
        {"kind word in lower case", "poster alt.test 0 bob\n", {"alt.test POSTER 0 bob"}, 0},
        {"accept blank",
         "subject All-Groups 0 ***acceptblank***\n",
         {"All-Groups SUBJECT blank"},
         0},
        {"accept blank in any case on a group",
         "HOST alt.test 0 ***AcceptBlank***\n",
         {"alt.test HOST blank"},
         0},
        {"flags that are no number", "FILE All-Groups x *.exe\n", {}, 1},
        {"a poster's name alone",
         "spam@example.com\n",
         {"All-Groups POSTER 0 spam@example.com"},
         0},
        {"a poster's name with blanks around",
         "  Big Spammer \t\n",
         {"All-Groups POSTER 0 Big Spammer"},
         0},
        {"kind word without its space",
         "POSTER\talt.test 0 x\n",
         {"All-Groups POSTER 0 POSTER\talt.test 0 x"},
         0},
        {"group name ends the line", "POSTER alt.test\nPOSTER alt.test   \n", {}, 2},
        {"flags end the line", "SUBJECT alt.test 7\nSUBJECT alt.test 7 \t\n", {}, 2},
        {"no group name", "SUBJECT    \t 5 x\n", {}, 1},
        {"digits run into the pattern", "POSTER alt.test 16x\n", {"alt.test POSTER 16 x"}, 0},
        {"white space inside the pattern is kept",
         "SUBJECT\x20  alt.test\t 2\t  a b\t c  \n",
         {"alt.test SUBJECT 2 a b\t c"},
         0},
        {"over-long line is cut, its rest is no line",
         "SUBJECT All-Groups 0 " + longPattern + "POSTER All-Groups 0 tail\nHOST All-Groups 0 h\n",
         {"All-Groups HOST 0 h", "All-Groups SUBJECT 0 " + longPattern},
         0},
        {"CR LF endings",
         "POSTER alt.test 1 bob\r\nSUBJECT All-Groups 0 x y\r\n\r\n",
         {"All-Groups SUBJECT 0 x y", "alt.test POSTER 1 bob"},
         0},
        {"last line without a line end", "XREF alt.test 0 alt.sex", {"alt.test XREF 0 alt.sex"}, 0},
        {"group named in another case", "POSTER ALT.TEST 0 bob\n", {"alt.test POSTER 0 bob"}, 0},
        {"the last group of the name wins", "ANY COMP.MISC 0 x\n", {"comp.misc ANY 0 x"}, 0},
        {"unknown group goes to All-Groups",
         "KEYWORDS alt.gone 0 k\n",
         {"All-Groups KEYWORDS 0 k"},
         0},
        {"flags of equal patterns are ORed",
         "ORGANIZATION alt.test 1 o\nOrganization alt.test 16 o\n",
         {"alt.test ORGANIZATION 17 o"},
         0},
        {"huge flags are clamped",
         "POSTER alt.test 99999999999999999999999 x\n",
         {"alt.test POSTER 2147483647 x"},
         0},
        {"a NUL ends the line",
         std::string("POSTER alt.test 0 ab\0cd\n", 24),
         {"alt.test POSTER 0 ab"},
         0},
        {"blank lines are not malformed", "\n   \n\t\r\n", {}, 0},
        {"malformed lines do not stop the reading",
         "POSTER alt.test\nFILE alt.test 0 *.exe\nHOST x\nHOST All-Groups 0 h\n",
         {"All-Groups HOST 0 h", "alt.test FILE 0 *.exe"},
         2},
    };
    for (const TLoadCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TLockoutLoadReport report = LoadText(c.Text);
        EXPECT_TRUE(report.FileRead);
        EXPECT_EQ(Dump(), c.Want);
        EXPECT_EQ(report.LinesSkipped, c.Skipped);
        EXPECT_EQ(report.Message.empty(), c.Skipped == 0) << report.Message;
    }
}

TEST_F(LockoutTest, LoadStartsOverWithTheFourAllGroupsLists) {
    LoadText("POSTER alt.test 0 bob\nXREF All-Groups 0 x\n");
    ASSERT_NE(Lists.List(Group("alt.test"), LOCKOUT_POSTER, false), nullptr);

    Lists.Load(Dir.File("missing.lst"));
    EXPECT_EQ(Dump(), Lines{});
    EXPECT_EQ(Group("alt.test")->PosterList, nullptr);
    EXPECT_EQ(Store.AllGroup().XrefList, nullptr);
    for (TLockoutKind kind : kLockoutKinds) {
        const bool made = kind == LOCKOUT_POSTER || kind == LOCKOUT_SUBJECT ||
                          kind == LOCKOUT_FILE || kind == LOCKOUT_HOST;
        EXPECT_EQ(Lists.List(nullptr, kind, false) != nullptr, made) << KindWord(kind);
    }
    EXPECT_EQ(Lists.ListCount(), 4u);
}

TEST_F(LockoutTest, LoadReportsWhatItSkippedAndUnreadableFiles) {
    TLockoutLoadReport report = LoadText("POSTER alt.test 0 a\n\nPOSTER alt.test\nHOST x y\n");
    EXPECT_EQ(report.LinesUsed, 1u);
    EXPECT_EQ(report.LinesSkipped, 2u);
    EXPECT_EQ(report.FirstSkipped, 3u);
    EXPECT_NE(report.Message.find(Path), std::string::npos) << report.Message;
    EXPECT_NE(report.Message.find("line 3"), std::string::npos) << report.Message;

    report = Lists.Load(Dir.File("missing.lst"));
    EXPECT_FALSE(report.FileRead);
    EXPECT_EQ(report.Message, "");

    // A directory where the file should be cannot be read: said, not hidden.
    report = Lists.Load(Dir.Path());
    EXPECT_FALSE(report.FileRead);
    EXPECT_NE(report.Message.find("cannot be read"), std::string::npos) << report.Message;
    EXPECT_EQ(Lists.ListCount(), 4u);
}

TEST_F(LockoutTest, EntriesOfADeletedGroupApplyToAllGroupsAfterTheNextLoad) {
    LoadText("POSTER alt.test 1 *spammer*\nSUBJECT comp.misc 0 keep\n");
    TNewsGroup* test = Group("alt.test");
    TReStringManager* list = Lists.List(test, LOCKOUT_POSTER, false);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list->First(), nullptr);
    EXPECT_EQ(list->First()->Flags, uint32_t{RE_EXACT});
    EXPECT_TRUE(Lists.Matches(test, LOCKOUT_POSTER, "a spammer here"));
    EXPECT_FALSE(Lists.Matches(Group("comp.misc"), LOCKOUT_POSTER, "a spammer here"));
    const size_t before = Lists.ListCount();

    Store.DeleteGroup(Store.IndexOf(test));
    // The record of comp.misc moved; its list went with it.
    EXPECT_TRUE(Lists.Matches(Group("comp.misc"), LOCKOUT_SUBJECT, "keep it"));
    const std::string saved = SaveText();
    EXPECT_EQ(Lists.ListCount(), before - 1) << "the deleted group's list is freed";
    EXPECT_EQ(saved, "SUBJECT comp.misc 0 keep\n");

    // The file of the last session still names the group.
    const TLockoutLoadReport report = LoadText("POSTER alt.test 1 *spammer*\n");
    EXPECT_EQ(report.LinesSkipped, 0u);
    EXPECT_EQ(Dump(), Lines{"All-Groups POSTER 1 *spammer*"});
    EXPECT_TRUE(Lists.Matches(Group("comp.misc"), LOCKOUT_POSTER, "a spammer here"));
}

TEST_F(LockoutTest, SaveOrderAndAcceptBlank) {
    // Written in scrambled order: the file comes out All-Groups first, then
    // the groups in their table order, each in the order of the kinds.
    LoadText(
        "KEYWORDS alt.test 0 k\n"
        "ANY All-Groups 0 any\n"
        "HOST comp.misc 0 h\n"
        "XREF All-Groups 0 x\n"
        "subject All-Groups 0 ***acceptblank***\n"
        "SUBJECT All-Groups 0 s\n"
        "ORGANIZATION All-Groups 0 o\n"
        "KEYWORDS All-Groups 0 kw\n"
        "FILE All-Groups 0 f\n"
        "HOST All-Groups 0 h\n"
        "POSTER alt.test 2 p\n"
        "POSTER All-Groups 0 p\n");
    EXPECT_EQ(SaveText(),
              "POSTER All-Groups 0 p\n"
              "SUBJECT All-Groups 0 s\n"
              "SUBJECT All-Groups 0 ***ACCEPTBLANK***\n"
              "FILE All-Groups 0 f\n"
              "HOST All-Groups 0 h\n"
              "XREF All-Groups 0 x\n"
              "ORGANIZATION All-Groups 0 o\n"
              "ANY All-Groups 0 any\n"
              "KEYWORDS All-Groups 0 kw\n"
              "POSTER alt.test 2 p\n"
              "KEYWORDS alt.test 0 k\n"
              "HOST comp.misc 0 h\n");

    // A moved group is written at its new place.
    Store.MoveGroupUp(Store.IndexOf(Group("comp.misc")));
    Store.MoveGroupUp(Store.IndexOf(Group("comp.misc")));
    Store.MoveGroupUp(Store.IndexOf(Group("comp.misc")));
    const std::string saved = SaveText();
    EXPECT_LT(saved.find("HOST comp.misc"), saved.find("POSTER alt.test")) << saved;
}

TEST_F(LockoutTest, RoundTripKeepsTheListsAndTheBytes) {
    // Enough patterns per list that some share a hash bucket: their order
    // must survive a save and a load too.
    // Control characters inside a pattern belong to it.
    const std::string inner = "SUBJECT alt.test 0 a\rb\x0b c\n";
    std::string text = "SUBJECT All-Groups 0 ***acceptblank***\nFILE alt.test 17 *.exe\n" + inner;
    for (int i = 0; i < 300; ++i) {
        text += "POSTER All-Groups " + std::to_string(i % 4) + " poster" + std::to_string(i) + "\n";
        text += std::string(i % 2 ? "SUBJECT" : "ANY") + " alt.binaries.pics 0 *s" +
                std::to_string(i) + "*\n";
    }
    LoadText(text);
    TLockoutFields fields = LockoutFieldsFrom("temp poster", "kept subject", "null", "null");
    Lists.AddLockouts(fields, {true, false, false, false}, true);
    Lists.AddLockouts(fields, {false, true, false, false}, false);
    const Lines loaded = Dump();
    ASSERT_NE(std::find(loaded.begin(), loaded.end(), "All-Groups POSTER 64 temp poster"),
              loaded.end());

    const std::string first = SaveText();
    EXPECT_NE(first.find(inner), std::string::npos);
    Lists.Load(Path);
    const std::string second = SaveText();
    EXPECT_EQ(first, second);

    Lines want = loaded;
    std::erase(want, "All-Groups POSTER 64 temp poster");
    EXPECT_EQ(Dump(), want);

    // A store of the same groups reads the same.
    TNewsStore store;
    for (int i = 0; i < Store.GroupCount(); ++i) store.AddGroup(Store.GetGroup(i)->Name);
    TLockoutLists other(store);
    other.Load(Path);
    EXPECT_EQ(Dump(other, store), want);
}

TEST_F(LockoutTest, FailedSaveLeavesTheOldFile) {
    LoadText("POSTER All-Groups 0 old\n");
    const std::string old = ReadFile(Path);
    Lists.AddLockouts(LockoutFieldsFrom("new", "", "", ""), {true, false, false, false}, false);

    struct TFailure {
        const char* Name;
        TFileFault Fault;
    };
    for (const TFailure& f : {TFailure{"disk full", TFileFault::DISK_FULL},
                              TFailure{"short write", TFileFault::SHORT_WRITE},
                              TFailure{"rename fails", TFileFault::RENAME_FAILS}}) {
        SCOPED_TRACE(f.Name);
        InjectFileFault(f.Fault);
        std::string error;
        EXPECT_FALSE(Lists.Save(Path, &error));
        EXPECT_NE(error, "");
        EXPECT_EQ(ReadFile(Path), old);
        ClearFileFaults();
    }
    // A path below a plain file cannot be written at all.
    std::string error;
    EXPECT_FALSE(Lists.Save(Path + "/lockout.lst", &error));
    EXPECT_NE(error, "");
    EXPECT_EQ(ReadFile(Path), old);

    EXPECT_TRUE(Lists.Save(Path, &error)) << error;
    EXPECT_NE(ReadFile(Path).find("POSTER All-Groups 0 new\n"), std::string::npos);
}

TEST_F(LockoutTest, MatchesAllGroupsThenTheGroup) {
    LoadText(
        "POSTER All-Groups 0 *spam*\n"
        "POSTER alt.test 1 bob\n"
        "XREF alt.test 0 alt.sex\n"
        "SUBJECT All-Groups 0 ***acceptblank***\n");
    TNewsGroup* test = Group("alt.test");
    TNewsGroup* misc = Group("comp.misc");
    struct TCase {
        TNewsGroup* Group;
        int Kind;
        const char* Text;
        bool Want;
    };
    const TCase cases[] = {
        {test, LOCKOUT_POSTER, "bob", true},
        {test, LOCKOUT_POSTER, "bobby", false},  // exact
        {misc, LOCKOUT_POSTER, "bob", false},
        {nullptr, LOCKOUT_POSTER, "bob", false},
        {nullptr, LOCKOUT_POSTER, "SPAMMER", true},
        {misc, LOCKOUT_POSTER, "a spam", true},
        {&Store.AllGroup(), LOCKOUT_POSTER, "spam", true},
        {test, LOCKOUT_XREF, "alt.sex alt.test", true},
        {misc, LOCKOUT_XREF, "alt.sex alt.test", false},  // no list at all
        {test, LOCKOUT_ORGANIZATION, "", false},
        {test, LOCKOUT_SUBJECT, "", true},  // match blank
        {test, LOCKOUT_POSTER, "", false},
        {test, 0, "bob", false},
        {test, 9, "bob", false},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(Lists.Matches(c.Group, c.Kind, c.Text), c.Want)
            << (c.Group ? c.Group->Name : "null") << " " << c.Kind << " \"" << c.Text << "\"";

    EXPECT_TRUE(Lists.HasEntries(test, LOCKOUT_XREF));
    EXPECT_FALSE(Lists.HasEntries(misc, LOCKOUT_XREF));
    EXPECT_FALSE(Lists.HasEntries(nullptr, LOCKOUT_HOST));  // made at load, empty
    EXPECT_TRUE(Lists.HasEntries(misc, LOCKOUT_POSTER));
    EXPECT_FALSE(Lists.HasEntries(test, 12));
    // The header steps read the slots themselves.
    EXPECT_NE(test->XrefList, nullptr);
    EXPECT_EQ(test->XrefList->Count(), 1u);
}

TEST_F(LockoutTest, OnlySingleGroupsFileListsTakeNamesWithoutExtension) {
    LoadText("FILE alt.test 1 movie.\nFILE All-Groups 1 clip.\n");
    TNewsGroup* test = Group("alt.test");
    EXPECT_TRUE(Lists.Matches(test, LOCKOUT_FILE, "movie"));
    EXPECT_FALSE(Lists.Matches(test, LOCKOUT_FILE, "clip"));
    EXPECT_TRUE(Lists.Matches(test, LOCKOUT_FILE, "clip."));
    EXPECT_EQ(Lists.List(test, LOCKOUT_FILE, false)->ListFlags() & RE_FILE_NAME_LIST,
              uint32_t{RE_FILE_NAME_LIST});
    EXPECT_EQ(Lists.List(nullptr, LOCKOUT_FILE, false)->ListFlags() & RE_FILE_NAME_LIST, 0u);

    // Made on demand: a group's FILE list has the rule, its other lists not.
    TNewsGroup* pics = Group("alt.binaries.pics");
    EXPECT_EQ(Lists.List(pics, LOCKOUT_FILE, true)->ListFlags() & RE_FILE_NAME_LIST,
              uint32_t{RE_FILE_NAME_LIST});
    EXPECT_EQ(Lists.List(pics, LOCKOUT_SUBJECT, true)->ListFlags() & RE_FILE_NAME_LIST, 0u);
    EXPECT_EQ(Lists.List(pics, 42, true), nullptr);
}

TEST(LockoutFields, EscapedCutAndNullEmpty) {
    const std::string a249(249, 'a');
    struct TCase {
        std::string In, Want;
    };
    const TCase cases[] = {
        {"null", ""},
        {"a*b(1/2)", "a\\*b(1/2)"},
        {"why? c:\\x", "why\\? c:\\\\x"},
        {"  padded  ", "padded"},
        {"two\r\nlines", "two  lines"},
        {std::string(300, 'x'), std::string(LOCKOUT_FIELD_MAX, 'x')},
        // The cut would split "\*": the lone backslash goes too.
        {a249 + "*tail", a249},
        {a249 + " *", a249},
    };
    for (const TCase& c : cases) {
        const TLockoutFields f = LockoutFieldsFrom(c.In, c.In, c.In, c.In);
        EXPECT_EQ(f.Poster, c.Want) << c.In;
        EXPECT_EQ(f.Subject, c.Want) << c.In;
        EXPECT_EQ(f.File, c.Want) << c.In;
        EXPECT_EQ(f.Host, c.Want) << c.In;
    }
    const TLockoutFields f = LockoutFieldsFrom("p", "s", "f", "h");
    EXPECT_EQ(f.Poster + f.Subject + f.File + f.Host, "psfh");
}

TEST_F(LockoutTest, AddLockoutsGoToAllGroups) {
    Lists.Load(Dir.File("missing.lst"));
    const TLockoutFields fields =
        LockoutFieldsFrom("Spammer <s@x.com>", "a*b(1/2)", "a.exe", "null");
    Lists.AddLockouts(fields, {false, true, true, true}, false);
    EXPECT_EQ(Dump(), (Lines{"All-Groups FILE 0 a.exe", "All-Groups SUBJECT 0 a\\*b(1/2)"}));
    EXPECT_TRUE(Lists.Matches(Group("alt.test"), LOCKOUT_SUBJECT, "re: a*b(1/2) yes"));
    EXPECT_FALSE(Lists.Matches(Group("alt.test"), LOCKOUT_SUBJECT, "aXXb(1/2)"));

    Lists.AddLockouts(fields, {true, false, false, false}, true);
    EXPECT_EQ(Lists.List(nullptr, LOCKOUT_POSTER, false)->First()->Flags, uint32_t{RE_TEMPORARY});
    // A temporary lockout of a kept pattern leaves it kept; a kept one makes
    // a temporary one kept.
    Lists.AddLockouts(fields, {false, true, false, false}, true);
    Lists.AddLockouts(fields, {true, false, false, false}, false);
    EXPECT_EQ(Dump(), (Lines{"All-Groups FILE 0 a.exe", "All-Groups POSTER 0 Spammer <s@x.com>",
                             "All-Groups SUBJECT 0 a\\*b(1/2)"}));
    // Nothing chosen, nothing added; the lists of the other kinds stay absent.
    Lists.AddLockouts(LockoutFieldsFrom("x", "y", "z", "w"), {}, false);
    EXPECT_EQ(Dump().size(), 3u);
    EXPECT_EQ(Store.AllGroup().XrefList, nullptr);
}

TEST_F(LockoutTest, TestStringAnswers) {
    LoadText(
        "SUBJECT All-Groups 0 *sample*\n"
        "SUBJECT alt.test 1 x\n"
        "SUBJECT comp.misc 0 *sam*\n"
        "SUBJECT alt.binaries.pics 0 *ple*\n");
    struct TCase {
        const char* Text;
        std::vector<std::pair<std::string, std::string>> Want;
    };
    const TCase cases[] = {
        {"a sample",
         {{"string matches all groups", "hit"},
          {"string matches in alt.binaries.pics", "hit"},
          {"string matches in comp.misc", "hit"}}},
        {"x", {{"string matches in alt.test", "hit"}}},
        {"xx", {{"string did not match any groups", "no hit"}}},
    };
    for (const TCase& c : cases) {
        std::vector<std::pair<std::string, std::string>> got;
        for (const TLockoutAnswer& a : Lists.TestString(LOCKOUT_SUBJECT, c.Text))
            got.emplace_back(a.Text, a.Title);
        EXPECT_EQ(got, c.Want) << c.Text;
    }
    EXPECT_EQ(Lists.TestString(LOCKOUT_KEYWORDS, "a sample").size(), 1u);
}

TEST_F(LockoutTest, EditingEntries) {
    LoadText("POSTER All-Groups 0 bob\nPOSTER alt.test 16 carl\n");
    Lists.AddLockouts(LockoutFieldsFrom("tom", "", "", ""), {true, false, false, false}, true);
    std::vector<TLockoutEntry> entries = Lists.Entries(LOCKOUT_POSTER);
    Lines labels;
    for (const TLockoutEntry& e : entries) labels.push_back(e.Label);
    std::sort(labels.begin(), labels.begin() + 2);
    EXPECT_EQ(labels, (Lines{"All-Groups: bob", "[TEMP] All-Groups: tom", "alt.test: carl"}));
    auto find = [&entries](const char* pattern) {
        return *std::find_if(entries.begin(), entries.end(),
                             [pattern](const TLockoutEntry& e) { return e.Pattern == pattern; });
    };
    const TLockoutEntry bob = find("bob"), tom = find("tom"), carl = find("carl");
    EXPECT_EQ(bob.Group, -1);
    EXPECT_EQ(tom.Flags, uint32_t{RE_TEMPORARY});
    EXPECT_EQ(carl.Group, Store.IndexOf(Group("alt.test")));

    // Moved to alt.test as exact; a stale entry is refused.
    ASSERT_TRUE(Lists.EditEntry(LOCKOUT_POSTER, &bob, carl.Group, "bob", true, false));
    EXPECT_FALSE(Lists.EditEntry(LOCKOUT_POSTER, &bob, -1, "bob2", false, false));
    // Renamed onto an existing pattern: that one's flags stay, the temporary
    // bit is set as asked.
    ASSERT_TRUE(Lists.EditEntry(LOCKOUT_POSTER, &tom, carl.Group, "carl", false, true));
    // Edited in place: its word flag stays.
    ASSERT_TRUE(Lists.EditEntry(LOCKOUT_POSTER, &carl, carl.Group, "carl", true, true));
    EXPECT_EQ(Dump(), (Lines{"alt.test POSTER 1 bob", "alt.test POSTER 81 carl"}));

    EXPECT_FALSE(Lists.EditEntry(LOCKOUT_POSTER, nullptr, -1, "  \n ", false, false));
    EXPECT_FALSE(Lists.EditEntry(LOCKOUT_POSTER, nullptr, 99, "x", false, false));
    EXPECT_FALSE(Lists.EditEntry(0, nullptr, -1, "x", false, false));
    ASSERT_TRUE(Lists.EditEntry(LOCKOUT_XREF, nullptr, -1, "alt.sex", false, false));

    EXPECT_TRUE(Lists.DeleteEntry(LOCKOUT_POSTER, carl));
    EXPECT_FALSE(Lists.DeleteEntry(LOCKOUT_POSTER, carl));
    Lists.SetMatchBlank(LOCKOUT_HOST, true);
    EXPECT_EQ(Dump(), (Lines{"All-Groups HOST blank", "All-Groups XREF 0 alt.sex",
                             "alt.test POSTER 1 bob"}));
    Lists.SetMatchBlank(LOCKOUT_HOST, false);
    EXPECT_EQ(SaveText(), "XREF All-Groups 0 alt.sex\nPOSTER alt.test 1 bob\n");
}

}  // namespace
}  // namespace zorvex
