// placement: where a decoded file goes and under which name. Owns the
// download directory schemes (one directory, one per group by ordinal, or a
// tree built from the group name less a known prefix), the treatment of a
// name taken from an article (path stripped, case converted, made unique),
// the file name hidden in a subject line, the creation of missing
// directories, the download path proposed to and accepted from the user,
// and reserved device names.
//
// Group names, subjects and file names come from articles and are hostile:
// nothing built here from them can leave the download path.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "library/fileio.h"

namespace zorvex {

constexpr size_t DOWNLOAD_PATH_MAX = 255;
constexpr size_t SUBJECT_NAME_SOURCE_MAX = 248;  // longer subjects give no name
constexpr size_t SUBJECT_NAME_MAX = 128;
constexpr int UNIQUE_TRIES_MAX = 10000;

// True for the characters that end a file name inside a subject: every code
// 0-254 that is not an ASCII letter, digit or one of . ~ ` ! @ # $ % ^ & _ -
// (255 is not a separator).
bool IsNameSeparator(unsigned char c);

// The directory for a group's files, ending with '/', by [miscpref]
// pathexpand: 2 "<download>group<ordinal>/"; 1 and 3 the group name less the
// longest matching prefix (ASCII case ignored) and the '.' after it, with 1
// one directory level per name component and with 3 a single directory
// named with its dots; anything else, or nothing left, the download path.
// Empty, "." and ".." components become "_"; '/' and control characters in
// the group name become '_'.
std::string GroupDirectory(std::string_view downloadPath, std::string_view groupName, int ordinal,
                           int pathExpand, const std::vector<std::string>& prefixes);

// Checks, and with create makes (mode 0755), every directory of a path that
// ends with '/': only components followed by '/' are looked at. False for
// an empty path or when a component is not (and cannot become) a directory.
bool EnsureDirectory(std::string_view path, bool create);

// Keeps the part after the last '/' or '\\' and replaces control characters
// (< 0x20 and 0x7f) by '_' so a name can never break a log line.
std::string CleanFileName(std::string_view name);

// False for names that cannot be a file in a directory: empty, "." or "..".
bool UsableFileName(std::string_view name);

// [miscpref] caseconvert: 1 lower-cases, 2 upper-cases (ASCII only),
// anything else leaves the name.
std::string ConvertCase(std::string_view name, int caseConvert);

enum TUniqueResult { UNIQUE_NEW = 0, UNIQUE_EXISTING_KEPT = 1, UNIQUE_GAVE_UP = 2 };

// While directory + *name exists (a dangling symbolic link counts): with
// rename off keeps the name (the file will be overwritten); with rename on
// tries stem(1).ext, stem(2).ext, ... where the extension starts at the
// last '.'. Gives up after UNIQUE_TRIES_MAX tries and leaves *name as given.
TUniqueResult MakeUnique(std::string_view directory, std::string* name, bool rename);

// The file name found in a subject ("pics - nice.jpg (1/1)" gives
// "nice.jpg"), or empty: none without a '.', none from a subject of
// SUBJECT_NAME_SOURCE_MAX characters or more, and none when it would be "."
// or "..". Cut to SUBJECT_NAME_MAX characters.
std::string NameFromSubject(std::string_view subject);

// Deletes directory + name when the two together stay within 1000
// characters; true when deleted.
bool DeleteInDirectory(std::string_view directory, std::string_view name);

// The download path proposed when the stored one is empty:
// "<documents>/zorvex/download/" (created if missing) where <documents> is
// the XDG documents folder, else homeDir + "/download/". A stored path is
// proposed as it is, with a trailing '/'.
std::string ProposeDownloadPath(std::string_view stored, std::string_view homeDir);

// What the download path dialog does on OK: strips surrounding blanks and
// double quotes, adds the trailing '/', and accepts a non-empty path of at
// most DOWNLOAD_PATH_MAX characters whose directories exist or can be made.
// False leaves *path unchanged.
bool AcceptDownloadPath(std::string_view typed, std::string* path);

}  // namespace zorvex
