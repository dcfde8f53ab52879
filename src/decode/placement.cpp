#include "decode/placement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "library/ascii.h"
#include "library/fileio.h"

namespace zorvex {
namespace {

constexpr size_t DELETE_PATH_MAX = 1000;
constexpr const char* DOWNLOAD_UNDER_DOCUMENTS = "zorvex/download/";
constexpr const char* DOWNLOAD_UNDER_HOME = "download/";
// Stands in for a directory component a group name must not produce.
constexpr const char* SAFE_COMPONENT = "_";

constexpr std::array<bool, 256> BuildSeparatorTable() {
    std::array<bool, 256> table{};
    constexpr std::string_view nameChars = ".~`!@#$%^&_-";
    for (int c = 0; c < 255; ++c) {
        bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        table[c] = !alnum && nameChars.find(static_cast<char>(c)) == std::string_view::npos;
    }
    return table;  // 255 stays false
}

constexpr std::array<bool, 256> SEPARATORS = BuildSeparatorTable();

bool IsControl(unsigned char c) {
    return c < 0x20;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// Reads the quoted or bare value that follows "KEY=" in a shell-style
// assignment line.
std::string AssignedValue(std::string_view rest) {
    std::string value;
    if (!rest.empty() && rest[0] == '"') {
        for (size_t i = 1; i < rest.size() && rest[i] != '"'; ++i) {
            if (rest[i] == '\\' && i + 1 < rest.size()) ++i;
            value += rest[i];
        }
    } else {
        size_t end = rest.find_first_of(" \t#");
        value = rest.substr(0, end);
    }
    return value;
}

// The XDG documents folder: the environment first, then the user-dirs file,
// whose values are absolute or relative to $HOME. Empty when there is none.
std::string DocumentsDirectory() {
    const char* env = getenv("XDG_DOCUMENTS_DIR");
    if (env && env[0] == '/') return env;
    const char* homeEnv = getenv("HOME");
    std::string home = homeEnv && homeEnv[0] == '/' ? homeEnv : "";
    const char* configEnv = getenv("XDG_CONFIG_HOME");
    std::string config;
    if (configEnv && configEnv[0] == '/')
        config = configEnv;
    else if (!home.empty())
        config = home + "/.config";
    else
        return {};
    std::string text;
    if (!ReadWholeFile(config + "/user-dirs.dirs", &text)) return {};

    constexpr std::string_view key = "XDG_DOCUMENTS_DIR=";
    std::string value;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos) continue;
        line.remove_prefix(first);
        // The last assignment wins, as in the shell that reads the file.
        if (line.substr(0, key.size()) == key) value = AssignedValue(line.substr(key.size()));
    }
    constexpr std::string_view homeVar = "$HOME";
    if (value.compare(0, homeVar.size(), homeVar) == 0 &&
        (value.size() == homeVar.size() || value[homeVar.size()] == '/')) {
        if (home.empty()) return {};
        return home + value.substr(homeVar.size());
    }
    return !value.empty() && value[0] == '/' ? value : std::string();
}

}  // namespace

bool IsNameSeparator(unsigned char c) {
    return SEPARATORS[c];
}

std::string GroupDirectory(std::string_view downloadPath, std::string_view groupName, int ordinal,
                           int pathExpand, const std::vector<std::string>& prefixes) {
    std::string base = AddTrailingSlash(downloadPath);
    if (pathExpand == 2) return base + "group" + std::to_string(ordinal) + "/";
    if (pathExpand != 1 && pathExpand != 3) return base;

    size_t best = 0;
    for (const std::string& prefix : prefixes)
        if (prefix.size() > best && prefix.size() <= groupName.size() &&
            EqualsIgnoringCase(groupName.substr(0, prefix.size()), prefix))
            best = prefix.size();
    std::string_view rest = groupName.substr(best);
    if (best > 0 && !rest.empty() && rest[0] == '.') rest.remove_prefix(1);
    if (rest.empty()) return base;

    std::string safe(rest);
    for (char& c : safe)
        if (c == '/' || IsControl(static_cast<unsigned char>(c))) c = '_';
    // Scheme 1 turns every '.' into a level; scheme 3 splits at '/', which
    // is gone by now, so it keeps one directory. Either way an empty, "." or
    // ".." component would name the parent or the same directory, so it is
    // replaced.
    const char split = pathExpand == 1 ? '.' : '/';
    std::string result = base;
    size_t from = 0;
    for (;;) {
        size_t to = safe.find(split, from);
        std::string_view part =
            std::string_view(safe).substr(from, to == std::string::npos ? to : to - from);
        result += part.empty() || part == "." || part == ".." ? SAFE_COMPONENT : part;
        result += '/';
        if (to == std::string::npos) break;
        from = to + 1;
    }
    return result;
}

bool EnsureDirectory(std::string_view path, bool create) {
    if (path.empty() || path.find('\0') != std::string_view::npos) return false;
    std::string full(path);
    for (size_t i = 1; i < full.size(); ++i) {
        if (full[i] != '/') continue;
        std::string prefix = full.substr(0, i);
        struct stat st {};
        if (stat(prefix.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) continue;
            return false;
        }
        if (!create || errno != ENOENT) return false;
        if (mkdir(prefix.c_str(), 0755) == 0) continue;
        // Someone else may have made it in the meantime.
        if (errno == EEXIST && IsDirectory(prefix)) continue;
        return false;
    }
    return true;
}

std::string CleanFileName(std::string_view name) {
    size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    std::string result(name);
    for (char& c : result)
        if (IsControl(static_cast<unsigned char>(c)) || c == 0x7f) c = '_';
    return result;
}

bool UsableFileName(std::string_view name) {
    return !name.empty() && name != "." && name != "..";
}

std::string ConvertCase(std::string_view name, int caseConvert) {
    std::string result(name);
    if (caseConvert == 1)
        for (char& c : result) c = ToLowerAscii(c);
    else if (caseConvert == 2)
        for (char& c : result) c = ToUpperAscii(c);
    return result;
}

TUniqueResult MakeUnique(std::string_view directory, std::string* name, bool rename) {
    const std::string dir(directory);
    if (!Exists(dir + *name)) return UNIQUE_NEW;
    if (!rename) return UNIQUE_EXISTING_KEPT;
    size_t dot = name->rfind('.');
    std::string stem = name->substr(0, dot);
    std::string extension = dot == std::string::npos ? "" : name->substr(dot);
    for (int i = 1; i <= UNIQUE_TRIES_MAX; ++i) {
        std::string candidate = stem + "(" + std::to_string(i) + ")" + extension;
        if (!Exists(dir + candidate)) {
            *name = std::move(candidate);
            return UNIQUE_NEW;
        }
    }
    return UNIQUE_GAVE_UP;
}

std::string NameFromSubject(std::string_view subject) {
    if (subject.size() >= SUBJECT_NAME_SOURCE_MAX) return {};
    std::string name;
    size_t i = 0;
    for (; i < subject.size() && subject[i] != '.'; ++i) {
        if (IsNameSeparator(static_cast<unsigned char>(subject[i])))
            name.clear();
        else
            name += subject[i];
    }
    if (i == subject.size()) return {};
    for (; i < subject.size() && !IsNameSeparator(static_cast<unsigned char>(subject[i])); ++i)
        name += subject[i];
    if (name.size() > SUBJECT_NAME_MAX) name.resize(SUBJECT_NAME_MAX);
    // "a/../b" would give "..": a directory, not a file name.
    return UsableFileName(name) ? name : std::string();
}

bool DeleteInDirectory(std::string_view directory, std::string_view name) {
    if (directory.size() + name.size() > DELETE_PATH_MAX) return false;
    std::string path = std::string(directory) + std::string(name);
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    return unlink(path.c_str()) == 0;
}

std::string ProposeDownloadPath(std::string_view stored, std::string_view homeDir) {
    if (!stored.empty()) return AddTrailingSlash(stored);
    std::string documents = DocumentsDirectory();
    if (!documents.empty()) {
        std::string path = AddTrailingSlash(documents) + DOWNLOAD_UNDER_DOCUMENTS;
        if (path.size() <= DOWNLOAD_PATH_MAX && EnsureDirectory(path, true)) return path;
    }
    return AddTrailingSlash(homeDir) + DOWNLOAD_UNDER_HOME;
}

bool AcceptDownloadPath(std::string_view typed, std::string* path) {
    constexpr const char* SURROUNDING = " \t\"";
    size_t first = typed.find_first_not_of(SURROUNDING);
    if (first == std::string_view::npos) return false;
    size_t last = typed.find_last_not_of(SURROUNDING);
    std::string accepted = AddTrailingSlash(typed.substr(first, last - first + 1));
    // Too long a path is refused before any directory of it is made.
    if (accepted.size() > DOWNLOAD_PATH_MAX) return false;
    if (!EnsureDirectory(accepted, true)) return false;
    *path = std::move(accepted);
    return true;
}

}  // namespace zorvex
