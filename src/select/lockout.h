// The lockout and keyword lists: per kind (poster, subject, file name...)
// one pattern list for All-Groups and one per group, read from and written
// to lockout.lst. The group records only point at the lists (they move
// inside the store's table); the lists themselves live here, and a list no
// record points at any more is freed by Prune().
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "nntp/newsstore.h"
#include "select/strfsm.h"

namespace zorvex {

// The numbers are the ones the editing windows use.
enum TLockoutKind : int {
    LOCKOUT_POSTER = 1,
    LOCKOUT_SUBJECT = 2,
    LOCKOUT_FILE = 3,
    LOCKOUT_XREF = 4,
    LOCKOUT_HOST = 5,
    LOCKOUT_ORGANIZATION = 6,
    LOCKOUT_ANY = 7,
    LOCKOUT_KEYWORDS = 8,
};

// The kinds in the order lockout.lst lists them.
inline constexpr TLockoutKind kLockoutKinds[] = {
    LOCKOUT_POSTER, LOCKOUT_SUBJECT,      LOCKOUT_FILE, LOCKOUT_HOST,
    LOCKOUT_XREF,   LOCKOUT_ORGANIZATION, LOCKOUT_ANY,  LOCKOUT_KEYWORDS,
};

// The word of a kind in lockout.lst ("POSTER"...); empty for an unknown kind.
std::string_view KindWord(int kind);

// A line of lockout.lst is read up to this many characters.
constexpr size_t LOCKOUT_LINE_MAX = 255;
// Fields taken from an article are cut to this many characters.
constexpr size_t LOCKOUT_FIELD_MAX = 250;
// [misc] statesetinusethresh when absent.
constexpr size_t LOCKOUT_STATE_THRESHOLD_DEFAULT = 3072;

// What Load found, for the status line.
struct TLockoutLoadReport {
    bool FileRead = false;  // false: no file (or unreadable), only the empty lists
    size_t LinesUsed = 0;
    size_t LinesSkipped = 0;  // malformed lines, each skipped on its own
    size_t FirstSkipped = 0;  // its line number (from 1), 0 when none
    std::string Message;      // empty when the file was read cleanly or is absent
};

// The values of one article for Lockout Current / Previous, escaped and cut.
struct TLockoutFields {
    std::string Poster, Subject, File, Host;
};
// "null" (the store's missing value) becomes empty; each value is escaped so
// that it matches itself literally, and cut to LOCKOUT_FIELD_MAX.
TLockoutFields LockoutFieldsFrom(std::string_view poster, std::string_view subject,
                                 std::string_view file, std::string_view host);

// Which fields AddLockouts takes.
struct TLockoutChoice {
    bool Poster = false, Subject = false, File = false, Host = false;
};

// One answer of the string matcher window.
struct TLockoutAnswer {
    std::string Text;
    std::string Title;
};

// An entry as the editing windows show it. Group is the index in the group
// list, -1 for All-Groups; it holds until the group list changes.
struct TLockoutEntry {
    int Group = -1;
    std::string Pattern;
    uint32_t Flags = 0;
    std::string Label;  // "[TEMP] group: pattern"
};

class TLockoutLists {
  public:
    // The store outlives the lists: they are cut from its records at the end.
    explicit TLockoutLists(TNewsStore& store);
    ~TLockoutLists();
    TLockoutLists(const TLockoutLists&) = delete;
    TLockoutLists& operator=(const TLockoutLists&) = delete;

    // Applies to lists made afterwards.
    void SetStateThreshold(size_t states) { StateThreshold = states; }

    // The group's list of a kind (null group: All-Groups). With create an
    // empty one is made when there is none; an unknown kind gives null.
    TReStringManager* List(TNewsGroup* group, int kind, bool create);

    // Whether the All-Groups list of the kind, or else the group's (group may
    // be null), matches text. An absent list never matches.
    bool Matches(TNewsGroup* group, int kind, std::string_view text);
    // Whether either of those lists holds an entry.
    bool HasEntries(TNewsGroup* group, int kind);

    // Drops every list, then reads path (see the .cpp for the line rules).
    // A missing file leaves the empty All-Groups POSTER, SUBJECT, FILE and
    // HOST lists.
    TLockoutLoadReport Load(const std::string& path);
    TLockoutLoadReport LoadFromText(std::string_view text);
    // Writes every list but their temporary entries; on failure the old file
    // stays and error says why.
    bool Save(const std::string& path, std::string* error);
    std::string SaveToText();
    // Frees the lists no group record points at.
    void Prune();
    size_t ListCount() const { return Owned.size(); }

    // Lockout Current / Previous: the chosen, non-empty fields go to the
    // All-Groups POSTER, SUBJECT, FILE and HOST lists with flags 0, or
    // RE_TEMPORARY when temporary.
    void AddLockouts(const TLockoutFields& fields, TLockoutChoice which, bool temporary);

    // The string matcher window: All-Groups, then each group whose list of
    // the kind matches text; one "no hit" answer when none does.
    std::vector<TLockoutAnswer> TestString(int kind, std::string_view text);

    // The editing windows. Entries lists All-Groups' entries, then each
    // group's in group-list order.
    std::vector<TLockoutEntry> Entries(int kind);
    // Removes old (when given and still there) and puts pattern into the
    // list of group (-1: All-Groups), keeping the flags of an equal pattern
    // there, then sets or clears RE_EXACT and RE_TEMPORARY. False (nothing
    // changed) for an unknown kind or group, an empty pattern, or an old
    // entry that is gone.
    bool EditEntry(int kind, const TLockoutEntry* old, int group, std::string_view pattern,
                   bool exact, bool temporary);
    bool DeleteEntry(int kind, const TLockoutEntry& entry);
    void SetMatchBlank(int kind, bool on);

  private:
    TNewsGroup* GroupAt(int index);
    // Our list behind a slot; null when the slot is empty or not ours.
    TReStringManager* Owner(TStringManager* slot) const;
    void DropAll();
    void AppendList(std::string& out, const char* groupName, TLockoutKind kind,
                    TStringManager* slot) const;

    TNewsStore& Store;
    size_t StateThreshold = LOCKOUT_STATE_THRESHOLD_DEFAULT;
    std::unordered_map<const TStringManager*, std::unique_ptr<TReStringManager>> Owned;
};

}  // namespace zorvex
