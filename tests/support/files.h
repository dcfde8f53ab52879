// Small file helpers the tests share: whether a path exists (a dangling
// link counts), and whole-file writes and reads that fail the test when
// the file system refuses.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "library/fileio.h"

namespace zorvex::test {

inline bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

inline void WriteFile(const std::string& path, const std::string& contents) {
    std::string error;
    ASSERT_TRUE(ReplaceFileAtomically(path, contents, &error)) << path << ": " << error;
}

inline std::string ReadFile(const std::string& path) {
    std::string contents;
    EXPECT_TRUE(ReadWholeFile(path, &contents)) << path;
    return contents;
}

}  // namespace zorvex::test
