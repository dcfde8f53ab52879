// A file's permission bits, and the process's umask set for one scope
// (restored when the scope ends, whatever the test asserts).
#pragma once

#include <sys/stat.h>

#include <string>

namespace zorvex::test {

// The permission bits of path (following a link); -1 when it is not there.
inline int ModeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

class TScopedUmask {
  public:
    explicit TScopedUmask(mode_t mask) : Saved(umask(mask)) {}
    ~TScopedUmask() { umask(Saved); }
    TScopedUmask(const TScopedUmask&) = delete;
    TScopedUmask& operator=(const TScopedUmask&) = delete;

  private:
    mode_t Saved;
};

}  // namespace zorvex::test
