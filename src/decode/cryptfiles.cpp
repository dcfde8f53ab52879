#include "decode/cryptfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "decode/crypt.h"
#include "library/ascii.h"
#include "library/fileio.h"

namespace zorvex {
namespace {

constexpr const char* ALREADY_ENCRYPTED_TEXT = "Already Encrypted";
constexpr const char* ENCRYPT_TEMP_OPEN_TEXT = "Failed to open $encrypt.tmp???";
constexpr const char* ENCRYPT_RENAME1_TEXT = "Rename #1 failed??";
constexpr const char* ENCRYPT_RENAME2_TEXT = "Rename #@ failed??";
constexpr const char* OPEN_FAILED_TEXT = "could not open file";
constexpr const char* INVALID_KEY_TEXT = "Invalid key specified";
constexpr const char* NOT_ENCRYPTED_TEXT = "Not encrypted";
constexpr const char* DECRYPT_TEMP_OPEN_TEXT = "Could not open for write";
constexpr const char* CHECKSUM_FAILURE_TEXT = "Checksum failure";
constexpr const char* DECRYPT_RENAME1_TEXT = "Rename #1 failed";
constexpr const char* DECRYPT_RENAME2_TEXT = "Rename #2 failed";

struct TPaths {
    std::string Target;  // the file to convert, a symbolic link resolved
    std::string Temp;
    std::string Temp2;
    bool Reserved;  // the file is itself one of the temporary names
};

// The temporary files go beside the file itself so that both renames stay
// on one file system. A link is converted at its target: replacing the link
// by an encrypted file would leave the plain data where the link pointed.
TPaths PathsFor(const std::string& path) {
    TPaths p;
    p.Target = path;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* resolved = realpath(path.c_str(), nullptr)) {
            p.Target = resolved;
            std::free(resolved);
        }
    }
    std::string dir = DirectoryOf(p.Target);
    p.Temp = dir + "/" + TFileCryptJob::TEMP_NAME;
    p.Temp2 = dir + "/" + TFileCryptJob::TEMP2_NAME;
    std::string base = BaseName(p.Target);
    p.Reserved = base == TFileCryptJob::TEMP_NAME || base == TFileCryptJob::TEMP2_NAME;
    return p;
}

// Regular files only: a FIFO or a device would block or never end.
int OpenSource(const std::string& path, mode_t* mode) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    *mode = st.st_mode & 07777;
    return fd;
}

// Fills the block unless the file ends first; -1 on a read error.
ssize_t ReadBlock(int fd, uint8_t* block, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, block + got, size - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

// A fresh file that is never a link planted under the temporary name.
int CreateTemp(const std::string& temp, mode_t mode) {
    unlink(temp.c_str());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (fchmod(fd, mode) != 0) {
        close(fd);
        unlink(temp.c_str());
        return -1;
    }
    return fd;
}

// Passes the block already read (from offset on) and the rest of in through
// convert into out. Returns nullptr, or the status of the failure.
template <typename TConvert>
const char* Pump(int in, int out, uint8_t* block, size_t offset, size_t count, TConvert convert) {
    for (;;) {
        if (count > offset) {
            convert(block + offset, count - offset);
            if (!WriteAll(out, block + offset, count - offset)) {
                return TFileCryptJob::WRITE_FAILED_TEXT;
            }
        }
        offset = 0;
        ssize_t n = ReadBlock(in, block, TFileCryptJob::BLOCK_SIZE);
        if (n < 0) return TFileCryptJob::READ_FAILED_TEXT;
        if (n == 0) return nullptr;
        count = static_cast<size_t>(n);
    }
}

// On disk before the original is moved away.
bool FinishTemp(TFd& out) {
    bool synced = fsync(out.Get()) == 0;
    return out.Close() && synced;
}

// The converted copy in Temp takes the file's place.
const char* Swap(const TPaths& p, const char* rename1Failed, const char* rename2Failed) {
    unlink(p.Temp2.c_str());
    if (!RenameFile(p.Target.c_str(), p.Temp2.c_str())) return rename1Failed;
    if (!RenameFile(p.Temp.c_str(), p.Target.c_str())) {
        // Put the original back rather than leave it under the temporary name.
        RenameFile(p.Temp2.c_str(), p.Target.c_str());
        return rename2Failed;
    }
    unlink(p.Temp2.c_str());
    return TFileCryptJob::SUCCESS_TEXT;
}

}  // namespace

TFileCryptJob::TFileCryptJob(TMode mode, std::string key, std::vector<std::string> files)
    : Mode(mode), Key(std::move(key)), Files(std::move(files)) {}

std::string TFileCryptJob::Step() {
    if (Done()) return "";
    const std::string& path = Files[Next++];
    std::string status = Mode == ENCRYPT ? EncryptFile(path) : DecryptFile(path);
    if (status.empty()) return "";
    return BaseName(path) + ": " + status;
}

std::string TFileCryptJob::CheckKeys(std::string& first, std::string& second) {
    for (std::string* key : {&first, &second}) {
        for (char& c : *key) c = ToLowerAscii(c);
    }
    // A key is a text: one that starts with NUL is as blank as an empty one.
    if (first.empty() || first[0] == '\0') return BLANK_KEY_TEXT;
    if (first != second) return KEY_MISMATCH_TEXT;
    return "";
}

std::string TFileCryptJob::EncryptFile(const std::string& path) {
    // An empty key would give a file no key could open again.
    if (Key.empty() || Key[0] == '\0') return BLANK_KEY_TEXT;
    TPaths paths = PathsFor(path);
    if (paths.Reserved) return RESERVED_NAME_TEXT;
    mode_t mode = 0;
    TFd in(OpenSource(paths.Target, &mode));
    if (in.Get() < 0) {
        std::printf("Open for read failed on %s\n", path.c_str());
        std::fflush(stdout);
        return "";
    }
    uint8_t block[BLOCK_SIZE];
    ssize_t count = ReadBlock(in.Get(), block, sizeof block);
    if (count < 0) return READ_FAILED_TEXT;
    CryptState probe;
    if (CryptReadHeader(probe, Key, block, static_cast<size_t>(count)) != CRYPT_NOT_ENCRYPTED) {
        unlink(paths.Temp.c_str());
        return ALREADY_ENCRYPTED_TEXT;
    }

    TFd out(CreateTemp(paths.Temp, mode));
    if (out.Get() < 0) return ENCRYPT_TEMP_OPEN_TEXT;
    CryptState state;
    CryptInit(state, Key, 1);
    const char* failure = CryptWriteHeader(state, out.Get()) ? nullptr : WRITE_FAILED_TEXT;
    if (!failure) {
        failure = Pump(in.Get(), out.Get(), block, 0, static_cast<size_t>(count),
                       [&](uint8_t* data, size_t len) { CryptEncrypt(state, data, len); });
    }
    if (!failure && (lseek(out.Get(), 0, SEEK_SET) != 0 || !CryptWriteHeader(state, out.Get()) ||
                     !FinishTemp(out))) {
        failure = WRITE_FAILED_TEXT;
    }
    if (failure) {
        out.Close();
        unlink(paths.Temp.c_str());
        return failure;
    }
    in.Close();
    return Swap(paths, ENCRYPT_RENAME1_TEXT, ENCRYPT_RENAME2_TEXT);
}

std::string TFileCryptJob::DecryptFile(const std::string& path) {
    TPaths paths = PathsFor(path);
    if (paths.Reserved) return RESERVED_NAME_TEXT;
    mode_t mode = 0;
    TFd in(OpenSource(paths.Target, &mode));
    if (in.Get() < 0) return OPEN_FAILED_TEXT;
    uint8_t block[BLOCK_SIZE];
    ssize_t count = ReadBlock(in.Get(), block, sizeof block);
    if (count < 0) return READ_FAILED_TEXT;
    CryptState state;
    int header = CryptReadHeader(state, Key, block, static_cast<size_t>(count));
    if (header == CRYPT_BAD_KEY) return INVALID_KEY_TEXT;
    if (header < 0) return NOT_ENCRYPTED_TEXT;

    TFd out(CreateTemp(paths.Temp, mode));
    if (out.Get() < 0) return DECRYPT_TEMP_OPEN_TEXT;
    const char* failure =
        Pump(in.Get(), out.Get(), block, static_cast<size_t>(header), static_cast<size_t>(count),
             [&](uint8_t* data, size_t len) { CryptDecrypt(state, data, len); });
    if (!failure && !FinishTemp(out)) failure = WRITE_FAILED_TEXT;
    if (failure) {
        out.Close();
        unlink(paths.Temp.c_str());
        return failure;
    }
    in.Close();
    // The deciphered copy stays in the temporary file for a look at what went wrong.
    if (!CryptChecksumOk(state)) return CHECKSUM_FAILURE_TEXT;
    return Swap(paths, DECRYPT_RENAME1_TEXT, DECRYPT_RENAME2_TEXT);
}

}  // namespace zorvex
