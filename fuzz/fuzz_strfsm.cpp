// A few wildcard patterns and texts from the input: the pattern list must
// answer every text as a slow reference does (a glob table over text by
// pattern per entry), after additions, flag changes and removals, and with
// the cache both cold and warm under a small state threshold.
//
// Input: list-flags byte (1 file-name list, 2 match blank, 4 case-sensitive
// default), threshold byte, entry count byte, then per entry a flags byte, a
// length byte and the pattern bytes; then texts, each a length byte and its
// bytes, to the end. A short input ends early.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "select/strfsm.h"

namespace {

using zorvex::TReStringManager;

struct TReader {
    const uint8_t* Data;
    size_t Size;
    size_t Pos = 0;
    bool More() const { return Pos < Size; }
    uint8_t Byte() { return Pos < Size ? Data[Pos++] : 0; }
    std::string Bytes(size_t n) {
        if (n > Size - Pos) n = Size - Pos;
        std::string s(reinterpret_cast<const char*>(Data + Pos), n);
        Pos += n;
        return s;
    }
};

// C locale ispunct or isspace, except '_'.
bool RefDelim(unsigned char c) {
    if (c == '_') return false;
    if (c == ' ' || (c >= '\t' && c <= '\r')) return true;
    return c > ' ' && c < 0x7f && !(c >= '0' && c <= '9') && !(c >= 'a' && c <= 'z') &&
           !(c >= 'A' && c <= 'Z');
}

unsigned char Lower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

struct TToken {
    enum { Lit, One, Run } Kind;
    unsigned char C;
};

std::vector<TToken> Tokens(std::string_view pattern) {
    std::vector<TToken> out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const auto c = static_cast<unsigned char>(pattern[i]);
        if (c == '*') {
            out.push_back({TToken::Run, 0});
        } else if (c == '?') {
            out.push_back({TToken::One, 0});
        } else if (c == '\\' && i + 1 < pattern.size()) {
            out.push_back({TToken::Lit, static_cast<unsigned char>(pattern[++i])});
        } else {
            out.push_back({TToken::Lit, c});
        }
    }
    return out;
}

// The ends j for which the pattern covers text[from..j) exactly.
std::vector<bool> Ends(const std::vector<TToken>& tokens, std::string_view text, size_t from,
                       bool caseSensitive) {
    const size_t n = text.size();
    std::vector<bool> at(n + 1, false);
    at[from] = true;
    for (const TToken& t : tokens) {
        std::vector<bool> next(n + 1, false);
        for (size_t p = from; p <= n; ++p) {
            if (!at[p]) continue;
            if (t.Kind == TToken::Run) {
                for (size_t q = p; q <= n; ++q) next[q] = true;
                break;
            }
            if (p == n) continue;
            const auto c = static_cast<unsigned char>(text[p]);
            const bool ok =
                t.Kind == TToken::One || (caseSensitive ? c == t.C : Lower(c) == Lower(t.C));
            if (ok) next[p + 1] = true;
        }
        at = std::move(next);
    }
    return at;
}

bool RefEntry(std::string_view pattern, uint32_t flags, std::string_view text) {
    if (pattern.empty() || (flags & zorvex::RE_OTHER_SYNTAX)) return false;
    const bool exact = (flags & (zorvex::RE_EXACT | zorvex::RE_EXACT_TOO)) != 0;
    const bool word = !exact && (flags & zorvex::RE_WORD);
    const bool caseSensitive = (flags & zorvex::RE_CASE_SENSITIVE) != 0;
    const std::vector<TToken> tokens = Tokens(pattern);
    const size_t n = text.size();
    for (size_t i = 0; i <= n; ++i) {
        if (exact && i > 0) break;
        if (word && i > 0 && !RefDelim(static_cast<unsigned char>(text[i - 1]))) continue;
        const std::vector<bool> ends = Ends(tokens, text, i, caseSensitive);
        for (size_t j = i; j <= n; ++j) {
            if (!ends[j]) continue;
            if (exact && j != n) continue;
            if (word && j != n && !RefDelim(static_cast<unsigned char>(text[j]))) continue;
            return true;
        }
    }
    return false;
}

struct TRefEntry {
    std::string Pattern;
    uint32_t Flags;
};

bool RefList(const std::vector<TRefEntry>& entries, uint32_t listFlags, const char* text) {
    if (!text) return (listFlags & zorvex::RE_MATCH_BLANK) != 0;
    const std::string_view t(text);
    if (t.empty() && (listFlags & zorvex::RE_MATCH_BLANK)) return true;
    for (const TRefEntry& e : entries)
        if (RefEntry(e.Pattern, e.Flags, t)) return true;
    if ((listFlags & zorvex::RE_FILE_NAME_LIST) && t.find('.') == std::string_view::npos &&
        t.size() + 16 <= 255) {
        const std::string dotted = std::string(t) + ".";
        for (const TRefEntry& e : entries)
            if (RefEntry(e.Pattern, e.Flags, dotted)) return true;
    }
    return false;
}

void PrintBytes(const char* label, std::string_view s) {
    std::fprintf(stderr, "%s \"", label);
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\')
            std::fputc(c, stderr);
        else
            std::fprintf(stderr, "\\x%02x", c);
    }
    std::fprintf(stderr, "\" (%zu bytes)\n", s.size());
}

struct TCase {
    TReStringManager List;
    std::vector<TRefEntry> Entries;
    uint32_t ListFlags;
    uint32_t DefaultFlags;

    TCase(uint32_t listFlags, uint32_t defaultFlags, size_t threshold)
        : List(10, listFlags), ListFlags(listFlags), DefaultFlags(defaultFlags) {
        List.SetDefaultEntryFlags(defaultFlags);
        List.SetStateThreshold(threshold);
    }

    void Add(const std::string& pattern, uint32_t flags) {
        const uint32_t before = List.BuildCount();
        zorvex::TStringEntry* e = List.AddPattern(pattern, flags);
        if (!e) {
            // An empty pattern may be refused: it could never match anyway.
            if (!pattern.empty()) Fail("pattern refused", pattern, "", 1, 0);
            return;
        }
        for (TRefEntry& r : Entries) {
            if (r.Pattern == pattern) {
                r.Flags |= flags;
                if (e->Flags != r.Flags) Fail("entry flags after re-adding", pattern, "", 0, 0);
                return;
            }
        }
        Entries.push_back({pattern, DefaultFlags | flags});
        if (e->Flags != (DefaultFlags | flags)) Fail("new entry flags", pattern, "", 0, 0);
        if (!List.ChangedSince(before)) Fail("addition not seen as a change", pattern, "", 0, 0);
    }

    [[noreturn]] void Fail(const char* what, std::string_view pattern, std::string_view text,
                           int expected, int got) {
        std::fprintf(stderr, "strfsm mismatch: %s; list flags 0x%x, threshold %zu\n", what,
                     ListFlags, List.StateThreshold());
        if (!pattern.empty()) PrintBytes("  pattern", pattern);
        PrintBytes("  text", text);
        std::fprintf(stderr, "  expected %d, got %d\n", expected, got);
        // Each entry with the reference's answer for the text alone.
        for (const TRefEntry& r : Entries) {
            std::fprintf(stderr, "  entry flags 0x%02x, alone %d:", r.Flags,
                         RefList({r}, ListFlags, std::string(text).c_str()));
            PrintBytes("", r.Pattern);
        }
        __builtin_trap();
    }

    void Check(const std::vector<std::string>& texts, const char* round) {
        for (size_t k = 0; k < texts.size(); ++k) {
            const std::string& t = texts[k];
            const bool expected = RefList(Entries, ListFlags, t.c_str());
            // Alternate the two entry points; the view may hold a NUL, which ends the text.
            const bool got = (k & 1) ? List.Match(t.c_str()) : List.Match(std::string_view(t));
            if (got != expected) Fail(round, "", t, expected, got);
        }
        const bool absent = RefList(Entries, ListFlags, nullptr);
        if (List.Match(static_cast<const char*>(nullptr)) != absent)
            Fail("absent text", "", "", absent, !absent);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TReader in{data, size};
    const uint8_t listByte = in.Byte();
    uint32_t listFlags = 0;
    if (listByte & 1) listFlags |= zorvex::RE_FILE_NAME_LIST;
    if (listByte & 2) listFlags |= zorvex::RE_MATCH_BLANK;
    const uint32_t defaultFlags = (listByte & 4) ? zorvex::RE_CASE_SENSITIVE : 0;
    const size_t threshold = 1 + (in.Byte() & 63);
    const size_t count = in.Byte() % 9;

    std::vector<TRefEntry> wanted;
    for (size_t i = 0; i < count && in.More(); ++i) {
        const uint32_t flags = in.Byte() & 0x77;
        std::string pattern = in.Bytes(in.Byte() % 33);
        std::erase(pattern, '\0');  // a pattern is a C string
        wanted.push_back({pattern, flags});
    }
    std::vector<std::string> texts;
    while (in.More() && texts.size() < 12) {
        // Mostly short; a few long enough to cross the file-name list's length limit.
        const uint8_t b = in.Byte();
        texts.push_back(in.Bytes(b < 240 ? b % 101 : 235 + (b - 240)));
    }

    TCase c(listFlags, defaultFlags, threshold);
    // The last entry waits until the list has matched once.
    const size_t first = wanted.empty() ? 0 : wanted.size() - 1;
    for (size_t i = 0; i < first; ++i) c.Add(wanted[i].Pattern, wanted[i].Flags);
    c.Check(texts, "first build");
    if (!wanted.empty()) {
        c.Add(wanted.back().Pattern, wanted.back().Flags);
        c.Check(texts, "after an addition");
    }
    c.Check(texts, "warm cache");

    // A second list of the same entries, matched in reverse order, so the
    // states are built in another order.
    TCase fresh(listFlags, defaultFlags, threshold);
    for (const TRefEntry& r : c.Entries) fresh.Add(r.Pattern, r.Flags & ~defaultFlags);
    std::vector<std::string> reversed(texts.rbegin(), texts.rend());
    fresh.Check(reversed, "second list");

    if (!c.Entries.empty()) {
        // New flags for the first entry, taken from its pattern's length.
        TRefEntry& r = c.Entries.front();
        const uint32_t flags = static_cast<uint32_t>(r.Pattern.size() * 7) & 0x77;
        zorvex::TStringEntry* e = c.List.Find(r.Pattern.c_str());
        if (!e) c.Fail("added pattern not found", r.Pattern, "", 1, 0);
        c.List.SetEntryFlags(e, flags);
        r.Flags = flags;
        if (e->Flags != flags) c.Fail("entry flags after SetEntryFlags", r.Pattern, "", 1, 0);
        c.Check(texts, "after new entry flags");

        const std::string gone = r.Pattern;
        c.List.Remove(gone.c_str());
        c.Entries.erase(c.Entries.begin());
        c.Check(texts, "after a removal");
    }
    c.List.Changed();
    c.Check(texts, "after Changed()");

    // List flags turned over on a warm list: they are read at every match.
    c.ListFlags ^= zorvex::RE_FILE_NAME_LIST;
    c.List.SetListFlags(c.ListFlags);
    c.Check(texts, "after new list flags");
    c.ListFlags ^= zorvex::RE_MATCH_BLANK;
    c.List.SetMatchBlank((c.ListFlags & zorvex::RE_MATCH_BLANK) != 0);
    c.Check(texts, "after SetMatchBlank");
    return 0;
}
