// ASCII case rules for protocol keywords, MIME values and file names: the
// locale never decides how a header or a name compares.
#pragma once

#include <string_view>

namespace zorvex {

constexpr char ToLowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char ToUpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// White space as the C locale has it; the locale never decides how a
// protocol line is read.
constexpr bool IsSpaceAscii(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
constexpr bool IsDigitAscii(char c) {
    return c >= '0' && c <= '9';
}

// The blanks that separate words in protocol lines and list entries.
constexpr bool IsBlankAscii(char c) {
    return c == ' ' || c == '\t';
}
constexpr std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlankAscii(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlankAscii(s.back())) s.remove_suffix(1);
    return s;
}

constexpr bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
    return true;
}

}  // namespace zorvex
