// A directory of its own for one test, removed with everything in it.
#pragma once

#include <ftw.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace zorvex::test {

class TTempDir {
  public:
    TTempDir() {
        char pattern[] = "/tmp/zorvex-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        Dir = made ? made : "";
    }
    ~TTempDir() {
        if (!Dir.empty())
            nftw(
                Dir.c_str(),
                [](const char* path, const struct stat*, int, struct FTW*) { return remove(path); },
                16, FTW_DEPTH | FTW_PHYS);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return Dir; }
    std::string File(const std::string& name) const { return Dir + "/" + name; }

  private:
    std::string Dir;
};

}  // namespace zorvex::test
