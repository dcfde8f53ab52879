// The plug-in names of [plugins]: what a read keeps, the editing rules, and
// that only an edited list is written back.
#include "plugin/pluginlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/profile.h"

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

}  // namespace
}  // namespace zorvex
