#include "library/fileio.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/tempdir.h"

namespace zorvex {
namespace {

std::string Read(const std::string& path) {
    std::string s;
    EXPECT_TRUE(ReadWholeFile(path, &s)) << path;
    return s;
}

// Temporary files left in the directory, other than the settings file.
int StrayFiles(const test::TTempDir& dir) {
    int n = 0;
    DIR* d = opendir(dir.Path().c_str());
    while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != ".." &&
            std::string(e->d_name) != "settings.ini")
            ++n;
    closedir(d);
    return n;
}

class AtomicReplace : public ::testing::Test {
  protected:
    void SetUp() override {
        path = dir.File("settings.ini");
        std::string error;
        ASSERT_TRUE(ReplaceFileAtomically(path, "old contents\n", &error)) << error;
    }
    void TearDown() override { ClearFileFaults(); }
    test::TTempDir dir;
    std::string path;
};

TEST_F(AtomicReplace, FailuresLeaveTheOldFileWhole) {
    const TFileFault faults[] = {TFileFault::DISK_FULL, TFileFault::SHORT_WRITE,
                                 TFileFault::RENAME_FAILS};
    for (TFileFault fault : faults) {
        InjectFileFault(fault);
        std::string error;
        EXPECT_FALSE(ReplaceFileAtomically(path, std::string(100000, 'n'), &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(Read(path), "old contents\n");
        EXPECT_EQ(StrayFiles(dir), 0) << "temporary file left behind";
    }
    std::string error;
    ASSERT_TRUE(ReplaceFileAtomically(path, "new\n", &error)) << error;
    EXPECT_EQ(Read(path), "new\n");
}

TEST_F(AtomicReplace, CrashBeforeRenameLeavesTheOldFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            InjectFileFault(TFileFault::EXIT_BEFORE_RENAME);
            ReplaceFileAtomically(path, "half-made\n", nullptr);
        },
        ::testing::ExitedWithCode(3), "");
    EXPECT_EQ(Read(path), "old contents\n");
    // What such a crash leaves (the death test ran in a directory of its own).
    ASSERT_TRUE(ReplaceFileAtomically(dir.File(".settings.ini.x1Y2z3"), "half-made\n", nullptr));
    // Files that only look alike stay: another file's temporary, a name
    // with a longer tail, a directory.
    const std::string keep[] = {".other.ini.AbC123", ".settings.ini.AbC1234", "settings.ini.bak"};
    for (const auto& name : keep) ASSERT_TRUE(ReplaceFileAtomically(dir.File(name), "x", nullptr));
    ASSERT_EQ(mkdir(dir.File(".settings.ini.Dir999").c_str(), 0700), 0);
    // The next save works beside the stale temporary file and takes it away.
    std::string error;
    ASSERT_TRUE(ReplaceFileAtomically(path, "after\n", &error)) << error;
    EXPECT_EQ(Read(path), "after\n");
    EXPECT_EQ(StrayFiles(dir), 4) << "only the stale temporary file goes";
    for (const auto& name : keep) EXPECT_EQ(access(dir.File(name).c_str(), F_OK), 0) << name;
}

TEST_F(AtomicReplace, KeepsPermissionsAndSymbolicLinks) {
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    std::string link = dir.File("link.ini");
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    std::string error;
    ASSERT_TRUE(ReplaceFileAtomically(link, "through link\n", &error)) << error;
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Read(path), "through link\n");
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(AtomicReplaceErrors, MissingDirectoryIsReported) {
    std::string error;
    EXPECT_FALSE(ReplaceFileAtomically("/nonexistent-dir-zorvex/x.ini", "x", &error));
    EXPECT_NE(error.find("temporary"), std::string::npos) << error;
}

}  // namespace
}  // namespace zorvex
