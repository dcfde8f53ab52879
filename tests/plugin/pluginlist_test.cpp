// The plug-in names of [plugins]: what a read keeps, the editing rules, and
// that only an edited list is written back.
#include "plugin/pluginlist.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "library/fileio.h"
#include "library/profile.h"
#include "support/tempdir.h"

namespace zorvex {
namespace {

using Names = std::vector<std::string>;

TProfile Parse(const std::string& text) {
    TProfile p;
    p.Parse(text);
    return p;
}

TEST(PlugInListTest, ReadKeepsCountNamesUpToTwenty) {
    const std::string long300(300, 'x');
    std::string many = "[plugins]\ncount=25\n";
    for (int i = 0; i < 25; ++i)
        many += "dllname" + std::to_string(i) + "=p" + std::to_string(i) + "\n";
    Names twenty;
    for (int i = 0; i < 20; ++i) twenty.push_back("p" + std::to_string(i));
    struct {
        const char* Name;
        std::string Ini;
        Names Expected;
    } cases[] = {
        {"none", "", {}},
        {"count",
         "[PlugIns]\nCount=2\nDLLNAME0=a.so\ndllname1=/opt/b.so\ndllname2=c.so\n",
         {"a.so", "/opt/b.so"}},
        {"empty slot kept",
         "[plugins]\ncount=3\ndllname0=a.so\ndllname2=c.so\n",
         {"a.so", "", "c.so"}},
        {"negative", "[plugins]\ncount=-4\ndllname0=a.so\n", {}},
        {"not a number", "[plugins]\ncount=many\ndllname0=a.so\n", {}},
        {"at most twenty", many, twenty},
        {"long name cut",
         "[plugins]\ncount=1\ndllname0=" + long300 + "\n",
         {long300.substr(0, 255)}},
    };
    for (const auto& c : cases) {
        TPlugInList list;
        list.Read(Parse(c.Ini));
        EXPECT_EQ(list.Names(), c.Expected) << c.Name;
        EXPECT_FALSE(list.Edited()) << c.Name;
    }
}

TEST(PlugInListTest, EditingFollowsItsRulesAndOnlyAnEditIsWritten) {
    const std::string text =
        "[plugins]\ncount=2\ndllname0=a.so\n; the user's note\ndllname1=b.so\n"
        "dllname7=stale.so\n";
    TPlugInList list;
    list.Read(Parse(text));
    TProfile unchanged = Parse(text);
    list.Write(unchanged);
    EXPECT_EQ(unchanged.Serialize(), Parse(text).Serialize());

    EXPECT_EQ(list.Remove(-1), TPlugInEdit::NO_SELECTION);
    EXPECT_EQ(list.Remove(2), TPlugInEdit::NO_SELECTION);
    EXPECT_EQ(list.Add(""), TPlugInEdit::NO_NAME);
    EXPECT_FALSE(list.Edited());
    EXPECT_EQ(list.Remove(0), TPlugInEdit::DONE);
    EXPECT_EQ(list.Add("c.so"), TPlugInEdit::DONE);
    TProfile written = Parse(text);
    list.Write(written);
    TPlugInList back;
    back.Read(written);
    EXPECT_EQ(back.Names(), (Names{"b.so", "c.so"}));
    EXPECT_FALSE(written.Has("plugins", "dllname7"));

    for (int i = 2; i < 20; ++i) ASSERT_EQ(list.Add("p" + std::to_string(i)), TPlugInEdit::DONE);
    EXPECT_EQ(list.Add("one.too.many"), TPlugInEdit::LIST_FULL);
    EXPECT_EQ(list.Names().size(), MAX_PLUGINS);
}

// Names that hold control bytes, blanks or quotes at their ends, as a
// settings file can quote them: an edit and a save keep every one of them.
TEST(PlugInListTest, NamesWithControlBytesReadBackTheSameAfterAnEditAndASave) {
    test::TTempDir dir;
    const std::string fixture = ZORVEX_TEST_DATA "/settings/profile-plugin-names-roundtrip.ini";
    const std::string copy = dir.File("vantrel.ini");
    std::string text;
    ASSERT_TRUE(ReadWholeFile(fixture, &text));
    ASSERT_TRUE(ReplaceFileAtomically(copy, text, nullptr));

    TProfile loaded;
    ASSERT_TRUE(loaded.Load(copy));
    TPlugInList list;
    list.Read(loaded);
    ASSERT_EQ(list.Names().size(), 19u);
    EXPECT_EQ(list.Names()[6], std::string("\f\0\0\0q.so", 8));
    ASSERT_EQ(list.Add("added.so"), TPlugInEdit::DONE);
    list.Write(loaded);
    std::string error;
    ASSERT_TRUE(loaded.Save(copy, &error)) << error;

    TProfile saved;
    ASSERT_TRUE(saved.Load(copy));
    TPlugInList back;
    back.Read(saved);
    EXPECT_EQ(back.Names(), list.Names());

    // Each kind on its own, quoted in the file as a user would write it.
    const std::string kinds[] = {
        " lead.so", "trail.so\t", std::string("\x01ctl.so\x7f"), "\"quoted.so\"",
        "'single.so'", "cr.so\r", std::string("nul\0.so", 7), "\v"};
    std::string ini = "[plugins]\ncount=" + std::to_string(std::size(kinds)) + "\n";
    for (size_t i = 0; i < std::size(kinds); ++i)
        ini += "dllname" + std::to_string(i) + "=\"" + kinds[i] + "\"\n";
    TProfile p = Parse(ini);
    TPlugInList one;
    one.Read(p);
    ASSERT_EQ(one.Names(), Names(std::begin(kinds), std::end(kinds)));
    ASSERT_EQ(one.Remove(0), TPlugInEdit::DONE);
    ASSERT_EQ(one.Add(kinds[0]), TPlugInEdit::DONE);
    one.Write(p);
    TPlugInList again;
    again.Read(Parse(p.Serialize()));
    EXPECT_EQ(again.Names(), one.Names());
}

}  // namespace
}  // namespace zorvex
