#include "library/profile.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zorvex
