// The group list: [grouplist] load and write, the save handshake, message
// pointers and the browse filter.
#include "nntp/grouplist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/fileio.h"
#include "library/profile.h"
#include "nntp/newsrc.h"
#include "support/grouplist_fixture.h"

namespace zorvex {
namespace {

using Names = std::vector<std::string>;

using GroupListTest = test::TGroupListFixture;

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

// The save handshake with a writer in place of the settings store: the
// writer's profile stands for the file.
struct HandshakeCase {
    const char* Label;
    TGroupList::TSaveMode Mode;
    bool CallsBack;  // the writer hands its profile to WriteGroupList
    bool WriteOk;    // and the file write succeeds
    bool Reached;
    std::string Key0, Key1;
};

class GroupListHandshake : public GroupListTest,
                           public ::testing::WithParamInterface<HandshakeCase> {};

TEST_P(GroupListHandshake, PointersCountAsSavedOnlyWhenTheListReachedTheFile) {
    const HandshakeCase& c = GetParam();
    LoadList("0=a.b 1 10\n1=c.d 0 20\n");
    Store.GetGroup(1)->Pointer = 25;
    TProfile file;
    file.Set(GROUPLIST_SECTION, "0", "x.y 1 77");
    file.Set(GROUPLIST_SECTION, "1", "old");
    int calls = 0;
    bool reached = List.SaveThrough(c.Mode, [&] {
        ++calls;
        if (c.CallsBack) List.WriteGroupList(file);
        return c.WriteOk;
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(reached, c.Reached);
    EXPECT_EQ(file.Get(GROUPLIST_SECTION, "0").value_or("<none>"), c.Key0);
    EXPECT_EQ(file.Get(GROUPLIST_SECTION, "1").value_or("<none>"), c.Key1);
    EXPECT_EQ(Store.GetGroup(0)->SavedPointer, 10);
    EXPECT_EQ(Store.GetGroup(1)->SavedPointer, c.Reached ? 25 : 20);

    // The mode lasts only for that save: a writer on its own gets the
    // whole list.
    TProfile later;
    List.WriteGroupList(later);
    EXPECT_EQ(later.Get(GROUPLIST_SECTION, "0").value_or("<none>"), "a.b 1 10");
    EXPECT_EQ(later.Get(GROUPLIST_SECTION, "1").value_or("<none>"), "c.d 0 25");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GroupListHandshake,
    ::testing::Values(HandshakeCase{"ChangedPointers", TGroupList::SAVE_CHANGED_POINTERS, true,
                                    true, true, "x.y 1 77", "c.d 0 25"},
                      HandshakeCase{"WholeList", TGroupList::SAVE_WHOLE_LIST, true, true, true,
                                    "a.b 1 10", "c.d 0 25"},
                      HandshakeCase{"WriteFailed", TGroupList::SAVE_CHANGED_POINTERS, true, false,
                                    false, "x.y 1 77", "c.d 0 25"},
                      HandshakeCase{"NotCalledBack", TGroupList::SAVE_WHOLE_LIST, false, true,
                                    false, "x.y 1 77", "old"}),
    [](const auto& info) { return std::string(info.param.Label); });

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

}  // namespace
}  // namespace zorvex
