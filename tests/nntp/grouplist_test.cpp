// The group list: [grouplist] load and save through the settings store, the
// group commands with their questions, message pointers, the similar-groups
// tally and the browse filter.
#include "nntp/grouplist.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "app/view.h"
#include "library/fileio.h"
#include "library/profile.h"
#include "library/statussink.h"
#include "nntp/newsrc.h"
#include "support/tempdir.h"

namespace zorvex {
namespace {

using Names = std::vector<std::string>;

// Hands the group-list part of a save set to the list, as the program's
// peers do.
struct TListPeers : TNoOtherSettingsKept {
    void WriteGroupList(TProfile& profile) override {
        ++GroupListWrites;
        if (List) List->WriteGroupList(profile);
    }
    TGroupList* List = nullptr;
    int GroupListWrites = 0;
};

struct TRecordedStatus : TStatusSink {
    void PrintStatus(std::string_view text) override { Lines.emplace_back(text); }
    std::vector<std::string> Lines;
};

struct TAsked {
    std::string Text, Caption;
    TBoxStyle Style;
    bool operator==(const TAsked&) const = default;
};

// Answers questions from a script (the safe answer once it runs out) and
// records every box.
class TScriptedView : public TNewsView {
  public:
    explicit TScriptedView(std::deque<TBoxAnswer> answers = {}) : Answers(std::move(answers)) {}
    void StatusLineAdded(std::string_view, bool) override {}
    void LogLineAdded(std::string_view, const THeader*, bool) override {}
    void ShowHint(std::string_view) override {}
    TBoxAnswer MessageBox(std::string_view text, std::string_view caption,
                          TBoxStyle style) override {
        Asked.push_back({std::string(text), std::string(caption), style});
        if (Answers.empty()) return SafeAnswer(style);
        TBoxAnswer a = Answers.front();
        Answers.pop_front();
        return a;
    }
    std::deque<TBoxAnswer> Answers;
    std::vector<TAsked> Asked;
};

std::ostream& operator<<(std::ostream& os, const TAsked& a) {
    return os << "{" << a.Text << " | " << a.Caption << " | " << a.Style << "}";
}

class GroupListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Peers.List = &List;
        WriteIni("[misc]\nxover=1\n");
        ASSERT_TRUE(Settings.LoadSettings());
    }
    void TearDown() override { ClearFileFaults(); }

    void WriteIni(const std::string& text) {
        std::string error;
        ASSERT_TRUE(ReplaceFileAtomically(Path, text, &error)) << error;
    }
    TProfile Saved() {
        TProfile p;
        EXPECT_TRUE(p.Load(Path));
        return p;
    }
    std::string Key(int i) {
        return Saved().Get(GROUPLIST_SECTION, std::to_string(i)).value_or("<none>");
    }
    // Sets [grouplist] in the file and loads it into the table.
    void LoadList(const std::string& section) {
        WriteIni("[misc]\nxover=1\n\n[grouplist]\n" + section);
        List.Load(Saved());
    }
    Names TableNames() {
        Names names;
        for (int i = 0; i < Store.GroupCount(); ++i) names.emplace_back(Store.GetGroup(i)->Name);
        return names;
    }

    TNewsStore Store;
    TGroupList List{Store};
    test::TTempDir Dir;
    std::string Path = Dir.File("vantrel.ini");
    TListPeers Peers;
    TRecordedStatus Status;
    TSettingsStore Settings{Path, Peers, &Status};
};

// ---- loading ----

struct TLoadedGroup {
    std::string Name;
    int Enabled;
    TArticleNo Pointer;
};

struct LoadCase {
    const char* Label;
    std::string Section;
    std::vector<TLoadedGroup> Expected;
};

class GroupListLoad : public GroupListTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(GroupListLoad, ReadsTheKeysUpToTheFirstGap) {
    LoadList(GetParam().Section);
    const auto& expected = GetParam().Expected;
    ASSERT_EQ(Store.GroupCount(), static_cast<int>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        TNewsGroup* g = Store.GetGroup(static_cast<int>(i));
        SCOPED_TRACE(i);
        EXPECT_EQ(g->Name, expected[i].Name);
        EXPECT_EQ(g->Enabled, expected[i].Enabled);
        EXPECT_EQ(g->Pointer, expected[i].Pointer);
        EXPECT_EQ(g->SavedPointer, expected[i].Pointer);
        EXPECT_EQ(g->Ordinal, static_cast<int>(i) + 1);
    }
    EXPECT_EQ(Store.HighestWrittenIndex, static_cast<int>(expected.size()));
}

const std::string kLongName(300, 'n');

INSTANTIATE_TEST_SUITE_P(
    Cases, GroupListLoad,
    ::testing::Values(
        LoadCase{"GapStopsLoading",
                 "0=a.b 1 10\n1=c.d 0 20\n3=e.f 1 30\n",
                 {{"a.b", 1, 10}, {"c.d", 0, 20}}},
        LoadCase{"NegativePointerIsZero", "0=a.b 1 -5\n", {{"a.b", 1, 0}}},
        LoadCase{"EmptyValueStops", "0=a.b 1 1\n1=\n2=c.d 1 2\n", {{"a.b", 1, 1}}},
        LoadCase{"NameOnlyIsEnabledFromZero", "0=a.b\n", {{"a.b", 1, 0}}},
        LoadCase{"MissingPointerIsZero", "0=a.b 0\n", {{"a.b", 0, 0}}},
        LoadCase{"FlagThatIsNoNumber", "0=a.b yes 40\n", {{"a.b", 1, 0}}},
        LoadCase{"AnyNonZeroFlagEnables", "0=a.b 7 3\n", {{"a.b", 1, 3}}},
        LoadCase{"PointerBeyond32Bits", "0=a.b 1 5000000000\n", {{"a.b", 1, 5000000000}}},
        LoadCase{"AbsurdPointerIsClamped",
                 "0=a.b 1 99999999999999999999999999\n",
                 {{"a.b", 1, ARTICLE_NO_MAX}}},
        LoadCase{"SameNameInOtherCaseOnce",
                 "0=a.b 1 3\n1=A.B 0 9\n2=c.d 1 4\n",
                 {{"a.b", 1, 3}, {"c.d", 1, 4}}},
        LoadCase{"LongNameIsCut", "0=" + kLongName + " 1 77\n", {{kLongName.substr(0, 255), 1, 0}}},
        LoadCase{"NoSection", "", {}}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(GroupListTest, LoadKeepsGroupsAlreadyInTheTable) {
    TNewsGroup* g = Store.AddGroup("a.b");
    g->Pointer = 9;
    Store.HighestWrittenIndex = 5;
    LoadList("0=A.B 0 3\n1=c.d 1 4\n");
    EXPECT_EQ(TableNames(), (Names{"a.b", "c.d"}));
    EXPECT_EQ(g->Pointer, 9);
    EXPECT_EQ(g->Enabled, 1);
    EXPECT_EQ(Store.HighestWrittenIndex, 5);  // the larger of itself and the count
}

// ---- saving ----

TEST_F(GroupListTest, DeletingAndSavingTheWholeListRemovesTheOldLastKey) {
    LoadList("0=a.b 1 10\n1=c.d 0 20\n2=e.f 1 30\n");
    TScriptedView view({ANSWER_YES});
    ASSERT_TRUE(List.DeleteGroups({0}, nullptr, view, Settings));
    EXPECT_EQ(Key(0), "c.d 0 20");
    EXPECT_EQ(Key(1), "e.f 1 30");
    EXPECT_EQ(Key(2), "<none>");
    EXPECT_EQ(Key(3), "<none>");
}

TEST_F(GroupListTest, SavePointersWritesOnlyTheGroupsThatMoved) {
    LoadList("0=a.b 1 10\n1=c.d 0 20\n");
    // Another writer changed key 0 since: a pointer save must not touch it.
    WriteIni("[grouplist]\n0=x.y 1 77\n1=c.d 0 20\n");
    Store.GetGroup(1)->Pointer = 25;
    ASSERT_TRUE(List.SavePointers(Settings));
    EXPECT_EQ(Key(0), "x.y 1 77");
    EXPECT_EQ(Key(1), "c.d 0 25");
    EXPECT_EQ(Store.GetGroup(1)->SavedPointer, 25);

    // Saved once, it is not written again.
    WriteIni("[grouplist]\n0=x.y 1 77\n1=c.d 0 20\n");
    ASSERT_TRUE(List.SavePointers(Settings));
    EXPECT_EQ(Key(1), "c.d 0 20");
}

TEST_F(GroupListTest, SavePointersNeverDeletesKeys) {
    LoadList("0=a.b 1 10\n1=c.d 0 20\n");
    Store.DeleteGroup(1);
    Store.GetGroup(0)->Pointer = 11;
    ASSERT_TRUE(List.SavePointers(Settings));
    EXPECT_EQ(Key(0), "a.b 1 11");
    EXPECT_EQ(Key(1), "c.d 0 20");
}

TEST_F(GroupListTest, AnUnaskedSaveWritesTheWholeListButKeepsPointersPending) {
    // The exit-time default set calls without SavePointers or SaveGroupList.
    LoadList("0=a.b 1 10\n1=c.d 0 20\n");
    Store.DeleteGroup(1);
    Store.GetGroup(0)->Pointer = 12;
    ASSERT_TRUE(Settings.SaveWithSet(SAVE_GROUP_LIST));
    EXPECT_EQ(Key(0), "a.b 1 12");
    EXPECT_EQ(Key(1), "<none>");
    // Its outcome is not known here, so a pointer save writes it again.
    EXPECT_EQ(Store.GetGroup(0)->SavedPointer, 10);
    WriteIni("[grouplist]\n0=a.b 1 10\n");
    ASSERT_TRUE(List.SavePointers(Settings));
    EXPECT_EQ(Key(0), "a.b 1 12");
}

enum TBreak { BREAK_PATH, BREAK_DISK_FULL, BREAK_RENAME };

class GroupListFailedSave : public GroupListTest, public ::testing::WithParamInterface<TBreak> {
  protected:
    // The settings directory becomes a plain file: nothing can be written
    // below it, even by root.
    std::string SubDir = Dir.File("settings");
    std::string SubPath = SubDir + "/vantrel.ini";
};

TEST_P(GroupListFailedSave, PointersStayPendingUntilAWriteSucceeds) {
    ASSERT_EQ(mkdir(SubDir.c_str(), 0700), 0);
    std::string error;
    ASSERT_TRUE(ReplaceFileAtomically(SubPath, "[grouplist]\n0=a.b 1 10\n", &error)) << error;
    TSettingsStore settings(SubPath, Peers, &Status);
    ASSERT_TRUE(settings.LoadSettings());
    TProfile p;
    ASSERT_TRUE(p.Load(SubPath));
    List.Load(p);
    Store.GetGroup(0)->Pointer = 15;

    switch (GetParam()) {
        case BREAK_PATH:
            ASSERT_EQ(unlink(SubPath.c_str()), 0);
            ASSERT_EQ(rmdir(SubDir.c_str()), 0);
            ASSERT_TRUE(ReplaceFileAtomically(SubDir, "in the way", &error)) << error;
            break;
        case BREAK_DISK_FULL:
            InjectFileFault(TFileFault::DISK_FULL);
            break;
        case BREAK_RENAME:
            InjectFileFault(TFileFault::RENAME_FAILS);
            break;
    }
    EXPECT_FALSE(List.SavePointers(settings));
    EXPECT_EQ(Store.GetGroup(0)->SavedPointer, 10);
    EXPECT_FALSE(Status.Lines.empty());

    if (GetParam() == BREAK_PATH) {
        ASSERT_EQ(unlink(SubDir.c_str()), 0);
        ASSERT_EQ(mkdir(SubDir.c_str(), 0700), 0);
    }
    ASSERT_TRUE(List.SavePointers(settings));
    EXPECT_EQ(Store.GetGroup(0)->SavedPointer, 15);
    ASSERT_TRUE(p.Load(SubPath));
    EXPECT_EQ(p.Get(GROUPLIST_SECTION, "0").value_or(""), "a.b 1 15");
}

INSTANTIATE_TEST_SUITE_P(Breaks, GroupListFailedSave,
                         ::testing::Values(BREAK_PATH, BREAK_DISK_FULL, BREAK_RENAME));

TEST_F(GroupListTest, AStoreThatWasNotLoadedSavesNothingAndSaysSo) {
    WriteIni("[grouplist]\n0=a.b 1 10\n");
    List.Load(Saved());
    Store.GetGroup(0)->Pointer = 15;
    TSettingsStore unloaded(Path, Peers, &Status);
    EXPECT_FALSE(List.SavePointers(unloaded));
    EXPECT_FALSE(List.SaveGroupList(unloaded));
    EXPECT_EQ(Store.GetGroup(0)->SavedPointer, 10);
    EXPECT_EQ(Key(0), "a.b 1 10");
}

TEST_F(GroupListTest, SaveGroupOnAProfile) {
    TProfile p;
    Store.AddGroup("a.b")->Pointer = 4;
    Store.AddGroup("c.d")->Enabled = 0;
    p.Set(GROUPLIST_SECTION, "5", "stale 1 1");

    List.SaveGroup(p, 0, true);
    EXPECT_EQ(p.Get(GROUPLIST_SECTION, "0").value_or(""), "a.b 1 4");
    EXPECT_EQ(Store.GetGroup(0)->SavedPointer, 4);
    List.SaveGroup(p, 1, true);  // pointer 0 = saved 0: nothing
    EXPECT_FALSE(p.Has(GROUPLIST_SECTION, "1"));
    List.SaveGroup(p, 1, false);
    EXPECT_EQ(p.Get(GROUPLIST_SECTION, "1").value_or(""), "c.d 0 0");
    EXPECT_EQ(Store.HighestWrittenIndex, 1);
    List.SaveGroup(p, 5, false);  // past the end: deleted
    EXPECT_FALSE(p.Has(GROUPLIST_SECTION, "5"));
}

TEST_F(GroupListTest, SixtyFourBitPointersSurviveASaveAndALoad) {
    Store.AddGroup("a.b")->Pointer = 123456789012345;
    ASSERT_TRUE(List.SaveGroupList(Settings));
    TNewsStore other;
    TGroupList reloaded(other);
    reloaded.Load(Saved());
    ASSERT_EQ(other.GroupCount(), 1);
    EXPECT_EQ(other.GetGroup(0)->Pointer, 123456789012345);
}

// ---- the group commands ----

TEST_F(GroupListTest, AddGroupsTakesCleanNewNamesAndSaves) {
    LoadList("0=a.b 1 10\n");
    std::string longest(GROUP_NAME_ADD_MAX, 'x');
    std::string tooLong(GROUP_NAME_ADD_MAX + 1, 'y');
    Names refused;
    int added = List.AddGroups({" c.d\t", "A.B", "", "   ", "e f", "g\th", std::string("i\x01j"),
                                "k\x7f", tooLong, longest, "c.d", "m.n"},
                               Settings, &refused);
    EXPECT_EQ(added, 3);
    EXPECT_EQ(TableNames(), (Names{"a.b", "c.d", longest, "m.n"}));
    EXPECT_EQ(refused, (Names{"", "   ", "e f", "g\th", std::string("i\x01j"), "k\x7f", tooLong}));
    EXPECT_EQ(Key(1), "c.d 1 0");
    EXPECT_EQ(Key(2), longest + " 1 0");
    EXPECT_EQ(Key(3), "m.n 1 0");
}

TEST_F(GroupListTest, AddGroupsWithNothingNewDoesNotSave) {
    LoadList("0=a.b 1 10\n");
    int writes = Peers.GroupListWrites;
    EXPECT_EQ(List.AddGroups({"a.b", "A.B", "bad name"}, Settings), 0);
    EXPECT_EQ(Peers.GroupListWrites, writes);
}

TEST_F(GroupListTest, AddGroupsStopsAtAFullTable) {
    for (int i = 0; i < MAXNEWSGROUPS; ++i) Store.AddGroup(("g." + std::to_string(i)).c_str());
    Names refused;
    EXPECT_EQ(List.AddGroups({"one.more"}, Settings, &refused), 0);
    EXPECT_EQ(refused, Names{"one.more"});
    EXPECT_EQ(Store.GroupCount(), MAXNEWSGROUPS);
}

struct DeleteCase {
    const char* Label;
    std::vector<int> Selection;
    int Downloading;  // index, -1 when not connected
    std::deque<TBoxAnswer> Answers;
    std::vector<TAsked> Asked;
    Names Left;
};

const char* const kBusy =
    "You cannot delete the group that is currently downloading (disconnect or use <Jump-To> to "
    "change)";

class GroupListDelete : public GroupListTest, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(GroupListDelete, AsksThenDeletes) {
    LoadList("0=a.b 1 1\n1=c.d 1 2\n2=e.f 1 3\n");
    const DeleteCase& c = GetParam();
    TScriptedView view(c.Answers);
    const TNewsGroup* downloading = c.Downloading >= 0 ? Store.GetGroup(c.Downloading) : nullptr;
    int writes = Peers.GroupListWrites;
    bool deleted = List.DeleteGroups(c.Selection, downloading, view, Settings);
    EXPECT_EQ(view.Asked, c.Asked);
    EXPECT_EQ(TableNames(), c.Left);
    bool changed = c.Left.size() != 3;
    EXPECT_EQ(deleted, changed);
    EXPECT_EQ(Peers.GroupListWrites, writes + (changed ? 1 : 0));
    if (changed) {
        EXPECT_EQ(Key(static_cast<int>(c.Left.size())), "<none>");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GroupListDelete,
    ::testing::Values(DeleteCase{"One",
                                 {1},
                                 -1,
                                 {ANSWER_YES},
                                 {{"Delete NewsGroup c.d ?", "Confirm", BOX_YES_NO}},
                                 {"a.b", "e.f"}},
                      DeleteCase{"Several",
                                 {0, 2},
                                 -1,
                                 {ANSWER_YES},
                                 {{"Delete 2 groups ?", "Confirm", BOX_YES_NO}},
                                 {"c.d"}},
                      DeleteCase{"RepeatsAndStrangersIgnored",
                                 {2, 0, 2, 9, -1},
                                 1,
                                 {ANSWER_YES},
                                 {{"Delete 2 groups ?", "Confirm", BOX_YES_NO}},
                                 {"c.d"}},
                      DeleteCase{"AnsweredNo",
                                 {1},
                                 -1,
                                 {ANSWER_NO},
                                 {{"Delete NewsGroup c.d ?", "Confirm", BOX_YES_NO}},
                                 {"a.b", "c.d", "e.f"}},
                      DeleteCase{"HeadlessAnswersNo",
                                 {0, 1, 2},
                                 -1,
                                 {},
                                 {{"Delete 3 groups ?", "Confirm", BOX_YES_NO}},
                                 {"a.b", "c.d", "e.f"}},
                      DeleteCase{"TheDownloadingGroup",
                                 {0, 1},
                                 1,
                                 {ANSWER_YES},
                                 {{kBusy, "Error", BOX_OK}},
                                 {"a.b", "c.d", "e.f"}},
                      DeleteCase{
                          "NothingSelected", {}, -1, {ANSWER_YES}, {}, {"a.b", "c.d", "e.f"}}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(GroupListTest, ToggleEnabledFlipsEachSelectedGroupOnce) {
    LoadList("0=a.b 1 1\n1=c.d 0 2\n2=e.f 1 3\n");
    List.ToggleEnabled({0, 1, 1, 7}, Settings);
    EXPECT_EQ(Store.IsEnabled(0), 0);
    EXPECT_EQ(Store.IsEnabled(1), 1);
    EXPECT_EQ(Store.IsEnabled(2), 1);
    EXPECT_EQ(Key(0), "a.b 0 1");
    EXPECT_EQ(Key(1), "c.d 1 2");
    EXPECT_EQ(TGroupList::DisplayText(*Store.GetGroup(0)), "[Disabled] a.b");
    EXPECT_EQ(TGroupList::DisplayText(*Store.GetGroup(1)), "[Enabled] c.d");
}

struct MoveCase {
    const char* Label;
    bool Up;
    int Index;
    bool Moved;
    std::vector<TAsked> Asked;
    Names Order;
};

class GroupListMove : public GroupListTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(GroupListMove, PromoteAndDemote) {
    LoadList("0=a.b 1 1\n1=c.d 1 2\n2=e.f 1 3\n");
    const MoveCase& c = GetParam();
    TScriptedView view;
    bool moved =
        c.Up ? List.Promote(c.Index, view, Settings) : List.Demote(c.Index, view, Settings);
    EXPECT_EQ(moved, c.Moved);
    EXPECT_EQ(view.Asked, c.Asked);
    EXPECT_EQ(TableNames(), c.Order);
    for (int i = 0; i < Store.GroupCount(); ++i) {
        EXPECT_EQ(Store.GetGroup(i)->Ordinal, i + 1);
        EXPECT_EQ(Key(i).substr(0, 3), c.Order[static_cast<size_t>(i)]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GroupListMove,
    ::testing::Values(MoveCase{"PromoteMiddle", true, 1, true, {}, {"c.d", "a.b", "e.f"}},
                      MoveCase{"PromoteFirst",
                               true,
                               0,
                               false,
                               {{"You cannot promote the first group", "Error", BOX_OK}},
                               {"a.b", "c.d", "e.f"}},
                      MoveCase{"DemoteMiddle", false, 1, true, {}, {"a.b", "e.f", "c.d"}},
                      MoveCase{"DemoteLast",
                               false,
                               2,
                               false,
                               {{"You cannot demote the last group", "Error", BOX_OK}},
                               {"a.b", "c.d", "e.f"}},
                      MoveCase{"NoSelection", false, -1, false, {}, {"a.b", "c.d", "e.f"}}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(GroupListTest, SortAsksFirst) {
    LoadList("0=b 1 1\n1=a 0 2\n2=c 1 3\n");
    TScriptedView no({ANSWER_NO});
    EXPECT_FALSE(List.Sort(no, Settings));
    EXPECT_EQ(TableNames(), (Names{"b", "a", "c"}));

    TScriptedView yes({ANSWER_YES});
    EXPECT_TRUE(List.Sort(yes, Settings));
    EXPECT_EQ(yes.Asked,
              (std::vector<TAsked>{{"Sort the newsgroup listing?", "Confirm", BOX_YES_NO}}));
    EXPECT_EQ(TableNames(), (Names{"a", "b", "c"}));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Store.GetGroup(i)->Ordinal, i + 1);
    EXPECT_EQ(Key(0), "a 0 2");
    EXPECT_EQ(Key(1), "b 1 1");
    EXPECT_EQ(Key(2), "c 1 3");
}

// ---- message pointers ----

struct PointerCase {
    const char* Label;
    int Done;
    TArticleNo Last;
    TArticleNo Entered;
    bool Changed;
    TArticleNo Pointer;
    int DoneAfter;
    TArticleNo HighestAfter;
};

class GroupListPointer : public GroupListTest, public ::testing::WithParamInterface<PointerCase> {};

TEST_P(GroupListPointer, OkOfTheDialog) {
    const PointerCase& c = GetParam();
    TNewsGroup* g = Store.AddGroup("a.b");
    // Headers 100..104 loaded, pointer at 102.
    for (int n = 100; n < 105; ++n)
        Store.AddOverviewLine(g, (std::to_string(n) + "\ts\tp\td\t<m>\t\t10\t5").c_str());
    Store.SortHeaders(g);
    g->Pointer = 102;
    g->First = 50;
    g->Last = c.Last;
    g->Done = c.Done;
    Store.ApplyPointer(g);

    EXPECT_EQ(List.SetPointer(g, c.Entered), c.Changed);
    EXPECT_EQ(g->Pointer, c.Pointer);
    EXPECT_EQ(g->Done, c.DoneAfter);
    EXPECT_EQ(g->HighestLoaded, c.HighestAfter);
    for (THeader* h = g->SortedHead; h; h = h->NumberNext)
        EXPECT_EQ((h->Flags & HEADER_HANDLED) != 0, h->Number < c.Pointer) << h->Number;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GroupListPointer,
    ::testing::Values(PointerCase{"Lower", 1, 104, 101, true, 101, 1, 104},
                      PointerCase{"Same", 1, 104, 102, false, 102, 1, 104},
                      PointerCase{"PastLastWhenDone", 1, 104, 900, true, 104, 1, 104},
                      PointerCase{"PastLastNotDone", 0, 104, 900, true, 900, 0, 104},
                      PointerCase{"BelowLoadedReloads", 1, 104, 40, true, 40, 0, 0},
                      PointerCase{"NegativeRefused", 1, 104, -1, false, 102, 1, 104}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(GroupListTest, PointerDialogShowsUnknownUntilScanned) {
    TNewsGroup* g = Store.AddGroup("a.b");
    g->Pointer = 7;
    g->First = 3;
    g->Last = 5000000000;
    TScriptedView view;
    TArticleNo field = 7;

    TPointerInfo info = TGroupList::PointerInfo(*g);
    EXPECT_EQ(info.Pointer, "7");
    EXPECT_EQ(info.First, "Unknown");
    EXPECT_EQ(info.Last, "Unknown");
    EXPECT_FALSE(TGroupList::CopyLast(*g, view, &field));
    EXPECT_EQ(field, 7);
    EXPECT_EQ(view.Asked, (std::vector<TAsked>{{"This group has not been scanned yet, so the "
                                                "highest message isn't known.",
                                                "Sorry!", BOX_OK}}));

    g->Done = 1;
    info = TGroupList::PointerInfo(*g);
    EXPECT_EQ(info.First, "3");
    EXPECT_EQ(info.Last, "5000000000");
    EXPECT_TRUE(TGroupList::CopyLast(*g, view, &field));
    EXPECT_EQ(field, 5000000000);
}

// ---- similar groups ----

TEST(CrossPostTally, CountsInFirstSeenOrderAndMarksListedGroups) {
    TNewsStore store;
    store.AddGroup("Alt.Listed");
    TCrossPostTally tally;
    tally.CountCrossPosts("alt.listed: comp.x: ");
    tally.CountCrossPosts("comp.x: rec.y: ");
    tally.CountCrossPosts("");
    tally.CountCrossPosts(nullptr);
    tally.Count("rec.y");
    EXPECT_EQ(tally.CountOf("comp.x"), 2);
    EXPECT_EQ(tally.CountOf("nothing"), 0);
    EXPECT_EQ(tally.Lines(store), (Names{"*alt.listed: 1", "comp.x: 2", "rec.y: 2"}));

    tally.ClearCounts();
    EXPECT_EQ(tally.Lines(store), Names{});
    tally.Count("rec.y");
    EXPECT_EQ(tally.Lines(store), Names{"rec.y: 1"});
}

TEST(CrossPostTally, StaysBoundedWhateverTheHeadersSay) {
    TNewsStore store;
    TCrossPostTally tally;
    for (size_t i = 0; i < TALLY_NAMES_MAX + 100; ++i) tally.Count("g" + std::to_string(i));
    tally.Count(std::string(1000, 'z'));
    EXPECT_EQ(tally.Lines(store).size(), TALLY_NAMES_MAX);
    tally.Count("g0");
    EXPECT_EQ(tally.CountOf("g0"), 2);
    EXPECT_EQ(tally.CountOf("g" + std::to_string(TALLY_NAMES_MAX)), 0);
}

struct SimilarCase {
    const char* Label;
    std::string Line;
    std::deque<TBoxAnswer> Answers;
    bool Added;
    std::vector<TAsked> Asked;
};

class GroupListSimilar : public GroupListTest, public ::testing::WithParamInterface<SimilarCase> {};

TEST_P(GroupListSimilar, AddButton) {
    LoadList("0=alt.listed 1 4\n");
    const SimilarCase& c = GetParam();
    TScriptedView view(c.Answers);
    EXPECT_EQ(List.AddSimilarGroup(c.Line, view, Settings), c.Added);
    EXPECT_EQ(view.Asked, c.Asked);
    EXPECT_EQ(Store.GroupCount(), c.Added ? 2 : 1);
    if (c.Added) {
        EXPECT_EQ(Key(1), "comp.x 1 0");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GroupListSimilar,
    ::testing::Values(
        SimilarCase{"Yes",
                    "comp.x: 3",
                    {ANSWER_YES},
                    true,
                    {{"Add comp.x to group list ?", "Confirm", BOX_YES_NO}}},
        SimilarCase{"No",
                    "comp.x: 3",
                    {ANSWER_NO},
                    false,
                    {{"Add comp.x to group list ?", "Confirm", BOX_YES_NO}}},
        SimilarCase{"AlreadyListed",
                    "*alt.listed: 2",
                    {ANSWER_YES},
                    false,
                    {{"Add alt.listed to group list ?", "Confirm", BOX_YES_NO},
                     {"alt.listed is already listed in the group list!", "Error!", BOX_OK}}},
        SimilarCase{"NoLine",
                    "",
                    {ANSWER_YES},
                    false,
                    {{"Please highlight a line in the listbox first", "error", BOX_OK}}},
        SimilarCase{"NoName",
                    "*: 4",
                    {ANSWER_YES},
                    false,
                    {{"Please highlight a line in the listbox first", "error", BOX_OK}}},
        SimilarCase{"UnusableName",
                    std::string("a\x01z: 1"),
                    {ANSWER_YES},
                    false,
                    {{std::string("Add a\x01z to group list ?"), "Confirm", BOX_YES_NO},
                     {std::string("a\x01z is not a usable group name"), "Error!", BOX_OK}}}),
    [](const auto& info) { return std::string(info.param.Label); });

// ---- the browse dialog ----

struct BrowseCase {
    const char* Label;
    TBrowseBoxes Boxes;
    std::string Search;
    Names ToAdd;
    Names Shown;
};

class BrowseFilter : public ::testing::TestWithParam<BrowseCase> {};

TEST_P(BrowseFilter, ShowsTheTickedNewNames) {
    test::TTempDir dir;
    TNewsrcList newsrc(dir.Path());
    for (const char* line :
         {"sci.b 1 1 y", "alt.z", "zz.top", "comp.os", "compx.y", "rec.a", "biz.q", "alt.Listed",
          "\xc3\xa9t\xc3\xa9.x", "Alt.upper", "comp.arch", "alt.b"})
        newsrc.AddNewsrcLine(line);
    TNewsStore groups;
    groups.AddGroup("alt.listed");
    const BrowseCase& c = GetParam();
    EXPECT_EQ(BrowseAvailable(newsrc, groups, c.ToAdd, c.Boxes, c.Search), c.Shown);
}

constexpr TBrowseBoxes kAll{true, true, true, true, true, true};
constexpr TBrowseBoxes kNone{false, false, false, false, false, false};

INSTANTIATE_TEST_SUITE_P(
    Cases, BrowseFilter,
    ::testing::Values(
        BrowseCase{"AllSortedAsUnsignedBytes",
                   kAll,
                   "",
                   {},
                   {"Alt.upper", "alt.b", "alt.z", "biz.q", "comp.arch", "comp.os", "compx.y",
                    "rec.a", "sci.b", "zz.top", "\xc3\xa9t\xc3\xa9.x"}},
        BrowseCase{"NoBox", kNone, "", {}, {}},
        BrowseCase{
            "AltOnly", {false, false, false, false, false, true}, "", {}, {"alt.b", "alt.z"}},
        BrowseCase{"CompNeedsTheDot",
                   {false, false, false, true, false, false},
                   "",
                   {},
                   {"comp.arch", "comp.os"}},
        BrowseCase{"ElseTakesTheRest",
                   {false, true, false, false, false, false},
                   "",
                   {},
                   {"Alt.upper", "compx.y", "zz.top", "\xc3\xa9t\xc3\xa9.x"}},
        BrowseCase{"SciRecBiz",
                   {true, false, true, false, true, false},
                   "",
                   {},
                   {"biz.q", "rec.a", "sci.b"}},
        BrowseCase{"SearchIsCaseSensitive", kAll, "b", {}, {"alt.b", "biz.q", "sci.b"}},
        BrowseCase{"SearchUpper", kAll, "U", {}, {}},
        BrowseCase{"ToAddLeftOut", kAll, "alt", {"alt.b", "Alt.upper"}, {"alt.z"}}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST(BrowseFilter, EmptyNewsrcShowsNothing) {
    test::TTempDir dir;
    TNewsrcList newsrc(dir.Path());
    TNewsStore groups;
    EXPECT_EQ(BrowseAvailable(newsrc, groups, {}, kAll, ""), Names{});
}

TEST(BrowseFilter, FreshListButtonAsksThenForgetsTheDate) {
    test::TTempDir dir;
    TNewsrcList newsrc(dir.Path());
    newsrc.SetClock([] { return time_t{86400}; });
    newsrc.BeginRequest();
    newsrc.AddNewsrcLine("a.b");
    newsrc.EndListing(true);
    ASSERT_EQ(access(newsrc.Path().c_str(), F_OK), 0);

    TScriptedView cancel;
    EXPECT_FALSE(TGroupList::RequestFreshNewsrc(newsrc, cancel));
    EXPECT_EQ(newsrc.Date(), "700102");
    EXPECT_EQ(access(newsrc.Path().c_str(), F_OK), 0);

    TScriptedView ok({ANSWER_OK, ANSWER_OK});
    EXPECT_TRUE(TGroupList::RequestFreshNewsrc(newsrc, ok));
    EXPECT_EQ(ok.Asked, (std::vector<TAsked>{
                            {"This will cause a new Newsgroup List to be downloaded from your "
                             "server",
                             "Confirm", BOX_OK_CANCEL},
                            {"The new Newsgroup List will be downloaded next time you <connect> "
                             "to your server",
                             "Done!", BOX_OK}}));
    EXPECT_EQ(newsrc.Date(), "");
    EXPECT_FALSE(newsrc.LoadedThisRun());
    EXPECT_NE(access(newsrc.Path().c_str(), F_OK), 0);
}

}  // namespace
}  // namespace zorvex
