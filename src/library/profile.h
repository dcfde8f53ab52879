// profile: the INI file layer. Reads and writes settings files the way the
// desktop platform's profile functions did: section and key names match
// ignoring case, values are trimmed, a missing file or key gives the
// caller's default. Unlike those functions it edits an in-memory copy and
// writes the whole file once per save, atomically, keeping the user's
// comments, blank lines and unknown sections and keys as they were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zorvex {

// Numbered lists: a section whose keys "0", "1", ... each hold one entry.
constexpr size_t NUMBERED_ENTRY_MAX = 1023;  // characters kept of one entry
constexpr size_t NUMBERED_COUNT_MAX = 256;

class TProfile {
  public:
    // Reads path; a missing file gives an empty profile and true. False only
    // when the file exists but cannot be read.
    bool Load(const std::string& path);
    void Parse(std::string_view text);
    std::string Serialize() const;
    // Writes the whole profile to path atomically; error says why it failed.
    bool Save(const std::string& path, std::string* error) const;

    // The trimmed value, without surrounding quotes; nullopt when absent.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // The value cut to maxLength characters, or the default when absent.
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view defaultValue, size_t maxLength) const;
    // The platform's integer read: leading blanks, an optional sign and
    // decimal digits, wrapped to 32 bits; anything else reads as 0. An
    // absent or empty value gives the default.
    int32_t GetInt(std::string_view section, std::string_view key, int32_t defaultValue) const;

    // Adds or replaces a key; the first line of an existing key is rewritten
    // in place so the file keeps its order. Get gives value back, here and
    // after a save: it is quoted in the file when blanks or control bytes
    // at its ends, or quotes around it, would otherwise be lost. A line
    // break cannot stand in a line: each becomes a blank.
    void Set(std::string_view section, std::string_view key, std::string_view value);
    void SetInt(std::string_view section, std::string_view key, int32_t value);
    // Removes the key (every line of it); false when it was absent.
    bool Delete(std::string_view section, std::string_view key);
    bool Has(std::string_view section, std::string_view key) const;

  private:
    struct TLine {
        std::string Raw;    // kept verbatim unless the key is set
        std::string Key;    // empty for comments, blanks and section headers
        std::string Value;  // trimmed, quotes removed
        bool Deleted = false;
    };
    struct TSection {
        std::string Name;
        std::vector<TLine> Lines;  // the header line first (none for the preamble)
        std::unordered_map<std::string, size_t> KeyIndex;  // lower-case key → first line
    };

    const TLine* Find(std::string_view section, std::string_view key) const;
    TSection& SectionFor(std::string_view section);
    void AddLine(TSection& s, TLine line);

    std::vector<TSection> Sections;  // Sections[0] is the text before any header
    std::unordered_map<std::string, size_t> SectionIndex;
};

// Reads keys "0", "1", ... up to max entries, each cut to
// NUMBERED_ENTRY_MAX characters; stops at the first key that is missing or
// empty, so nothing after a gap is read.
std::vector<std::string> ReadNumberedList(const TProfile& profile, std::string_view section,
                                          size_t max = NUMBERED_COUNT_MAX);
// Writes the first max entries, then deletes the keys that follow up to the
// first one already missing, so a shorter list leaves no stale entries.
void WriteNumberedList(TProfile& profile, std::string_view section,
                       const std::vector<std::string>& list, size_t max = NUMBERED_COUNT_MAX);

}  // namespace zorvex
