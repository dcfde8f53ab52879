#include "select/filemask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace zorvex {
namespace {

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST(WildcardMatches, FileNamesAgainstMasks) {
    struct {
        const char* Mask;
        const char* Name;
        bool Expected;
    } cases[] = {
        {"*.JPG", "Photo.jpg", true},
        {"*.jpg", "photo.jpeg", false},
        {"*.jpg", "photo.jpg.exe", false},
        {"?.gif", "a.gif", true},
        {"?.gif", "ab.gif", false},
        {"?.gif", ".gif", false},
        {"*", "README", true},
        {"*.*", "README", true},
        {"*.*", "", true},
        {"photo*", "PHOTO", true},  // '*' takes an empty run
        {"a*b*c", "aXbYc", true},
        {"a*b*c", "aXbYcd", false},
        {"a*c", "abcbc", true},  // the last '*' has to move on past the first 'c'
        {"a\\b", "A\\B", true},  // no quoting: '\' is itself
        {"", "", true},
        {"", "x", false},
        {"*?", "", false},
        // Step 4: the mask with '.' after it, so a name ending in '.' is
        // taken by the mask without it; nothing else changes.
        {"readme", "README.", true},
        {"readme", "readme", true},
        {"readme", "readme..", false},
        {"readme", "readme.txt", false},
        {"?", "a.", true},
        {"*.", "readme", false},  // unlike a file-name list, no '.' is added to the name
    };
    for (const auto& c : cases)
        EXPECT_EQ(WildcardMatches(c.Mask, c.Name), c.Expected) << c.Mask << " / " << c.Name;
}

TEST(WildcardMatches, OverLongNamesAndMasksAlwaysMatch) {
    struct {
        std::string Mask;
        std::string Name;
        bool Expected;
    } cases[] = {
        {"*.jpg", std::string(WILDCARD_NAME_MAX, 'x'), false},
        {"*.jpg", std::string(WILDCARD_NAME_MAX + 1, 'x'), true},
        {std::string(WILDCARD_MASK_MAX, 'y'), "x", false},
        {std::string(WILDCARD_MASK_MAX + 1, 'y'), "x", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WildcardMatches(c.Mask, c.Name), c.Expected)
            << c.Mask.size() << " / " << c.Name.size();
}

TEST(WildcardMatches, ManyStarsStayLinear) {
    // Trying every split of the name among the stars would not end.
    const std::string mask = "*a*a*a*a*a*a*a*b";
    const std::string as(1000, 'a');
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WildcardMatches(mask, as));
    EXPECT_TRUE(WildcardMatches(mask, as + "b"));
    EXPECT_FALSE(WildcardMatches(mask + "*a", as + "b"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

class FileMasks : public ::testing::Test {
  protected:
    std::vector<std::string> Load(const std::string& text) {
        TProfile p;
        p.Parse(text);
        return masks.Load(p);
    }
    void AddAll(std::initializer_list<const char*> list, bool encryption) {
        for (const char* m : list) {
            std::string error;
            ASSERT_TRUE(encryption ? masks.AddEncryptionMask(m, &error)
                                   : masks.AddFileMask(m, &error))
                << m << ": " << error;
        }
    }

    TReSystem pool;  // before the lists, which give their nodes back to it
    TFileMasks masks{pool};
};

TEST_F(FileMasks, ReadingTheFileMaskSection) {
    struct {
        const char* Name;
        const char* Text;
        std::vector<std::string> Expected;
    } cases[] = {
        {"no section", "", {"*.*"}},
        {"empty section", "[filemask]\n", {"*.*"}},
        {"gap", "[filemask]\n0=*.jpg\n2=*.gif\n", {"*.jpg"}},
        {"empty first", "[filemask]\n0=\n1=*.gif\n", {"*.*"}},
        {"two", "[filemask]\n0=*.jpg\n1=*.gif\n", {"*.gif", "*.jpg"}},
        {"repeated", "[filemask]\n0=*.jpg\n1=*.jpg\n", {"*.jpg"}},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(Load(c.Text).empty()) << c.Name;
        EXPECT_EQ(Sorted(masks.FileMasks()), c.Expected) << c.Name;
    }
}

TEST_F(FileMasks, NamesAgainstTheAcceptableList) {
    Load("");
    for (const char* name : {"Photo.jpg", "README", "", "a.b.c"})
        EXPECT_TRUE(masks.NameAcceptable(name)) << "default list: " << name;

    Load("[filemask]\n0=*.JPG\n1=?.gif\n");
    struct {
        const char* Name;
        bool Expected;
    } cases[] = {
        {"Photo.jpg", true}, {"a.gif", true},  {"ab.gif", false},
        {"README", false},   {"x.png", false}, {"photo.jpg.exe", false},
    };
    for (const auto& c : cases) EXPECT_EQ(masks.NameAcceptable(c.Name), c.Expected) << c.Name;

    ASSERT_TRUE(masks.DeleteFileMask("*.JPG"));
    EXPECT_FALSE(masks.NameAcceptable("Photo.jpg"));
    ASSERT_TRUE(masks.DeleteFileMask("?.gif"));
    EXPECT_FALSE(masks.NameAcceptable("a.gif")) << "an empty list takes nothing";
}

TEST_F(FileMasks, SubjectsAgainstTheMasksAsWords) {
    Load("[filemask]\n0=*.jpg\n");
    struct {
        const char* Subject;
        bool Expected;
    } cases[] = {
        {"Holiday - beach.jpg (1/2)", true},
        {"Holiday - beach.jpgx (1/2)", false},
        {"Holiday - BEACH.JPG", true},
        {"Holiday - beach.gif (1/2)", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(masks.SubjectAcceptable(c.Subject), c.Expected) << c.Subject;
}

TEST_F(FileMasks, ShrinkingTheFileMasksDeletesTheirKeys) {
    TProfile p;
    p.Parse("[filemask]\n0=*.jpg\n1=*.gif\n2=*.png\n3=*.bmp\n4=*.tga\n");
    masks.Load(p);
    for (const char* m : {"*.png", "*.bmp", "*.tga"}) ASSERT_TRUE(masks.DeleteFileMask(m)) << m;
    EXPECT_FALSE(masks.DeleteFileMask("*.tga"));
    masks.WriteFileMasks(p);
    EXPECT_EQ(Sorted({p.Get("filemask", "0").value_or(""), p.Get("filemask", "1").value_or("")}),
              Sorted({"*.jpg", "*.gif"}));
    for (const char* gone : {"2", "3", "4"}) EXPECT_FALSE(p.Has("filemask", gone)) << gone;
    // Written in iteration order.
    EXPECT_EQ(ReadNumberedList(p, "filemask"), masks.FileMasks());
}

TEST_F(FileMasks, ReadingTheEncryptionSection) {
    const std::vector<std::string> defaults = {"*.bmp", "*.gif", "*.jpg"};
    struct {
        const char* Name;
        const char* Text;
        std::vector<std::string> Expected;
        size_t Notes;
    } cases[] = {
        {"missing", "", defaults, 0},
        {"count 0", "[encryption]\nmask_count=0\nmask0=*.png\n", defaults, 0},
        {"count 2",
         "[encryption]\nmask_count=2\nmask0=*.png\nmask1=*.tif\nmask2=*.x\n",
         {"*.png", "*.tif"},
         0},
        {"negative", "[encryption]\nmask_count=-3\nmask0=*.png\n", defaults, 1},
        {"absurd", "[encryption]\nmask_count=2000000000\nmask0=*.png\n", {"*.png"}, 2},
        {"empty key skipped",
         "[encryption]\nmask_count=3\nmask0=*.png\nmask1=\nmask2=*.tif\n",
         {"*.png", "*.tif"},
         1},
        {"all keys missing", "[encryption]\nmask_count=2\n", defaults, 1},
    };
    for (const auto& c : cases) {
        std::vector<std::string> notes = Load(c.Text);
        EXPECT_EQ(Sorted(masks.EncryptionMasks()), c.Expected) << c.Name;
        // The absurd count: one line for the count, one for the missing keys.
        EXPECT_EQ(notes.size(), c.Notes) << c.Name;
    }
    std::vector<std::string> notes = Load("[encryption]\nmask_count=-3\n");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("mask_count -3"), std::string::npos) << notes[0];
}

TEST_F(FileMasks, EncryptionMatchesWholeNamesAsFileNames) {
    Load("");
    AddAll({"notes.*"}, true);
    struct {
        const char* Name;
        bool Expected;
    } cases[] = {
        {"Photo.JPG", true},
        {"photo.jpg.exe", false},
        {"photo.jpgx", false},
        {"my photo.gif", true},
        {"photojpg", false},
        {"jpg", false},
        // Without a '.', the name is also tried as "notes.".
        {"notes", true},
        {"NOTES.txt", true},
        {"mynotes", false},
    };
    for (const auto& c : cases) EXPECT_EQ(masks.EncryptionMasksMatch(c.Name), c.Expected) << c.Name;
}

TEST_F(FileMasks, EncryptThisNeedsEnableAndAKey) {
    Load("");
    struct {
        bool Enable;
        const char* Key;
        const char* Name;
        bool Expected;
    } cases[] = {
        {true, "secret", "Photo.jpg", true},
        {true, "", "Photo.jpg", false},
        {false, "secret", "Photo.jpg", false},
        {true, "secret", "Photo.png", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(masks.EncryptThis(c.Name, c.Enable, c.Key), c.Expected)
            << c.Enable << " '" << c.Key << "' " << c.Name;
}

TEST_F(FileMasks, WritingTheEncryptionMasksDeletesTheOldKeys) {
    TProfile p;
    p.Parse("[encryption]\nmask_count=5\nmask0=*.a\nmask1=*.b\nmask2=*.c\nmask3=*.d\nmask4=*.e\n");
    masks.Load(p);
    for (const char* m : {"*.c", "*.d", "*.e"}) ASSERT_TRUE(masks.DeleteEncryptionMask(m)) << m;
    masks.WriteEncryptionMasks(p);
    EXPECT_EQ(p.GetInt("encryption", "mask_count", -1), 2);
    EXPECT_EQ(Sorted({p.Get("encryption", "mask0").value_or(""),
                      p.Get("encryption", "mask1").value_or("")}),
              Sorted({"*.a", "*.b"}));
    for (const char* gone : {"mask2", "mask3", "mask4"})
        EXPECT_FALSE(p.Has("encryption", gone)) << gone;

    // The count last written, larger than the 5 read, is the old count of
    // the next write.
    AddAll({"*.f", "*.g", "*.h", "*.i"}, true);
    masks.WriteEncryptionMasks(p);
    EXPECT_EQ(p.GetInt("encryption", "mask_count", -1), 6);
    for (const char* m : {"*.a", "*.f", "*.g", "*.h", "*.i"})
        ASSERT_TRUE(masks.DeleteEncryptionMask(m)) << m;
    masks.WriteEncryptionMasks(p);
    EXPECT_EQ(p.GetInt("encryption", "mask_count", -1), 1);
    EXPECT_EQ(p.Get("encryption", "mask0").value_or(""), "*.b");
    for (const char* gone : {"mask1", "mask2", "mask3", "mask4", "mask5"})
        EXPECT_FALSE(p.Has("encryption", gone)) << gone;

    // Defaults read from nothing are written out in full.
    TProfile fresh;
    masks.Load(fresh);
    masks.WriteEncryptionMasks(fresh);
    EXPECT_EQ(fresh.GetInt("encryption", "mask_count", -1), 3);
    EXPECT_TRUE(fresh.Has("encryption", "mask2"));
}

TEST_F(FileMasks, EditingRefusesMasksThatWouldNotSurviveASave) {
    Load("[filemask]\n0=*.jpg\n");
    struct {
        std::string Mask;
        bool Accepted;
    } cases[] = {
        {"  *.png\t", true},
        {"*.jpg", true},  // already there
        {std::string(FILE_MASK_MAX, 'm'), true},
        {"", false},
        {"   ", false},
        {"*.a\nb=c", false},
        {"*.a\rb", false},
        {std::string(FILE_MASK_MAX + 1, 'm'), false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> before = masks.FileMasks();
        std::string error;
        EXPECT_EQ(masks.AddFileMask(c.Mask, &error), c.Accepted) << c.Mask;
        EXPECT_EQ(error.empty(), c.Accepted) << c.Mask << ": " << error;
        if (!c.Accepted) {
            EXPECT_EQ(masks.FileMasks(), before) << c.Mask;
        }
    }
    EXPECT_EQ(Sorted(masks.FileMasks()),
              Sorted({"*.jpg", "*.png", std::string(FILE_MASK_MAX, 'm')}));

    // A full list takes no new mask, but an existing one is still fine.
    for (size_t i = masks.EncryptionMasks().size(); i < FILE_MASK_COUNT_MAX; ++i)
        AddAll({("*." + std::to_string(i)).c_str()}, true);
    ASSERT_EQ(masks.EncryptionMasks().size(), FILE_MASK_COUNT_MAX);
    std::string error;
    EXPECT_FALSE(masks.AddEncryptionMask("*.new", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(masks.AddEncryptionMask("*.jpg", &error)) << error;
    EXPECT_EQ(masks.EncryptionMasks().size(), FILE_MASK_COUNT_MAX);
}

TEST_F(FileMasks, RoundTripThroughTheSettingsText) {
    Load("[misc]\nxover=1\n[filemask]\n0=*.jpg\n");
    AddAll({"*.gif", "Disc ?.rar"}, false);
    ASSERT_TRUE(masks.DeleteEncryptionMask("*.bmp"));
    AddAll({"*.tif"}, true);
    TProfile p;
    p.Parse("[misc]\nxover=1\n");
    masks.WriteFileMasks(p);
    masks.WriteEncryptionMasks(p);

    TProfile back;
    back.Parse(p.Serialize());
    TFileMasks again(pool);
    EXPECT_TRUE(again.Load(back).empty());
    EXPECT_EQ(Sorted(again.FileMasks()), Sorted({"*.jpg", "*.gif", "Disc ?.rar"}));
    EXPECT_EQ(Sorted(again.EncryptionMasks()), Sorted({"*.jpg", "*.gif", "*.tif"}));
    EXPECT_TRUE(again.NameAcceptable("disc 1.RAR"));
    EXPECT_TRUE(again.EncryptionMasksMatch("scan.TIF"));
    EXPECT_FALSE(again.EncryptionMasksMatch("scan.bmp"));
    EXPECT_EQ(back.Get("misc", "xover").value_or(""), "1");
}

}  // namespace
}  // namespace zorvex
