// fileio: the few file operations whose failure must never lose data.
// Whole-buffer writes, renames and atomic replacement of a small file
// (write a temporary file beside it, flush it to disk, rename it over).
// Tests can tell the layer to fail (disk full, short write, rename failure,
// or end the process just before the rename) to show that nothing already
// saved is lost.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zorvex {

enum class TFileFault {
    NONE,
    DISK_FULL,           // the write fails with ENOSPC
    SHORT_WRITE,         // half of the write lands, then ENOSPC
    RENAME_FAILS,        // the rename fails with EIO
    EXIT_BEFORE_RENAME,  // the process ends between writing and renaming
};

// Test-only: the (skip+1)-th write (or rename) from now on fails as asked;
// the fault then clears itself. Process-wide.
void InjectFileFault(TFileFault fault, int skip = 0);
void ClearFileFaults();

// Writes all of data or fails; errno is set on failure.
bool WriteAll(int fd, const void* data, size_t length);

// rename(2), subject to injected faults; errno is set on failure.
bool RenameFile(const char* from, const char* to);

// Who may read a file that did not exist before.
enum class TNewFileAccess {
    OWNER_ONLY,  // 0600: the settings file holds passwords and keys
    UMASK,       // 0666 less the umask, as downloads are: pages others show
};

// Replaces path with contents atomically: a crash or a full disk leaves
// either the old file or the new one, never a mix. A symbolic link at path
// is followed so the link itself survives. The new file keeps the old one's
// permission bits; a file made anew gets them from access. On failure error
// says why.
bool ReplaceFileAtomically(const std::string& path, std::string_view contents, std::string* error,
                           TNewFileAccess access = TNewFileAccess::OWNER_ONLY);

// The directory part of a path ("." when it has none) and the part after
// the last '/'.
std::string DirectoryOf(const std::string& path);
std::string BaseName(const std::string& path);

// Owns a descriptor: closed on every early return, or by Close() where its
// result matters (a close can report a failed write).
class TFd {
  public:
    explicit TFd(int fd) : Fd(fd) {}
    ~TFd();
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return Fd; }
    bool Close();

  private:
    int Fd;
};

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string* contents);

// Appends '/' unless the path is empty or already ends with one.
std::string AddTrailingSlash(std::string_view path);

// Free bytes for an unprivileged user on the file system holding path; -1
// when it cannot be told.
double FreeBytes(const std::string& path);

// Renames source to target; when that fails (another file system) copies it
// with the source's permission bits, syncs it and deletes the source. A
// failed copy deletes the partial target and keeps the source.
bool MoveOrCopyFile(const std::string& target, const std::string& source);

// The text from the last '.' is ".jpg", ".jpeg" or ".jpe", any case.
bool IsJpegName(std::string_view name);

// The name part (after the last '/') cut at its first '.' is a device name
// of Windows (con, prn, aux, clock$, nul, com1-4, lpt1-3, any case); files
// are shared with Windows machines. A name part over 1022 characters is not.
bool IsReservedDeviceName(std::string_view name);

}  // namespace zorvex
