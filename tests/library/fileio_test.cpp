#include "library/fileio.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "support/encoders.h"
#include "support/filemode.h"
#include "support/files.h"
#include "support/tempdir.h"

namespace zorvex {
namespace {

using test::Exists;
using test::ReadFile;
using test::WriteFile;

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
        EXPECT_EQ(ReadFile(path), "old contents\n");
        EXPECT_EQ(StrayFiles(dir), 0) << "temporary file left behind";
    }
    std::string error;
    ASSERT_TRUE(ReplaceFileAtomically(path, "new\n", &error)) << error;
    EXPECT_EQ(ReadFile(path), "new\n");
}

TEST_F(AtomicReplace, CrashBeforeRenameLeavesTheOldFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            InjectFileFault(TFileFault::EXIT_BEFORE_RENAME);
            ReplaceFileAtomically(path, "half-made\n", nullptr);
        },
        ::testing::ExitedWithCode(3), "");
    EXPECT_EQ(ReadFile(path), "old contents\n");
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
    EXPECT_EQ(ReadFile(path), "after\n");
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
    EXPECT_EQ(ReadFile(path), "through link\n");
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// A file made anew is private unless it is asked to follow the umask; a
// file that was there keeps its own bits either way.
TEST(AtomicReplaceAccess, NewFilesArePrivateOrFollowTheUmaskAsAsked) {
    const struct {
        const char* Name;
        TNewFileAccess Access;
        mode_t Umask;
        int Existing;  // the bits of the file already there; -1 for none
        int Mode;
    } cases[] = {
        {"private under 022", TNewFileAccess::OWNER_ONLY, 022, -1, 0600},
        {"private under 0", TNewFileAccess::OWNER_ONLY, 0, -1, 0600},
        {"umask 022", TNewFileAccess::UMASK, 022, -1, 0644},
        {"umask 002", TNewFileAccess::UMASK, 002, -1, 0664},
        {"umask 077", TNewFileAccess::UMASK, 077, -1, 0600},
        {"an old file's bits under umask access", TNewFileAccess::UMASK, 022, 0600, 0600},
        {"an old file's bits under private access", TNewFileAccess::OWNER_ONLY, 077, 0644, 0644},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TTempDir dir;
        const std::string path = dir.File("page.jpg");
        if (c.Existing >= 0) {
            ASSERT_TRUE(ReplaceFileAtomically(path, "old", nullptr));
            ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(c.Existing)), 0);
        }
        {
            test::TScopedUmask mask(c.Umask);
            std::string error;
            ASSERT_TRUE(ReplaceFileAtomically(path, "new", &error, c.Access)) << error;
        }
        EXPECT_EQ(test::ModeOf(path), c.Mode);
        EXPECT_EQ(ReadFile(path), "new");
        EXPECT_EQ(StrayFiles(dir), 1) << "only the file itself is left";
    }
}

TEST(AtomicReplaceErrors, MissingDirectoryIsReported) {
    std::string error;
    EXPECT_FALSE(ReplaceFileAtomically("/nonexistent-dir-zorvex/x.ini", "x", &error));
    EXPECT_NE(error.find("temporary"), std::string::npos) << error;
}

TEST(FileIo, AddTrailingSlash) {
    const struct {
        const char* In;
        const char* Out;
    } cases[] = {{"", ""}, {"a", "a/"}, {"a/", "a/"}, {"/", "/"}, {"/x/y", "/x/y/"}};
    for (const auto& c : cases) EXPECT_EQ(AddTrailingSlash(c.In), c.Out) << c.In;
}

TEST(FileIo, FreeBytesOfTheFileSystem) {
    test::TTempDir temp;
    struct statvfs fs {};
    ASSERT_EQ(statvfs(temp.Path().c_str(), &fs), 0);
    const double expected = static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize);
    // Others write to the same disk meanwhile.
    EXPECT_NEAR(FreeBytes(temp.Path()), expected, 256.0 * 1024 * 1024);
    EXPECT_EQ(FreeBytes(temp.File("missing/dir")), -1);
}

class FileIoMoveOrCopy : public ::testing::Test {
  protected:
    void SetUp() override {
        // Not a whole number of copy blocks, so the last block is short.
        Contents = test::Noise(3 * 4096 + 123, 7);
        Source = Temp.File("source.bin");
        Target = Temp.File("target.bin");
        WriteFile(Source, Contents);
        ASSERT_EQ(chmod(Source.c_str(), 0640), 0);
    }
    void TearDown() override {
        ClearFileFaults();
        if (!OtherDir.empty()) {
            unlink((OtherDir + "/target.bin").c_str());
            rmdir(OtherDir.c_str());
        }
    }

    // A writable directory on another file system than the temporary one,
    // so that rename(2) fails with EXDEV; empty when there is none.
    static std::string OtherFileSystem(const std::string& than) {
        struct stat here {};
        if (stat(than.c_str(), &here) != 0) return {};
        for (const char* candidate : {"/dev/shm", "/run/shm", "/var/tmp"}) {
            struct stat there {};
            if (stat(candidate, &there) == 0 && S_ISDIR(there.st_mode) &&
                there.st_dev != here.st_dev && access(candidate, W_OK) == 0)
                return candidate;
        }
        return {};
    }

    test::TTempDir Temp;
    std::string Contents, Source, Target;
    std::string OtherDir;  // made on the other file system, removed at the end
};

TEST_F(FileIoMoveOrCopy, RenamesWhenItCan) {
    ASSERT_TRUE(MoveOrCopyFile(Target, Source));
    EXPECT_FALSE(Exists(Source));
    EXPECT_EQ(ReadFile(Target), Contents);
}

TEST_F(FileIoMoveOrCopy, CopiesWhenRenameFails) {
    WriteFile(Target, "an older file of that name");
    InjectFileFault(TFileFault::RENAME_FAILS);
    ASSERT_TRUE(MoveOrCopyFile(Target, Source));
    EXPECT_FALSE(Exists(Source));
    EXPECT_EQ(ReadFile(Target), Contents);
    struct stat st {};
    ASSERT_EQ(stat(Target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(FileIoMoveOrCopy, CopyNeverDestroysTheSource) {
    // The target is the source itself, a hard link to it, or a link planted
    // to write elsewhere: the copy must refuse before truncating anything.
    const std::string victim = Temp.File("victim");
    WriteFile(victim, "keep me");
    ASSERT_EQ(link(Source.c_str(), Temp.File("hardlink").c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), Temp.File("symlink").c_str()), 0);
    for (const std::string& target : {Source, Temp.File("hardlink"), Temp.File("symlink")}) {
        InjectFileFault(TFileFault::RENAME_FAILS);
        EXPECT_FALSE(MoveOrCopyFile(target, Source)) << target;
        EXPECT_EQ(ReadFile(Source), Contents) << target;
    }
    EXPECT_EQ(ReadFile(victim), "keep me");
}

TEST_F(FileIoMoveOrCopy, FailedCopyKeepsTheSourceAndLeavesNoTarget) {
    const std::string other = OtherFileSystem(Temp.Path());
    if (other.empty()) GTEST_SKIP() << "no second writable file system to force a copy";
    std::string pattern = other + "/zorvex-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    OtherDir = pattern;
    const struct {
        TFileFault Fault;
        int Skip;  // writes that succeed first
    } faults[] = {{TFileFault::DISK_FULL, 0},
                  {TFileFault::DISK_FULL, 1},
                  {TFileFault::SHORT_WRITE, 0},
                  {TFileFault::SHORT_WRITE, 2}};
    const std::string target = OtherDir + "/target.bin";
    for (const auto& f : faults) {
        SCOPED_TRACE(static_cast<int>(f.Fault) * 10 + f.Skip);
        InjectFileFault(f.Fault, f.Skip);
        EXPECT_FALSE(MoveOrCopyFile(target, Source));
        EXPECT_EQ(ReadFile(Source), Contents);
        EXPECT_FALSE(Exists(target));
        ClearFileFaults();
    }
    // Without a fault the same move crosses the file systems by copying.
    EXPECT_TRUE(MoveOrCopyFile(target, Source));
    EXPECT_FALSE(Exists(Source));
    EXPECT_EQ(ReadFile(target), Contents);
}

TEST(FileIo, IsJpegName) {
    const struct {
        const char* Name;
        bool Jpeg;
    } cases[] = {{"a.jpg", true},   {"a.JPG", true},     {"b.Jpeg", true},     {"c.jpe", true},
                 {".jpg", true},    {"x.gif.jpg", true}, {"a.jpg.txt", false}, {"jpg", false},
                 {"a.jpgx", false}, {"a.jp", false},     {"dir.jpg/x", false}, {"", false}};
    for (const auto& c : cases) EXPECT_EQ(IsJpegName(c.Name), c.Jpeg) << c.Name;
}

}  // namespace
}  // namespace zorvex
