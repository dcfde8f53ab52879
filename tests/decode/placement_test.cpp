#include "decode/placement.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "library/fileio.h"
#include "support/encoders.h"
#include "support/files.h"
#include "support/tempdir.h"

namespace zorvex {
namespace {

using test::Exists;
using test::ReadFile;
using test::WriteFile;

bool IsDir(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Replaces every '@' by the test's temporary directory.
std::string InTemp(const std::string& pattern, const std::string& dir) {
    std::string out;
    for (char c : pattern) {
        if (c == '@')
            out += dir;
        else
            out += c;
    }
    return out;
}

TEST(PlacementNames, SeparatorsEndANameExceptTheTwelveAndByte255) {
    const struct {
        unsigned char C;
        bool Separator;
    } cases[] = {
        {'a', false}, {'Z', false}, {'0', false}, {'9', false}, {'.', false}, {'~', false},
        {'`', false}, {'!', false}, {'@', false}, {'#', false}, {'$', false}, {'%', false},
        {'^', false}, {'&', false}, {'_', false}, {'-', false}, {255, false}, {' ', true},
        {'/', true},  {'\\', true}, {':', true},  {'(', true},  {')', true},  {'"', true},
        {'+', true},  {'=', true},  {'*', true},  {0, true},    {'\t', true}, {0x7f, true},
        {0x80, true}, {0xe9, true}, {254, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsNameSeparator(c.C), c.Separator) << "code " << static_cast<int>(c.C);
}

TEST(PlacementNames, CleanFileNameKeepsOnlyTheLastPartAndNoControls) {
    const struct {
        std::string In;
        std::string Out;
        bool Usable;
    } cases[] = {
        {"..\\..\\windows\\x.dll", "x.dll", true},
        {"a/b/c.txt", "c.txt", true},
        {"/etc/passwd", "passwd", true},
        {"a\\b/c\\d", "d", true},
        {"plain.jpg", "plain.jpg", true},
        {"dir/", "", false},
        {"dir\\", "", false},
        {"x/..", "..", false},
        {"a\x01"
         "b\x7f.txt",
         "a_b_.txt", true},
        {"\x1b[2Jx\r\n", "_[2Jx__", true},
        {std::string("a\0b", 3), "a_b", true},
        {"caf\xe9.jpg", "caf\xe9.jpg", true},  // bytes above 0x7f are left alone
    };
    for (const auto& c : cases) {
        std::string cleaned = CleanFileName(c.In);
        EXPECT_EQ(cleaned, c.Out) << c.In;
        EXPECT_EQ(UsableFileName(cleaned), c.Usable) << c.In;
    }
}

TEST(PlacementNames, UsableFileName) {
    const struct {
        const char* Name;
        bool Usable;
    } cases[] = {{"", false},  {".", false}, {"..", false}, {"...", true},
                 {".x", true}, {"x.", true}, {"a", true},   {"..x", true}};
    for (const auto& c : cases) EXPECT_EQ(UsableFileName(c.Name), c.Usable) << c.Name;
}

TEST(PlacementNames, ConvertCase) {
    const struct {
        const char* In;
        int Mode;
        const char* Out;
    } cases[] = {
        {"MiXed.JPG", 0, "MiXed.JPG"},         {"MiXed.JPG", 1, "mixed.jpg"},
        {"MiXed.JPG", 2, "MIXED.JPG"},         {"MiXed.JPG", 3, "MiXed.JPG"},
        {"MiXed.JPG", -1, "MiXed.JPG"},        {"\xc9T\xc9_1.JPG", 1, "\xc9t\xc9_1.jpg"},
        {"\xe9t\xe9.jpg", 2, "\xe9T\xe9.JPG"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ConvertCase(c.In, c.Mode), c.Out) << c.In << " " << c.Mode;
}

TEST(PlacementNames, IsReservedDeviceName) {
    const struct {
        std::string Name;
        bool Reserved;
    } cases[] = {
        {"CON.txt", true},
        {"console.txt", false},
        {"dir/nul", true},
        {"clock$", true},
        {"CLOCK$.old", true},
        {"lpt3.tar.gz", true},
        {"Com4", true},
        {"com5", false},
        {"lpt4", false},
        {"nul/x", false},
        {"x/aux.", true},
        {".con", false},
        {"", false},
        {"aux." + std::string(1018, 'x'), true},   // name part of 1022 characters
        {"aux." + std::string(1019, 'x'), false},  // 1023: too long to be told
        {std::string(2000, 'd') + "/aux." + std::string(100, 'x'), true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsReservedDeviceName(c.Name), c.Reserved) << c.Name.substr(0, 40);
}

TEST(PlacementSubject, NameFromSubject) {
    const struct {
        std::string Subject;
        std::string Name;
    } cases[] = {
        {"pics - nice.jpg (1/1)", "nice.jpg"},
        {"part1 of holiday", ""},
        {"re: file_01.part1.rar yEnc (1/20)", "file_01.part1.rar"},
        {"", ""},
        {"nice.jpg", "nice.jpg"},
        {".jpg", ".jpg"},
        {"[x] ~me!@#$%^&_-.tar.gz\"", "~me!@#$%^&_-.tar.gz"},
        {"a(b.jpg", "b.jpg"},
        {"photo.jpg\xfe"
         "extra",
         "photo.jpg"},
        {"photo.jpg\xff"
         "extra",
         "photo.jpg\xff"
         "extra"},  // 255 does not end a name
        {"bad\xff.jpg", "bad\xff.jpg"},
        {std::string("x\0y.jpg", 7), "y.jpg"},
        {"a/../b.txt", ""},  // would be ".."
        {"see . here", ""},  // would be "."
        {"dots... end", "dots..."},
    };
    for (const auto& c : cases) EXPECT_EQ(NameFromSubject(c.Subject), c.Name) << c.Subject;
}

TEST(PlacementSubject, LengthLimits) {
    auto padded = [](std::string subject, size_t length) {
        subject.resize(length, ' ');
        return subject;
    };
    EXPECT_EQ(NameFromSubject(padded("x.jpg", SUBJECT_NAME_SOURCE_MAX - 1)), "x.jpg");
    EXPECT_EQ(NameFromSubject(padded("x.jpg", SUBJECT_NAME_SOURCE_MAX)), "");
    EXPECT_EQ(NameFromSubject(padded("x.jpg", 5000)), "");

    const std::string longStem(200, 'a');
    EXPECT_EQ(NameFromSubject(longStem + ".jpg (1/2)"), std::string(SUBJECT_NAME_MAX, 'a'));
    const std::string name = "ab." + std::string(200, 'c');
    EXPECT_EQ(NameFromSubject("re: " + name), name.substr(0, SUBJECT_NAME_MAX));
    EXPECT_EQ(NameFromSubject(std::string(127, 'n') + ".jpg"), std::string(127, 'n') + ".");
}

// Download path "/dl/" and the prefix list the tests share.
struct TGroupCase {
    const char* Group;
    int Scheme;
    const char* Directory;
};

TEST(PlacementGroupDirectory, Schemes) {
    const std::vector<std::string> prefixes = {"alt.binaries", "alt"};
    const TGroupCase cases[] = {
        {"alt.binaries.pictures.misc", 0, "/dl/"},
        {"alt.binaries.pictures.misc", 1, "/dl/pictures/misc/"},
        {"alt.binaries.pictures.misc", 2, "/dl/group7/"},
        {"alt.binaries.pictures.misc", 3, "/dl/pictures.misc/"},
        {"alt.binaries.pictures.misc", 4, "/dl/"},
        {"alt.binaries.pictures.misc", -1, "/dl/"},
        {"alt", 1, "/dl/"},
        {"alt", 3, "/dl/"},
        {"alt.", 1, "/dl/"},
        {"alt.binaries", 1, "/dl/"},
        {"alt.fan.x", 1, "/dl/fan/x/"},
        {"comp.os.linux", 1, "/dl/comp/os/linux/"},
        {"comp.os.linux", 3, "/dl/comp.os.linux/"},
        // A prefix is plain text, not a whole hierarchy name.
        {"alternative.x", 1, "/dl/ernative/x/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GroupDirectory("/dl/", c.Group, 7, c.Scheme, prefixes), c.Directory)
            << c.Group << " scheme " << c.Scheme;
    // A download path given without its slash still yields a directory.
    EXPECT_EQ(GroupDirectory("/dl", "alt.binaries.x", 7, 1, prefixes), "/dl/x/");
    EXPECT_EQ(GroupDirectory("/dl", "alt.binaries.x", 7, 0, prefixes), "/dl/");
}

TEST(PlacementGroupDirectory, PrefixesMatchIgnoringCase) {
    EXPECT_EQ(GroupDirectory("/dl/", "alt.binaries.x", 1, 1, {"ALT.Binaries"}), "/dl/x/");
    EXPECT_EQ(GroupDirectory("/dl/", "ALT.BINARIES.X", 1, 1, {"alt.binaries"}), "/dl/X/");
    EXPECT_EQ(GroupDirectory("/dl/", "alt.binaries.x", 1, 1, {"alt.binaries.x.y"}),
              "/dl/alt/binaries/x/");
}

TEST(PlacementGroupDirectory, LongestPrefixWinsWhateverTheOrder) {
    const std::vector<std::vector<std::string>> lists = {
        {"alt.binaries", "alt"},
        {"alt", "alt.binaries"},
        {"alt", "", "alt.binaries", "alt.bin", "comp"},
    };
    for (const auto& list : lists) {
        EXPECT_EQ(GroupDirectory("/dl/", "alt.binaries.a.b", 1, 1, list), "/dl/a/b/");
        EXPECT_EQ(GroupDirectory("/dl/", "alt.binaries.a.b", 1, 3, list), "/dl/a.b/");
    }
}

TEST(PlacementGroupDirectory, HostileGroupNamesGiveFixedDirectories) {
    const std::vector<std::string> prefixes = {"alt.binaries"};
    const TGroupCase cases[] = {
        {"alt.binaries..x", 1, "/dl/_/x/"},
        {"alt.binaries..x", 3, "/dl/.x/"},
        {"alt.binaries...", 1, "/dl/_/_/_/"},
        {"alt.binaries...", 3, "/dl/_/"},  // ".." as one directory
        {"alt.binaries..", 3, "/dl/_/"},   // "."
        {"a/../../b", 1, "/dl/a_/_/_/_/_b/"},
        {"a/../../b", 3, "/dl/a_.._.._b/"},
        {"..", 1, "/dl/_/_/_/"},
        {"..", 3, "/dl/_/"},
        {"/etc", 3, "/dl/_etc/"},
        {"x\n.y\x01", 1, "/dl/x_/y_/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GroupDirectory("/dl/", c.Group, 1, c.Scheme, prefixes), c.Directory)
            << c.Group << " scheme " << c.Scheme;
}

TEST(PlacementGroupDirectory, HostileGroupNamesStayInsideTheDownloadPath) {
    test::TTempDir temp;
    const std::string download = temp.File("dl/");
    ASSERT_TRUE(EnsureDirectory(download, true));
    char real[PATH_MAX];
    ASSERT_NE(realpath(download.c_str(), real), nullptr);
    const std::string root = std::string(real) + "/";
    const std::string groups[] = {"alt.binaries..",       "alt.binaries...",    "....", "a/../../b",
                                  "../../../tmp",         "alt.binaries.../..", ".x..", "./.",
                                  std::string("x\0.y", 4)};
    for (int scheme : {1, 3}) {
        for (const std::string& group : groups) {
            std::string dir = GroupDirectory(download, group, 1, scheme, {"alt.binaries"});
            SCOPED_TRACE(group + " scheme " + std::to_string(scheme) + " -> " + dir);
            ASSERT_TRUE(EnsureDirectory(dir, true));
            ASSERT_NE(realpath(dir.c_str(), real), nullptr);
            std::string resolved = std::string(real) + "/";
            EXPECT_EQ(resolved.compare(0, root.size(), root), 0);
            EXPECT_GT(resolved.size(), root.size()) << "the download path itself";
        }
    }
}

class PlacementEnsureDirectory : public ::testing::Test {
  protected:
    test::TTempDir Temp;
};

TEST_F(PlacementEnsureDirectory, CreatesEveryMissingLevel) {
    const std::string path = Temp.File("a/b/c/");
    EXPECT_TRUE(EnsureDirectory(path, true));
    EXPECT_TRUE(IsDir(Temp.File("a")));
    EXPECT_TRUE(IsDir(Temp.File("a/b")));
    EXPECT_TRUE(IsDir(Temp.File("a/b/c")));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0700, 0700u);
    // Existing directories are accepted, with or without create.
    EXPECT_TRUE(EnsureDirectory(path, true));
    EXPECT_TRUE(EnsureDirectory(path, false));
    EXPECT_TRUE(EnsureDirectory(Temp.File("a//b/./c/"), false));
}

TEST_F(PlacementEnsureDirectory, WithoutCreateOnlyChecks) {
    EXPECT_FALSE(EnsureDirectory(Temp.File("missing/deeper/"), false));
    EXPECT_FALSE(Exists(Temp.File("missing")));
}

TEST_F(PlacementEnsureDirectory, OnlyComponentsFollowedBySlashAreLookedAt) {
    EXPECT_TRUE(EnsureDirectory(Temp.File("dir/last"), true));
    EXPECT_TRUE(IsDir(Temp.File("dir")));
    EXPECT_FALSE(Exists(Temp.File("dir/last")));
}

TEST_F(PlacementEnsureDirectory, RefusesWhatCannotBeADirectory) {
    WriteFile(Temp.File("file"), "data");
    const std::string refused[] = {Temp.File("file/"), Temp.File("file/x/"), Temp.File("file/x/y/"),
                                   "", Temp.File("zero") + std::string(1, '\0') + "/x/"};
    for (const std::string& path : refused) {
        EXPECT_FALSE(EnsureDirectory(path, true)) << path;
        EXPECT_FALSE(EnsureDirectory(path, false)) << path;
    }
    EXPECT_EQ(ReadFile(Temp.File("file")), "data");
    EXPECT_FALSE(Exists(Temp.File("zero")));
}

class PlacementMakeUnique : public ::testing::Test {
  protected:
    void Touch(const std::string& name) {
        int fd = open(Temp.File(name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0) << name;
        close(fd);
    }
    std::string Dir() const { return Temp.Path() + "/"; }
    test::TTempDir Temp;
};

TEST_F(PlacementMakeUnique, NumbersBeforeTheLastDot) {
    const struct {
        std::vector<std::string> Existing;
        std::string Name;
        std::string Final;
    } cases[] = {
        {{}, "a.b.jpg", "a.b.jpg"},
        {{"a.b.jpg"}, "a.b.jpg", "a.b(1).jpg"},
        {{"a.b.jpg", "a.b(1).jpg"}, "a.b.jpg", "a.b(2).jpg"},
        {{"a.b.jpg", "a.b(2).jpg"}, "a.b.jpg", "a.b(1).jpg"},
        {{"readme"}, "readme", "readme(1)"},
        {{".hidden"}, ".hidden", "(1).hidden"},
    };
    for (const auto& c : cases) {
        test::TTempDir dir;
        for (const std::string& name : c.Existing) WriteFile(dir.File(name), "old");
        std::string name = c.Name;
        EXPECT_EQ(MakeUnique(dir.Path() + "/", &name, true), UNIQUE_NEW) << c.Name;
        EXPECT_EQ(name, c.Final);
    }
}

TEST_F(PlacementMakeUnique, RenameOffKeepsTheExistingName) {
    Touch("pic.jpg");
    std::string name = "pic.jpg";
    EXPECT_EQ(MakeUnique(Dir(), &name, false), UNIQUE_EXISTING_KEPT);
    EXPECT_EQ(name, "pic.jpg");
    name = "other.jpg";
    EXPECT_EQ(MakeUnique(Dir(), &name, false), UNIQUE_NEW);
    EXPECT_EQ(name, "other.jpg");
}

TEST_F(PlacementMakeUnique, DanglingLinkCountsAsExisting) {
    ASSERT_EQ(symlink(Temp.File("nowhere").c_str(), Temp.File("pic.jpg").c_str()), 0);
    std::string name = "pic.jpg";
    EXPECT_EQ(MakeUnique(Dir(), &name, true), UNIQUE_NEW);
    EXPECT_EQ(name, "pic(1).jpg");
    name = "pic.jpg";
    EXPECT_EQ(MakeUnique(Dir(), &name, false), UNIQUE_EXISTING_KEPT);
}

TEST_F(PlacementMakeUnique, GivesUpAfterTheLastTry) {
    Touch("x.bin");
    // Hard links: new inodes for ten thousand names take seconds on some disks.
    const std::string first = Temp.File("x.bin");
    for (int i = 1; i <= UNIQUE_TRIES_MAX; ++i)
        ASSERT_EQ(link(first.c_str(), Temp.File("x(" + std::to_string(i) + ").bin").c_str()), 0);
    std::string name = "x.bin";
    EXPECT_EQ(MakeUnique(Dir(), &name, true), UNIQUE_GAVE_UP);
    EXPECT_EQ(name, "x.bin");
    // The last number is still tried.
    const std::string last = "x(" + std::to_string(UNIQUE_TRIES_MAX) + ").bin";
    ASSERT_EQ(unlink(Temp.File(last).c_str()), 0);
    EXPECT_EQ(MakeUnique(Dir(), &name, true), UNIQUE_NEW);
    EXPECT_EQ(name, last);
}

// A directory of exactly length characters inside dir, ending with '/'.
std::string DirectoryOfLength(const std::string& dir, size_t length) {
    std::string path = dir + "/";
    while (path.size() + 2 <= length) path += "./";
    if (path.size() < length) path += "/";
    return path;
}

TEST(PlacementDisk, DeletesWithinTheLengthLimit) {
    test::TTempDir temp;
    WriteFile(temp.File("f.txt"), "x");
    EXPECT_TRUE(DeleteInDirectory(temp.Path() + "/", "f.txt"));
    EXPECT_FALSE(Exists(temp.File("f.txt")));
    EXPECT_FALSE(DeleteInDirectory(temp.Path() + "/", "f.txt"));

    const std::string name = "long.txt";
    WriteFile(temp.File(name), "x");
    const std::string over = DirectoryOfLength(temp.Path(), 1001 - name.size());
    ASSERT_EQ(over.size() + name.size(), 1001u);
    EXPECT_FALSE(DeleteInDirectory(over, name));
    EXPECT_TRUE(Exists(temp.File(name)));
    const std::string within = DirectoryOfLength(temp.Path(), 1000 - name.size());
    ASSERT_EQ(within.size() + name.size(), 1000u);
    EXPECT_TRUE(DeleteInDirectory(within, name));
    EXPECT_FALSE(Exists(temp.File(name)));
}

// Sets the environment for one test and puts the old one back.
class PlacementDownloadPath : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : VARIABLES) {
            const char* value = getenv(name);
            Saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
        }
        Home = Temp.File("home");
        ASSERT_TRUE(EnsureDirectory(Home + "/", true));
        setenv("HOME", Home.c_str(), 1);
        unsetenv("XDG_DOCUMENTS_DIR");
        unsetenv("XDG_CONFIG_HOME");
    }
    void TearDown() override {
        for (size_t i = 0; i < std::size(VARIABLES); ++i) {
            if (Saved[i])
                setenv(VARIABLES[i], Saved[i]->c_str(), 1);
            else
                unsetenv(VARIABLES[i]);
        }
    }

    static constexpr const char* VARIABLES[] = {"HOME", "XDG_DOCUMENTS_DIR", "XDG_CONFIG_HOME"};
    std::vector<std::optional<std::string>> Saved;
    test::TTempDir Temp;
    std::string Home;
};

TEST_F(PlacementDownloadPath, StoredPathIsProposedAsItIs) {
    setenv("XDG_DOCUMENTS_DIR", Temp.File("docs").c_str(), 1);
    EXPECT_EQ(ProposeDownloadPath("/data/news", "/prog"), "/data/news/");
    EXPECT_EQ(ProposeDownloadPath("/data/news/", "/prog"), "/data/news/");
    EXPECT_FALSE(Exists(Temp.File("docs")));
}

TEST_F(PlacementDownloadPath, ProposalUnderTheDocumentsFolder) {
    WriteFile(Temp.File("plain"), "not a directory");
    const struct {
        const char* Name;
        const char* DocumentsEnv;  // nullptr: unset
        const char* ConfigHome;    // nullptr: unset, so $HOME/.config
        const char* UserDirsAt;    // where user-dirs.dirs goes; nullptr: nowhere
        const char* UserDirs;
        const char* Proposal;  // "" for the home directory fallback
    } cases[] = {
        {"environment", "@/docs", nullptr, nullptr, "", "@/docs/zorvex/download/"},
        {"environment with slash", "@/docs/", nullptr, nullptr, "", "@/docs/zorvex/download/"},
        {"nothing at all", nullptr, "@/config", nullptr, "", ""},
        {"user-dirs with $HOME", nullptr, "@/config", "@/config",
         "# written by a tool\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
         "  XDG_DOCUMENTS_DIR=\"$HOME/My Papers\"\n",
         "@/home/My Papers/zorvex/download/"},
        {"user-dirs under HOME", nullptr, nullptr, "@/home/.config",
         "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n", "@/home/Docs/zorvex/download/"},
        {"last assignment wins", nullptr, "@/config", "@/config",
         "XDG_DOCUMENTS_DIR=\"@/first\"\nXDG_DOCUMENTS_DIR=\"@/second\"\n",
         "@/second/zorvex/download/"},
        {"relative environment ignored", "docs", "@/config", "@/config",
         "XDG_DOCUMENTS_DIR=\"$HOME/D\"\n", "@/home/D/zorvex/download/"},
        {"relative value ignored", nullptr, "@/config", "@/config",
         "XDG_DOCUMENTS_DIR=\"Documents\"\n", ""},
        {"$HOMER is not $HOME", nullptr, "@/config", "@/config", "XDG_DOCUMENTS_DIR=\"$HOMER/x\"\n",
         ""},
        {"cannot be created", "@/plain/docs", nullptr, nullptr, "", ""},
    };
    const std::string dir = Temp.Path();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.DocumentsEnv)
            setenv("XDG_DOCUMENTS_DIR", InTemp(c.DocumentsEnv, dir).c_str(), 1);
        else
            unsetenv("XDG_DOCUMENTS_DIR");
        if (c.ConfigHome)
            setenv("XDG_CONFIG_HOME", InTemp(c.ConfigHome, dir).c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        std::string userDirs;
        if (c.UserDirsAt) {
            ASSERT_TRUE(EnsureDirectory(InTemp(c.UserDirsAt, dir) + "/", true));
            userDirs = InTemp(c.UserDirsAt, dir) + "/user-dirs.dirs";
            WriteFile(userDirs, InTemp(c.UserDirs, dir));
        }
        const std::string expected =
            *c.Proposal ? InTemp(c.Proposal, dir) : std::string("/prog/home/download/");
        EXPECT_EQ(ProposeDownloadPath("", "/prog/home"), expected);
        EXPECT_EQ(IsDir(expected), *c.Proposal != '\0');
        if (!userDirs.empty()) unlink(userDirs.c_str());
    }
}

TEST_F(PlacementDownloadPath, AcceptTrimsAndCreates) {
    const struct {
        const char* Typed;
        const char* Accepted;
    } cases[] = {
        {"@/plainpath", "@/plainpath/"},
        {"  \"@/with blanks/dl\"  ", "@/with blanks/dl/"},
        {"\t\"@/tab/\"\t", "@/tab/"},
        {"\"\"@/doubled\"\"", "@/doubled/"},
    };
    for (const auto& c : cases) {
        std::string path = "old";
        const std::string typed = InTemp(c.Typed, Temp.Path());
        EXPECT_TRUE(AcceptDownloadPath(typed, &path)) << typed;
        EXPECT_EQ(path, InTemp(c.Accepted, Temp.Path()));
        EXPECT_TRUE(IsDir(path));
    }
}

TEST_F(PlacementDownloadPath, RefusedPathLeavesTheOldOne) {
    WriteFile(Temp.File("plain"), "data");
    // Longest accepted: DOWNLOAD_PATH_MAX characters with the added slash.
    const std::string base = Temp.Path() + "/";
    const std::string fits = base + std::string(DOWNLOAD_PATH_MAX - base.size() - 1, 'f');
    const std::string tooLong = base + std::string(DOWNLOAD_PATH_MAX - base.size(), 'l');
    const std::string refused[] = {
        "", "   ", "\"\"", " \" \" ", Temp.File("plain/dl"), Temp.File("plain"), tooLong};
    for (const std::string& typed : refused) {
        std::string path = "/old/path/";
        EXPECT_FALSE(AcceptDownloadPath(typed, &path)) << typed;
        EXPECT_EQ(path, "/old/path/");
    }
    EXPECT_FALSE(Exists(tooLong));

    std::string path = "/old/path/";
    EXPECT_TRUE(AcceptDownloadPath(fits, &path));
    EXPECT_EQ(path.size(), DOWNLOAD_PATH_MAX);
    EXPECT_EQ(path, fits + "/");
}

}  // namespace
}  // namespace zorvex
