// Where a benchmark writes its output file "out.bin": one directory per
// file system for the whole program, removed at exit. /tmp is the disk,
// /dev/shm memory (what is left is the engine's own cost).
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace zorvex::test {

constexpr const char* BENCH_FILE_NAME = "out.bin";

class TBenchDir {
  public:
    explicit TBenchDir(const char* base) {
        std::string pattern = std::string(base) + "/zorvex-bench-XXXXXX";
        if (!mkdtemp(pattern.data())) abort();
        Path = pattern + "/";
    }
    ~TBenchDir() {
        std::remove((Path + BENCH_FILE_NAME).c_str());
        rmdir(Path.c_str());
    }
    TBenchDir(const TBenchDir&) = delete;
    TBenchDir& operator=(const TBenchDir&) = delete;
    std::string Path;  // ends with '/'
};

inline const std::string& BenchOutDir(bool memory) {
    static TBenchDir disk("/tmp");
    static TBenchDir shm(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    return memory ? shm.Path : disk.Path;
}

}  // namespace zorvex::test
