#include "library/profile.h"

#include <algorithm>
#include <cstdio>

#include "library/ascii.h"
#include "library/fileio.h"

namespace zorvex {

namespace {

std::string_view Unquote(std::string_view s) {
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        return s.substr(1, s.size() - 2);
    return s;
}

// The value as it stands in the file, read back by Parse as value: quoted
// when blanks at its ends or quotes around it would be taken off. A line
// break cannot stand inside a line; each becomes a blank.
std::string StoredValue(std::string_view value) {
    std::string out(value);
    std::replace(out.begin(), out.end(), '\n', ' ');
    if (TrimSpaces(out).size() != out.size() || Unquote(out).size() != out.size())
        return '"' + out + '"';
    return out;
}

// One allocation for the three pieces.
std::string Joined(std::string_view a, std::string_view b, std::string_view c) {
    std::string out;
    out.reserve(a.size() + b.size() + c.size());
    out.append(a).append(b).append(c);
    return out;
}

}  // namespace

bool TProfile::Load(const std::string& path) {
    std::string text;
    if (!ReadWholeFile(path, &text)) {
        Parse("");
        FILE* probe = fopen(path.c_str(), "r");
        if (probe == nullptr) return true;  // absent: all defaults
        fclose(probe);
        return false;
    }
    Parse(text);
    return true;
}

void TProfile::Parse(std::string_view text) {
    Sections.clear();
    SectionIndex.clear();
    Sections.push_back(TSection{});
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view raw = text.substr(pos, end - pos);
        pos = end + 1;
        while (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        std::string_view t = TrimSpaces(raw);
        if (!t.empty() && t.front() == '[') {
            size_t close = t.find(']');
            std::string_view name =
                TrimSpaces(close == std::string_view::npos ? t.substr(1) : t.substr(1, close - 1));
            TSection s;
            s.Name = std::string(name);
            s.Lines.push_back(TLine{std::string(raw), "", "", false});
            SectionIndex.emplace(LowerAscii(name), Sections.size());
            Sections.push_back(std::move(s));
            continue;
        }
        TLine line{std::string(raw), "", "", false};
        size_t eq = t.find('=');
        if (!t.empty() && t.front() != ';' && t.front() != '#' && eq != std::string_view::npos &&
            eq > 0) {
            line.Key = std::string(TrimSpaces(t.substr(0, eq)));
            line.Value = std::string(Unquote(TrimSpaces(t.substr(eq + 1))));
        }
        AddLine(Sections.back(), std::move(line));
    }
}

void TProfile::AddLine(TSection& s, TLine line) {
    if (!line.Key.empty()) s.KeyIndex.emplace(LowerAscii(line.Key), s.Lines.size());
    s.Lines.push_back(std::move(line));
}

std::string TProfile::Serialize() const {
    std::string out;
    for (const TSection& s : Sections)
        for (const TLine& line : s.Lines)
            if (!line.Deleted) {
                out += line.Raw;
                out += '\n';
            }
    return out;
}

bool TProfile::Save(const std::string& path, std::string* error) const {
    return ReplaceFileAtomically(path, Serialize(), error);
}

const TProfile::TLine* TProfile::Find(std::string_view section, std::string_view key) const {
    auto si = SectionIndex.find(LowerAscii(section));
    if (si == SectionIndex.end()) return nullptr;
    const TSection& s = Sections[si->second];
    auto ki = s.KeyIndex.find(LowerAscii(key));
    if (ki == s.KeyIndex.end()) return nullptr;
    return &s.Lines[ki->second];
}

std::optional<std::string> TProfile::Get(std::string_view section, std::string_view key) const {
    const TLine* line = Find(section, key);
    if (line == nullptr) return std::nullopt;
    return line->Value;
}

bool TProfile::Has(std::string_view section, std::string_view key) const {
    return Find(section, key) != nullptr;
}

std::string TProfile::GetString(std::string_view section, std::string_view key,
                                std::string_view defaultValue, size_t maxLength) const {
    const TLine* line = Find(section, key);
    std::string_view value = line ? std::string_view(line->Value) : defaultValue;
    return std::string(value.substr(0, maxLength));
}

int32_t TProfile::GetInt(std::string_view section, std::string_view key,
                         int32_t defaultValue) const {
    const TLine* line = Find(section, key);
    if (line == nullptr || line->Value.empty()) return defaultValue;
    std::string_view v = TrimSpaces(line->Value);
    bool negative = false;
    if (!v.empty() && (v.front() == '-' || v.front() == '+')) {
        negative = v.front() == '-';
        v.remove_prefix(1);
    }
    uint32_t n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') break;
        n = n * 10u + static_cast<uint32_t>(c - '0');
    }
    if (negative) n = 0u - n;
    return static_cast<int32_t>(n);
}

TProfile::TSection& TProfile::SectionFor(std::string_view section) {
    if (Sections.empty()) Sections.push_back(TSection{});
    std::string lower = LowerAscii(section);
    auto si = SectionIndex.find(lower);
    if (si != SectionIndex.end()) return Sections[si->second];
    // A new section follows a blank line unless the file is empty.
    if ((Sections.size() > 1 || !Sections[0].Lines.empty()) && !Sections.back().Lines.empty() &&
        !TrimSpaces(Sections.back().Lines.back().Raw).empty())
        Sections.back().Lines.push_back(TLine{"", "", "", false});
    TSection s;
    s.Name = std::string(section);
    s.Lines.push_back(TLine{Joined("[", section, "]"), "", "", false});
    SectionIndex.emplace(std::move(lower), Sections.size());
    Sections.push_back(std::move(s));
    return Sections.back();
}

void TProfile::Set(std::string_view section, std::string_view key, std::string_view value) {
    TSection& s = SectionFor(section);
    std::string lower = LowerAscii(key);
    auto ki = s.KeyIndex.find(lower);
    const std::string stored = StoredValue(value);
    const std::string readBack(Unquote(TrimSpaces(stored)));
    if (ki != s.KeyIndex.end()) {
        TLine& line = s.Lines[ki->second];
        line.Raw = Joined(line.Key, "=", stored);
        line.Value = readBack;
        return;
    }
    TLine line{Joined(key, "=", stored), std::string(key), readBack, false};
    // New keys go after the section's last non-blank line, so blank lines
    // that separate sections stay between them.
    size_t at = s.Lines.size();
    while (at > 1 && !s.Lines[at - 1].Deleted && TrimSpaces(s.Lines[at - 1].Raw).empty()) --at;
    if (at == s.Lines.size()) {
        AddLine(s, std::move(line));
        return;
    }
    s.Lines.insert(s.Lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    s.KeyIndex.clear();
    for (size_t i = 0; i < s.Lines.size(); ++i)
        if (!s.Lines[i].Key.empty() && !s.Lines[i].Deleted)
            s.KeyIndex.emplace(LowerAscii(s.Lines[i].Key), i);
}

void TProfile::SetInt(std::string_view section, std::string_view key, int32_t value) {
    char text[16];
    snprintf(text, sizeof text, "%ld", static_cast<long>(value));
    Set(section, key, text);
}

bool TProfile::Delete(std::string_view section, std::string_view key) {
    auto si = SectionIndex.find(LowerAscii(section));
    if (si == SectionIndex.end()) return false;
    TSection& s = Sections[si->second];
    std::string lower = LowerAscii(key);
    if (s.KeyIndex.erase(lower) == 0) return false;
    for (TLine& line : s.Lines)
        if (!line.Key.empty() && LowerAscii(line.Key) == lower) line.Deleted = true;
    return true;
}

std::vector<std::string> ReadNumberedList(const TProfile& profile, std::string_view section,
                                          size_t max) {
    std::vector<std::string> list;
    for (size_t i = 0; i < max; ++i) {
        std::string value = profile.GetString(section, std::to_string(i), "", NUMBERED_ENTRY_MAX);
        if (value.empty()) break;
        list.push_back(std::move(value));
    }
    return list;
}

void WriteNumberedList(TProfile& profile, std::string_view section,
                       const std::vector<std::string>& list, size_t max) {
    size_t n = std::min(list.size(), max);
    for (size_t i = 0; i < n; ++i)
        profile.Set(section, std::to_string(i),
                    std::string_view(list[i]).substr(0, NUMBERED_ENTRY_MAX));
    for (size_t i = n; i < max; ++i)
        if (!profile.Delete(section, std::to_string(i))) break;
}

}  // namespace zorvex
