#include "library/fileio.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>

#include "library/ascii.h"

namespace zorvex {

namespace {

std::atomic<int> PendingFault{static_cast<int>(TFileFault::NONE)};
std::atomic<int> FaultSkip{0};

bool IsWriteFault(TFileFault f) {
    return f == TFileFault::DISK_FULL || f == TFileFault::SHORT_WRITE;
}

// Returns the fault that hits this operation, if any.
TFileFault TakeFault(bool isWrite) {
    auto f = static_cast<TFileFault>(PendingFault.load());
    if (f == TFileFault::NONE || IsWriteFault(f) != isWrite) return TFileFault::NONE;
    if (FaultSkip.fetch_sub(1) > 0) return TFileFault::NONE;
    PendingFault.store(static_cast<int>(TFileFault::NONE));
    return f;
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void InjectFileFault(TFileFault fault, int skip) {
    FaultSkip.store(skip);
    PendingFault.store(static_cast<int>(fault));
}

void ClearFileFaults() {
    PendingFault.store(static_cast<int>(TFileFault::NONE));
}

bool WriteAll(int fd, const void* data, size_t length) {
    const char* p = static_cast<const char*>(data);
    switch (TakeFault(true)) {
        case TFileFault::DISK_FULL:
            errno = ENOSPC;
            return false;
        case TFileFault::SHORT_WRITE:
            if (length > 1) (void)!write(fd, p, length / 2);
            errno = ENOSPC;
            return false;
        default:
            break;
    }
    while (length > 0) {
        ssize_t n = write(fd, p, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool RenameFile(const char* from, const char* to) {
    switch (TakeFault(false)) {
        case TFileFault::RENAME_FAILS:
            errno = EIO;
            return false;
        case TFileFault::EXIT_BEFORE_RENAME:
            _exit(3);
        default:
            break;
    }
    return rename(from, to) == 0;
}

namespace {

// What CreateTemporary makes of ".name.XXXXXX".
bool IsTemporaryOf(const std::string& entry, const std::string& base) {
    const size_t prefix = base.size() + 2;
    if (entry.size() != prefix + 6 || entry[0] != '.' || entry.compare(1, base.size(), base) != 0 ||
        entry[prefix - 1] != '.')
        return false;
    for (size_t i = prefix; i < entry.size(); ++i) {
        const char c = entry[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

// A save cut off before its rename (a crash, kill -9) leaves its temporary
// file; the next save of the same file takes it away.
void RemoveStaleTemporaries(const std::string& target) {
    const std::string directory = DirectoryOf(target), base = BaseName(target);
    DIR* d = opendir(directory.c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        const std::string entry = e->d_name;
        if (!IsTemporaryOf(entry, base)) continue;
        const std::string stale = directory + "/" + entry;
        struct stat st {};
        if (lstat(stale.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(stale.c_str());
    }
    closedir(d);
}

// mkstemp's ".name.XXXXXX", but created with the given mode so that the
// umask (and a default ACL) applies to it as to any new file.
int CreateTemporary(std::string* temp, mode_t mode) {
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device source;
    std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
    const size_t tail = temp->size() - 6;
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (size_t i = tail; i < temp->size(); ++i) (*temp)[i] = kLetters[pick(source)];
        int fd = open(temp->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

bool ReplaceFileAtomically(const std::string& path, std::string_view contents, std::string* error,
                           TNewFileAccess access) {
    std::string target = path;
    struct stat st {};
    bool existed = false;
    mode_t mode = 0600;
    if (lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            char resolved[PATH_MAX];
            if (realpath(path.c_str(), resolved) != nullptr) target = resolved;
            existed = stat(target.c_str(), &st) == 0;
        } else {
            existed = true;
        }
        if (existed) mode = st.st_mode & 07777;
    }
    // A new file open to others takes the umask's bits; every other gets
    // its bits set below, whatever the umask says.
    const bool keepCreated = !existed && access == TNewFileAccess::UMASK;
    std::string temp = DirectoryOf(target) + "/." + BaseName(target) + ".XXXXXX";
    int fd = CreateTemporary(&temp, keepCreated ? 0666 : 0600);
    auto fail = [&](const char* what) {
        int saved = errno;
        if (error) *error = std::string(what) + ": " + strerror(saved);
        if (fd >= 0) close(fd);
        if (fd != -2) unlink(temp.c_str());
        errno = saved;
        return false;
    };
    if (fd < 0) {
        fd = -2;  // nothing to remove
        return fail("cannot create a temporary file");
    }
    if (!keepCreated && fchmod(fd, mode) != 0) return fail("cannot set permissions");
    if (!WriteAll(fd, contents.data(), contents.size())) return fail("cannot write");
    if (fsync(fd) != 0) return fail("cannot flush to disk");
    if (close(fd) != 0) {
        fd = -1;
        return fail("cannot close");
    }
    fd = -1;
    if (!RenameFile(temp.c_str(), target.c_str())) return fail("cannot rename");
    RemoveStaleTemporaries(target);
    // Make the rename itself durable.
    int dirfd = open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd >= 0) {
        fsync(dirfd);
        close(dirfd);
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string* contents) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    contents->clear();
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            close(fd);
            return false;
        }
        if (n == 0) break;
        contents->append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

TFd::~TFd() {
    if (Fd >= 0) close(Fd);
}

bool TFd::Close() {
    return Fd < 0 || close(std::exchange(Fd, -1)) == 0;
}

namespace {

constexpr size_t COPY_BLOCK = 4096;

bool CopyThenDelete(const std::string& target, const std::string& source) {
    TFd in(open(source.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat from {};
    if (in.Get() < 0 || fstat(in.Get(), &from) != 0 || !S_ISREG(from.st_mode)) return false;
    // Only a regular file is replaced: truncating the source under another
    // name (a hard link) would destroy it, a failed copy deletes the target,
    // and nothing is written through a symbolic link planted there.
    struct stat to {};
    if (lstat(target.c_str(), &to) == 0 &&
        (!S_ISREG(to.st_mode) || (to.st_dev == from.st_dev && to.st_ino == from.st_ino)))
        return false;
    TFd out(open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                 from.st_mode & 07777));
    if (out.Get() < 0) return false;
    auto fail = [&] {
        int saved = errno;
        out.Close();
        unlink(target.c_str());
        errno = saved;
        return false;
    };
    // An older target keeps its own bits under O_CREAT; a rename would have
    // brought the source's. Not worth failing the move over.
    (void)!fchmod(out.Get(), from.st_mode & 07777);
    char block[COPY_BLOCK];
    for (;;) {
        ssize_t n = read(in.Get(), block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail();
        if (n == 0) break;
        if (!WriteAll(out.Get(), block, static_cast<size_t>(n))) return fail();
    }
    // The copy must be on disk before the only other copy goes.
    if (fsync(out.Get()) != 0 || !out.Close()) return fail();
    in.Close();
    // A source that cannot be deleted leaves two whole copies: nothing is
    // lost, but the move did not happen.
    return unlink(source.c_str()) == 0;
}

}  // namespace

double FreeBytes(const std::string& path) {
    struct statvfs fs {};
    if (statvfs(path.c_str(), &fs) != 0) return -1;
    return static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize);
}

bool MoveOrCopyFile(const std::string& target, const std::string& source) {
    if (RenameFile(source.c_str(), target.c_str())) return true;
    return CopyThenDelete(target, source);
}

std::string AddTrailingSlash(std::string_view path) {
    std::string result(path);
    if (!result.empty() && result.back() != '/') result += '/';
    return result;
}

bool IsJpegName(std::string_view name) {
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return false;
    std::string_view extension = name.substr(dot);
    return EqualsIgnoringCase(extension, ".jpg") || EqualsIgnoringCase(extension, ".jpeg") ||
           EqualsIgnoringCase(extension, ".jpe");
}

namespace {
constexpr size_t DEVICE_NAME_PART_MAX = 1022;
}

bool IsReservedDeviceName(std::string_view name) {
    static constexpr std::string_view DEVICES[] = {"con",  "prn",  "aux",  "clock$",
                                                   "nul",  "com1", "com2", "com3",
                                                   "com4", "lpt1", "lpt2", "lpt3"};
    size_t slash = name.rfind('/');
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    if (name.size() > DEVICE_NAME_PART_MAX) return false;
    name = name.substr(0, name.find('.'));
    for (std::string_view device : DEVICES)
        if (EqualsIgnoringCase(name, device)) return true;
    return false;
}

}  // namespace zorvex
