// The sample sets that scripts/post-samples.py --out DIR and
// scripts/post-uploads.py --set --out DIR describe: each file's name, what a
// downloader should make of it, its groups and its sha256.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace zorvex::test {

struct TSample {
    std::string Name;
    std::string Expect;  // received, crc-error, incomplete, no-file, virus
    std::vector<std::string> Groups;
    std::string Sha256;
};

// expect.tsv (name, expect, groups) joined with SHA256SUMS.
inline std::vector<TSample> ReadSamples(const std::filesystem::path& dir) {
    std::map<std::string, std::string> sums;
    std::ifstream sumFile(dir / "SHA256SUMS");
    std::string line;
    while (std::getline(sumFile, line))
        if (line.size() > 66) sums[line.substr(66)] = line.substr(0, 64);
    std::vector<TSample> samples;
    std::ifstream expectFile(dir / "expect.tsv");
    while (std::getline(expectFile, line)) {
        std::istringstream fields(line);
        TSample s;
        std::string groups, g;
        if (!std::getline(fields, s.Name, '\t') || !std::getline(fields, s.Expect, '\t') ||
            !std::getline(fields, groups))
            continue;
        std::istringstream list(groups);
        while (std::getline(list, g, ',')) s.Groups.push_back(g);
        s.Sha256 = sums[s.Name];
        samples.push_back(s);
    }
    return samples;
}

// Runs a shell command; its standard output and error go to output.
inline int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, n);
    int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One word for /bin/sh whatever the text holds: names posted to the server
// may carry quotes, '$', ';' or '*'.
inline std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

inline std::string Sha256(const std::filesystem::path& file) {
    std::string out;
    if (RunCommand("sha256sum -- " + ShellQuote(file.string()), &out) != 0)
        return "<sha256sum: " + out;
    return out.substr(0, out.find(' '));
}

// Posts a fresh sample set with every subject tagged, through the script
// in the source tree, and reads its description from outDir. Returns what
// went wrong, or "" when the set is there with all four kinds of sample.
inline std::string PostSampleSet(const std::string& sourceDir, const std::string& envPath,
                                 const std::string& tag, const std::string& outDir,
                                 std::vector<TSample>* samples) {
    std::string posted;
    if (RunCommand("python3 " + ShellQuote(sourceDir + "/scripts/post-samples.py") + " --env " +
                       ShellQuote(envPath) + " --tag " + ShellQuote(tag) + " --out " +
                       ShellQuote(outDir),
                   &posted) != 0)
        return "post-samples.py failed:\n" + posted;
    *samples = ReadSamples(outDir);
    std::set<std::string> kinds;
    for (const auto& s : *samples) kinds.insert(s.Expect);
    if (kinds != std::set<std::string>{"received", "crc-error", "incomplete", "no-file"})
        return "expect.tsv or SHA256SUMS unreadable in " + outDir;
    return "";
}

// Makes the group on the local server when it is missing, through
// scripts/post-uploads.py (ctlinnd as user news). Returns what went wrong,
// or "".
inline std::string EnsureGroup(const std::string& sourceDir, const std::string& envPath,
                               const std::string& group) {
    std::string said;
    if (RunCommand("python3 " + ShellQuote(sourceDir + "/scripts/post-uploads.py") + " --env " +
                       ShellQuote(envPath) + " --group " + ShellQuote(group),
                   &said) != 0)
        return "post-uploads.py could not make " + group + ":\n" + said;
    return "";
}

// Posts the upload set of scripts/post-uploads.py --set to group the way
// uploaders do (parts shuffled over several connections, one Date for all),
// every subject tagged, and reads its description from outDir. Returns what
// went wrong, or "" when the set is there with its three kinds of file.
// set is "--set" (the upload set) or "--broken-set"; kinds are the
// expectations the set must hold.
inline std::string PostUploadSet(const std::string& sourceDir, const std::string& envPath,
                                 const std::string& group, const std::string& tag,
                                 const std::string& outDir, std::vector<TSample>* samples,
                                 const std::string& set = "--set",
                                 const std::set<std::string>& kinds = {"received", "incomplete",
                                                                       "virus"}) {
    std::string posted;
    if (RunCommand("python3 " + ShellQuote(sourceDir + "/scripts/post-uploads.py") + " --env " +
                       ShellQuote(envPath) + " --group " + ShellQuote(group) + " " + set +
                       " --connections 4 --tag " + ShellQuote(tag) + " --out " +
                       ShellQuote(outDir),
                   &posted) != 0)
        return "post-uploads.py failed:\n" + posted;
    *samples = ReadSamples(outDir);
    std::set<std::string> found;
    for (const auto& s : *samples) found.insert(s.Expect);
    if (found != kinds) return "expect.tsv or SHA256SUMS unreadable in " + outDir;
    return "";
}

}  // namespace zorvex::test
