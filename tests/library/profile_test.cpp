#include "library/profile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/fileio.h"
#include "support/tempdir.h"

namespace zorvex {
namespace {

TEST(Profile, ReadsLikeThePlatform) {
    TProfile p;
    p.Parse(
        "; user comment\r\n"
        "[Misc]\r\n"
        "  XOver =  1  \r\n"
        "quoted=\"  spaced  \"\r\n"
        "single='x'\r\n"
        "empty=\r\n"
        "dup=first\r\n"
        "dup=second\r\n"
        "noequals\r\n"
        "[ other ]\n"
        "neg=-5\n"
        "junk=12abc\n"
        "word=abc\n"
        "big=4294967295\n");
    struct {
        const char* Section;
        const char* Key;
        const char* Expected;  // nullptr: absent
    } cases[] = {
        {"misc", "xover", "1"},        {"MISC", "XOVER", "1"}, {"misc", "quoted", "  spaced  "},
        {"misc", "single", "x"},       {"misc", "empty", ""},  {"misc", "dup", "first"},
        {"misc", "noequals", nullptr}, {"other", "neg", "-5"}, {"nosuch", "xover", nullptr},
        {"misc", "neg", nullptr},
    };
    for (const auto& c : cases) {
        auto v = p.Get(c.Section, c.Key);
        if (c.Expected == nullptr) {
            EXPECT_FALSE(v.has_value()) << c.Section << "/" << c.Key;
        } else {
            ASSERT_TRUE(v.has_value()) << c.Section << "/" << c.Key;
            EXPECT_EQ(*v, c.Expected) << c.Section << "/" << c.Key;
        }
    }
    struct {
        const char* Key;
        int32_t Default;
        int32_t Expected;
    } ints[] = {{"neg", 7, -5}, {"junk", 7, 12}, {"word", 7, 0}, {"big", 7, -1}, {"gone", 7, 7}};
    for (const auto& c : ints) EXPECT_EQ(p.GetInt("other", c.Key, c.Default), c.Expected) << c.Key;
    EXPECT_EQ(p.GetInt("misc", "empty", 9), 9);
    EXPECT_EQ(p.GetString("misc", "quoted", "d", 4), "  sp");
    EXPECT_EQ(p.GetString("misc", "absent", "default", 3), "def");
}

TEST(Profile, EditsKeepTheUsersFile) {
    TProfile p;
    p.Parse(
        "; keep me\n"
        "[misc]\n"
        "XOver=0\n"
        "mine=42\n"
        "\n"
        "[unknown]\n"
        "a=b\n");
    p.SetInt("MISC", "xover", 1);
    p.Set("misc", "added", "yes");
    p.Set("new", "k", "v");
    EXPECT_TRUE(p.Delete("misc", "mine"));
    EXPECT_FALSE(p.Delete("misc", "mine"));
    EXPECT_EQ(p.Serialize(),
              "; keep me\n"
              "[misc]\n"
              "XOver=1\n"
              "added=yes\n"
              "\n"
              "[unknown]\n"
              "a=b\n"
              "\n"
              "[new]\n"
              "k=v\n");
    p.Set("misc", "mine", "back");
    EXPECT_EQ(p.Get("misc", "mine").value_or(""), "back");
}

// What Set is given, Get gives back, before and after the file is written
// and read again: blanks, control bytes and quotes at the ends are kept by
// quoting the value. A line break cannot stand in a line and is a blank.
TEST(Profile, SetValuesReadBackTheSameAfterASave) {
    const struct {
        const char* Name;
        std::string Value;
        std::string Read;
        const char* Line;  // the key's line in the file
    } cases[] = {
        {"plain", "a.so", "a.so", "k=a.so"},
        {"inner blank", "a b", "a b", "k=a b"},
        {"empty", "", "", "k="},
        {"leading blank", " a", " a", "k=\" a\""},
        {"trailing tab", "a\t", "a\t", "k=\"a\t\""},
        {"form feed first", "\fa", "\fa", "k=\"\fa\""},
        {"carriage return last", "a\r", "a\r", "k=\"a\r\""},
        {"other control bytes", "\x01a\x7f", "\x01a\x7f", "k=\x01a\x7f"},
        {"nul inside", std::string("a\0b", 3), std::string("a\0b", 3), nullptr},
        {"double quotes around", "\"a\"", "\"a\"", "k=\"\"a\"\""},
        {"single quotes around", "'a'", "'a'", "k=\"'a'\""},
        {"one quote", "\"a", "\"a", "k=\"a"},
        {"only a quote", "\"", "\"", "k=\""},
        {"line break", "a\nb", "a b", "k=a b"},
        {"line break last", "a\n", "a ", "k=\"a \""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        for (bool existing : {false, true}) {
            TProfile p;
            p.Parse(existing ? "[s]\nk=old\n" : "");
            p.Set("s", "k", c.Value);
            EXPECT_EQ(p.Get("s", "k").value_or("absent"), c.Read);
            const std::string file = p.Serialize();
            if (c.Line) {
                EXPECT_EQ(file, std::string("[s]\n") + c.Line + "\n");
            }
            TProfile back;
            back.Parse(file);
            EXPECT_EQ(back.Get("s", "k").value_or("absent"), c.Read);
            EXPECT_EQ(back.Serialize(), file);
        }
    }
}

TEST(Profile, MissingFileIsEmptyAndSaveCreatesIt) {
    test::TTempDir dir;
    TProfile p;
    ASSERT_TRUE(p.Load(dir.File("absent.ini")));
    EXPECT_EQ(p.Serialize(), "");
    p.Set("a", "b", "c");
    std::string error;
    ASSERT_TRUE(p.Save(dir.File("absent.ini"), &error)) << error;
    TProfile back;
    ASSERT_TRUE(back.Load(dir.File("absent.ini")));
    EXPECT_EQ(back.Get("A", "B").value_or(""), "c");
}

TEST(NumberedList, ReadStopsAtTheFirstGapAndCutsLongEntries) {
    const std::string longEntry(NUMBERED_ENTRY_MAX + 50, 'x');
    struct {
        const char* Name;
        std::string Text;
        size_t Max;
        std::vector<std::string> Expected;
    } cases[] = {
        {"no section", "[other]\n0=a\n", NUMBERED_COUNT_MAX, {}},
        {"in order", "[list]\n0=a\n1= b c \n", NUMBERED_COUNT_MAX, {"a", "b c"}},
        {"gap", "[list]\n0=a\n2=c\n", NUMBERED_COUNT_MAX, {"a"}},
        {"empty entry", "[list]\n0=a\n1=\n2=c\n", NUMBERED_COUNT_MAX, {"a"}},
        {"no key 0", "[list]\n1=b\n", NUMBERED_COUNT_MAX, {}},
        {"long entry",
         "[list]\n0=" + longEntry + "\n",
         NUMBERED_COUNT_MAX,
         {longEntry.substr(0, NUMBERED_ENTRY_MAX)}},
        {"max", "[list]\n0=a\n1=b\n2=c\n", 2, {"a", "b"}},
    };
    for (const auto& c : cases) {
        TProfile p;
        p.Parse(c.Text);
        EXPECT_EQ(ReadNumberedList(p, "list", c.Max), c.Expected) << c.Name;
    }
    TProfile many;
    for (int i = 0; i < 300; ++i) many.SetInt("list", std::to_string(i), i);
    EXPECT_EQ(ReadNumberedList(many, "list").size(), NUMBERED_COUNT_MAX);
}

TEST(NumberedList, WriteDeletesStaleKeysUpToTheFirstGap) {
    const std::string longEntry(NUMBERED_ENTRY_MAX + 1, 'y');
    struct {
        const char* Name;
        const char* Before;
        std::vector<std::string> List;
        size_t Max;
        const char* After;
    } cases[] = {
        // Key 6 lies beyond the gap at 5 and is left alone.
        {"shrink",
         "[list]\n0=a\n1=b\n2=c\n3=d\n4=e\n6=g\n",
         {"A", "B"},
         NUMBERED_COUNT_MAX,
         "[list]\n0=A\n1=B\n6=g\n"},
        {"grow", "[list]\n0=a\n", {"a", "b"}, NUMBERED_COUNT_MAX, "[list]\n0=a\n1=b\n"},
        {"empty", "[list]\n0=a\n1=b\n", {}, NUMBERED_COUNT_MAX, "[list]\n"},
        {"new section", "", {"a"}, NUMBERED_COUNT_MAX, "[list]\n0=a\n"},
        {"max", "[list]\n0=a\n1=b\n2=c\n", {"x", "y", "z"}, 2, "[list]\n0=x\n1=y\n2=c\n"},
    };
    for (const auto& c : cases) {
        TProfile p;
        p.Parse(c.Before);
        WriteNumberedList(p, "list", c.List, c.Max);
        EXPECT_EQ(p.Serialize(), c.After) << c.Name;
    }
    TProfile p;
    WriteNumberedList(p, "list", {longEntry});
    EXPECT_EQ(p.Get("list", "0").value_or("").size(), NUMBERED_ENTRY_MAX);
}

}  // namespace
}  // namespace zorvex
