#include "decode/cryptfiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "decode/crypt.h"
#include "library/fileio.h"
#include "support/encoders.h"

namespace zorvex {
namespace {

namespace fs = std::filesystem;
using test::Noise;

uint32_t Le32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + i]);
    return v;
}

uint32_t ByteSum(const std::string& s) {
    uint32_t sum = 0;
    for (unsigned char c : s) sum += c;
    return sum;
}

class FileCryptJobTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zorvex_cryptfiles_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        Dir = pattern;
    }
    void TearDown() override {
        ClearFileFaults();
        fs::remove_all(Dir);
    }

    std::string Path(const std::string& name) const { return Dir + "/" + name; }

    void Write(const std::string& name, const std::string& contents) {
        std::string error;
        ASSERT_TRUE(ReplaceFileAtomically(Path(name), contents, &error)) << error;
    }
    std::string Read(const std::string& name) const {
        std::string contents;
        EXPECT_TRUE(ReadWholeFile(Path(name), &contents)) << name;
        return contents;
    }
    bool Exists(const std::string& name) const {
        struct stat st {};
        return lstat(Path(name).c_str(), &st) == 0;
    }

    // Runs a job over the named files and returns the status lines.
    std::vector<std::string> Run(TFileCryptJob::TMode mode, const std::string& key,
                                 const std::vector<std::string>& names) {
        std::vector<std::string> paths;
        for (const std::string& n : names) paths.push_back(Path(n));
        TFileCryptJob job(mode, key, paths);
        std::vector<std::string> lines;
        while (!job.Done()) lines.push_back(job.Step());
        return lines;
    }
    std::string RunOne(TFileCryptJob::TMode mode, const std::string& key, const std::string& name) {
        return Run(mode, key, {name})[0];
    }

    std::string Dir;
};

constexpr auto ENCRYPT = TFileCryptJob::ENCRYPT;
constexpr auto DECRYPT = TFileCryptJob::DECRYPT;

TEST_F(FileCryptJobTest, RoundTripsFilesOfAwkwardSizes) {
    for (size_t size : {0, 1, 39, 40, 1023, 1024, 1025, 2048, 4113}) {
        SCOPED_TRACE(size);
        const std::string plain = Noise(size, static_cast<uint32_t>(size) + 1);
        Write("data.bin", plain);
        ASSERT_EQ(chmod(Path("data.bin").c_str(), 0640), 0);

        EXPECT_EQ(RunOne(ENCRYPT, "secret", "data.bin"), "data.bin: Success!");
        const std::string enc = Read("data.bin");
        ASSERT_EQ(enc.size(), size + 40);
        EXPECT_EQ(enc.substr(0, 8), std::string("KVENC\n\0\0", 8));
        EXPECT_EQ(Le32(enc, 8), ByteSum("secret") % 256);
        EXPECT_EQ(Le32(enc, 12), ByteSum(plain));
        EXPECT_EQ(enc.substr(16, 24), std::string(24, '\0'));
        if (size > 4) {
            EXPECT_NE(enc.substr(40), plain);
        }

        EXPECT_EQ(RunOne(DECRYPT, "secret", "data.bin"), "data.bin: Success!");
        EXPECT_EQ(Read("data.bin"), plain);
        struct stat st {};
        ASSERT_EQ(stat(Path("data.bin").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_FALSE(Exists("$encrypt.tmp"));
        EXPECT_FALSE(Exists("$encrypt.tm2"));
    }
}

TEST_F(FileCryptJobTest, EmptyFileGetsABareHeader) {
    Write("empty", "");
    EXPECT_EQ(RunOne(ENCRYPT, "k", "empty"), "empty: Success!");
    const std::string enc = Read("empty");
    ASSERT_EQ(enc.size(), 40u);
    EXPECT_EQ(Le32(enc, 12), 0u);
    EXPECT_EQ(RunOne(DECRYPT, "k", "empty"), "empty: Success!");
    EXPECT_EQ(Read("empty"), "");
}

TEST_F(FileCryptJobTest, StepsOneFileAtATime) {
    Write("a.txt", "alpha");
    Write("b.txt", "bravo");
    TFileCryptJob job(ENCRYPT, "key", {Path("a.txt"), Path("missing"), Path("b.txt")});
    EXPECT_EQ(job.Count(), 3u);
    EXPECT_FALSE(job.Done());
    EXPECT_EQ(job.Step(), "a.txt: Success!");
    EXPECT_EQ(Read("b.txt"), "bravo");  // not reached yet
    // An unreadable file gives no status line, only a line on standard output.
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(job.Step(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Open for read failed on " + Path("missing") + "\n");
    EXPECT_EQ(job.Position(), 2u);
    EXPECT_EQ(job.Step(), "b.txt: Success!");
    EXPECT_TRUE(job.Done());
    EXPECT_EQ(job.Step(), "");
    EXPECT_EQ(TFileCryptJob::FinishedText(), "Finished. You can press <Ok> now.");

    EXPECT_EQ(Run(DECRYPT, "key", {"missing", "a.txt", "b.txt"}),
              (std::vector<std::string>{"missing: could not open file", "a.txt: Success!",
                                        "b.txt: Success!"}));
    EXPECT_EQ(Read("a.txt"), "alpha");
}

TEST_F(FileCryptJobTest, OnlyRegularFilesAreOpened) {
    ASSERT_EQ(mkdir(Path("folder").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
    for (const char* name : {"folder", "pipe"}) {
        SCOPED_TRACE(name);
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(RunOne(ENCRYPT, "key", name), "");
        EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                  "Open for read failed on " + Path(name) + "\n");
        EXPECT_EQ(RunOne(DECRYPT, "key", name), std::string(name) + ": could not open file");
    }
}

TEST_F(FileCryptJobTest, ChecksKeys) {
    struct TCase {
        std::string First;
        std::string Second;
        const char* Message;
        const char* Lowered;
    } cases[] = {
        {"Secret", "sEcReT", "", "secret"},
        {"key", "key", "", "key"},
        {"", "", TFileCryptJob::BLANK_KEY_TEXT, ""},
        {"", "x", TFileCryptJob::BLANK_KEY_TEXT, ""},
        {std::string("\0a", 2), std::string("\0a", 2), TFileCryptJob::BLANK_KEY_TEXT, nullptr},
        {"abc", "abd", TFileCryptJob::KEY_MISMATCH_TEXT, "abc"},
        {"abc", "", TFileCryptJob::KEY_MISMATCH_TEXT, "abc"},
        {"abc", "abc ", TFileCryptJob::KEY_MISMATCH_TEXT, "abc"},
    };
    for (TCase& c : cases) {
        SCOPED_TRACE(c.First + "/" + c.Second);
        EXPECT_EQ(TFileCryptJob::CheckKeys(c.First, c.Second), c.Message);
        if (c.Lowered) {
            EXPECT_EQ(c.First, c.Lowered);
        }
    }
    EXPECT_STREQ(TFileCryptJob::BLANK_KEY_TEXT, "You must enter a non-blank key!");
    EXPECT_STREQ(TFileCryptJob::KEY_MISMATCH_TEXT, "The two keys you entered to not match!");
    EXPECT_STREQ(TFileCryptJob::ERROR_CAPTION, "Error");
}

TEST_F(FileCryptJobTest, EncryptRefusesAnEmptyKey) {
    Write("f", "plain");
    EXPECT_EQ(RunOne(ENCRYPT, "", "f"), "f: You must enter a non-blank key!");
    EXPECT_EQ(Read("f"), "plain");
}

TEST_F(FileCryptJobTest, WrongKeyWithTheSameByteSumFailsTheChecksum) {
    const std::string plain = Noise(3000, 9);
    Write("f", plain);
    ASSERT_EQ(RunOne(ENCRYPT, "ab", "f"), "f: Success!");
    const std::string enc = Read("f");
    // "ba" passes the key check but deciphers to other bytes.
    EXPECT_EQ(RunOne(DECRYPT, "ba", "f"), "f: Checksum failure");
    EXPECT_EQ(Read("f"), enc);
    // The deciphered copy stays behind in the temporary file.
    EXPECT_EQ(Read("$encrypt.tmp").size(), plain.size());
    EXPECT_NE(Read("$encrypt.tmp"), plain);
    EXPECT_EQ(RunOne(DECRYPT, "ab", "f"), "f: Success!");
    EXPECT_EQ(Read("f"), plain);
}

TEST_F(FileCryptJobTest, RefusalsLeaveTheFileAlone) {
    Write("plain.txt", "nothing to see here, just text that is long enough");
    Write("short", std::string("KVENC\n\0\0short", 13));
    Write("enc", "to be encrypted");
    ASSERT_EQ(RunOne(ENCRYPT, "right", "enc"), "enc: Success!");
    const std::string enc = Read("enc");
    struct TCase {
        const char* Name;
        const char* Key;
        const char* Status;
    } cases[] = {
        {"enc", "wrong", "enc: Invalid key specified"},
        {"enc", "", "enc: Invalid key specified"},
        {"plain.txt", "right", "plain.txt: Not encrypted"},
        {"short", "right", "short: Not encrypted"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Status);
        const std::string before = Read(c.Name);
        EXPECT_EQ(RunOne(DECRYPT, c.Key, c.Name), c.Status);
        EXPECT_EQ(Read(c.Name), before);
        EXPECT_FALSE(Exists("$encrypt.tmp"));
    }
}

TEST_F(FileCryptJobTest, AlreadyEncryptedWhateverTheKey) {
    Write("f", "some data");
    ASSERT_EQ(RunOne(ENCRYPT, "first", "f"), "f: Success!");
    const std::string enc = Read("f");
    for (const char* key : {"first", "completely different", "tsrif"}) {
        SCOPED_TRACE(key);
        Write("$encrypt.tmp", "stale");
        EXPECT_EQ(RunOne(ENCRYPT, key, "f"), "f: Already Encrypted");
        EXPECT_EQ(Read("f"), enc);
        EXPECT_FALSE(Exists("$encrypt.tmp"));
    }
}

TEST_F(FileCryptJobTest, TemporaryFileIsCreatedAfresh) {
    // A link planted under the temporary name is removed, not written through.
    Write("victim", "keep me");
    ASSERT_EQ(symlink(Path("victim").c_str(), Path("$encrypt.tmp").c_str()), 0);
    Write("f", "data");
    EXPECT_EQ(RunOne(ENCRYPT, "k", "f"), "f: Success!");
    EXPECT_EQ(Read("victim"), "keep me");
    EXPECT_EQ(Read("f").size(), 44u);

    // One that cannot be replaced is an open failure.
    ASSERT_EQ(mkdir(Path("$encrypt.tmp").c_str(), 0700), 0);
    Write("g", "data");
    EXPECT_EQ(RunOne(ENCRYPT, "k", "g"), "g: Failed to open $encrypt.tmp???");
    EXPECT_EQ(Read("g"), "data");
    EXPECT_EQ(RunOne(DECRYPT, "k", "f"), "f: Could not open for write");
    EXPECT_EQ(Read("f").size(), 44u);
}

TEST_F(FileCryptJobTest, TemporaryNamesAreNotConverted) {
    for (const char* name : {"$encrypt.tmp", "$encrypt.tm2"}) {
        SCOPED_TRACE(name);
        Write(name, "user data");
        EXPECT_EQ(RunOne(ENCRYPT, "k", name),
                  std::string(name) + ": " + TFileCryptJob::RESERVED_NAME_TEXT);
        EXPECT_EQ(RunOne(DECRYPT, "k", name),
                  std::string(name) + ": " + TFileCryptJob::RESERVED_NAME_TEXT);
        EXPECT_EQ(Read(name), "user data");
    }
}

TEST_F(FileCryptJobTest, ALinkIsConvertedAtItsTarget) {
    ASSERT_EQ(mkdir(Path("real").c_str(), 0700), 0);
    Write("real/target", "through a link");
    ASSERT_EQ(symlink(Path("real/target").c_str(), Path("link").c_str()), 0);
    EXPECT_EQ(RunOne(ENCRYPT, "k", "link"), "link: Success!");
    EXPECT_EQ(fs::symlink_status(Path("link")).type(), fs::file_type::symlink);
    EXPECT_EQ(Read("real/target").size(), 40u + 14);
    EXPECT_EQ(RunOne(DECRYPT, "k", "link"), "link: Success!");
    EXPECT_EQ(Read("real/target"), "through a link");
    EXPECT_FALSE(Exists("$encrypt.tmp"));
    EXPECT_FALSE(Exists("real/$encrypt.tmp"));
}

void PutLe32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

// A kind-2 file as another program writes it; only we read them.
std::string Kind2File(const std::string& userKey, const std::string& innerKey,
                      const std::string& plain) {
    std::string out("KVEN1\n\0\0", 8);
    PutLe32(out, ByteSum(userKey) % 256);
    PutLe32(out, ByteSum(plain));
    std::string inner = innerKey + '\0';
    CryptState outer;
    CryptInit(outer, userKey, 1);
    CryptEncrypt(outer, reinterpret_cast<uint8_t*>(inner.data()), inner.size());
    PutLe32(out, static_cast<uint32_t>(inner.size()));
    out += inner;
    const std::string note = "a note the reader skips";
    PutLe32(out, static_cast<uint32_t>(note.size()));
    out += note;
    PutLe32(out, 5);
    out += "extra";
    std::string data = plain;
    CryptState s;
    CryptInit(s, innerKey, 1);
    CryptEncrypt(s, reinterpret_cast<uint8_t*>(data.data()), data.size());
    return out + data;
}

TEST_F(FileCryptJobTest, DecryptsKindTwoFiles) {
    const std::string plain = Noise(2500, 4);
    Write("k2", Kind2File("user", "the inner key", plain));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunOne(ENCRYPT, "user", "k2"), "k2: Already Encrypted");
    EXPECT_EQ(RunOne(DECRYPT, "user", "k2"), "k2: Success!");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "14 5 23\n14 5 23\n");
    EXPECT_EQ(Read("k2"), plain);

    // A wrong key of the same byte sum deciphers another inner key.
    const std::string k2 = Kind2File("user", "the inner key", plain);
    Write("k2", k2);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunOne(DECRYPT, "resu", "k2"), "k2: Checksum failure");
    EXPECT_EQ(Read("k2"), k2);
    EXPECT_EQ(RunOne(DECRYPT, "usex", "k2"), "k2: Invalid key specified");
    EXPECT_EQ(Read("k2"), k2);
    EXPECT_EQ(RunOne(DECRYPT, "user", "k2"), "k2: Success!");
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(Read("k2"), plain);
}

struct TFaultCase {
    const char* Name;
    TFileCryptJob::TMode Mode;
    TFileFault Fault;
    int Skip;
    const char* Status;
    bool ConvertedCopyLeft;  // in $encrypt.tmp
};

// 3000 bytes: the encrypt writes are header, three blocks, header again;
// the decrypt writes are the three blocks.
const TFaultCase FAULT_CASES[] = {
    {"encrypt first header", ENCRYPT, TFileFault::DISK_FULL, 0, "f: Write failed", false},
    {"encrypt second block", ENCRYPT, TFileFault::SHORT_WRITE, 2, "f: Write failed", false},
    {"encrypt final header", ENCRYPT, TFileFault::DISK_FULL, 4, "f: Write failed", false},
    {"encrypt rename 1", ENCRYPT, TFileFault::RENAME_FAILS, 0, "f: Rename #1 failed??", true},
    {"encrypt rename 2", ENCRYPT, TFileFault::RENAME_FAILS, 1, "f: Rename #@ failed??", true},
    {"decrypt first block", DECRYPT, TFileFault::DISK_FULL, 0, "f: Write failed", false},
    {"decrypt last block", DECRYPT, TFileFault::SHORT_WRITE, 2, "f: Write failed", false},
    {"decrypt rename 1", DECRYPT, TFileFault::RENAME_FAILS, 0, "f: Rename #1 failed", true},
    {"decrypt rename 2", DECRYPT, TFileFault::RENAME_FAILS, 1, "f: Rename #2 failed", true},
};

TEST_F(FileCryptJobTest, FailuresLeaveTheOriginalInPlace) {
    const std::string plain = Noise(3000, 21);
    for (const TFaultCase& c : FAULT_CASES) {
        SCOPED_TRACE(c.Name);
        Write("f", plain);
        if (c.Mode == DECRYPT) {
            ASSERT_EQ(RunOne(ENCRYPT, "key", "f"), "f: Success!");
        }
        const std::string before = Read("f");
        InjectFileFault(c.Fault, c.Skip);
        EXPECT_EQ(RunOne(c.Mode, "key", "f"), c.Status);
        ClearFileFaults();
        EXPECT_EQ(Read("f"), before);
        EXPECT_FALSE(Exists("$encrypt.tm2"));
        EXPECT_EQ(Exists("$encrypt.tmp"), c.ConvertedCopyLeft);
        const std::string copy = c.ConvertedCopyLeft ? Read("$encrypt.tmp") : "";
        // The file converts normally once the fault is gone, to what the
        // failed run had left in the temporary file.
        EXPECT_EQ(RunOne(c.Mode, "key", "f"), "f: Success!");
        if (c.ConvertedCopyLeft) {
            EXPECT_EQ(copy, Read("f"));
        }
        if (c.Mode == DECRYPT) {
            EXPECT_EQ(Read("f"), plain);
        }
        fs::remove(Path("$encrypt.tmp"));
    }
}

}  // namespace
}  // namespace zorvex
