// The test plug-ins under names of a test's own, and what they logged.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "library/fileio.h"

namespace zorvex::test {

// A copy of a built plug-in at dest: copies loaded under other names are
// separate libraries, each with its own name in the log.
inline void CopyPlugIn(const std::string& built, const std::string& dest) {
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(built, &bytes)) << built;
    std::string error;
    ASSERT_TRUE(ReplaceFileAtomically(dest, bytes, &error)) << error;
}

// The log's lines; none when it was not written.
inline std::vector<std::string> LogLines(const std::string& path) {
    std::string text;
    std::vector<std::string> lines;
    if (!ReadWholeFile(path, &text)) return lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The sample plug-in's sum of a file's bytes (FNV-1a, 64 bits).
inline std::string Fnv1a(const std::string& bytes) {
    uint64_t h = 14695981039346656037ULL;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ULL;
    char text[24];
    snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

// The whole log two copies of the sample plug-in write when B (loaded
// last, with a word list) is told first and A (without one) after it:
// every call B logged, each followed by A's, except the headers B refused.
inline std::vector<std::string> ToldBThenA(const std::vector<std::string>& b) {
    std::vector<std::string> both;
    for (const std::string& line : b) {
        both.push_back("B " + line);
        if (line == "Initialize words=1")
            both.push_back("A Initialize words=0");
        else if (line.find("-> veto") == std::string::npos)
            both.push_back("A " + line);
    }
    return both;
}

}  // namespace zorvex::test
