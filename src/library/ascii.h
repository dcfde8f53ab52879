// ASCII case rules for protocol keywords, MIME values and file names: the
// locale never decides how a header or a name compares.
#pragma once

#include <cstdint>
#include <string>
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
constexpr bool IsAlphaAscii(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The blanks that separate words in protocol lines and list entries.
constexpr bool IsBlankAscii(char c) {
    return c == ' ' || c == '\t';
}
constexpr std::string_view TrimLeadingSpaces(std::string_view s) {
    while (!s.empty() && IsSpaceAscii(s.front())) s.remove_prefix(1);
    return s;
}
constexpr std::string_view TrimTrailingSpaces(std::string_view s) {
    while (!s.empty() && IsSpaceAscii(s.back())) s.remove_suffix(1);
    return s;
}
constexpr std::string_view TrimSpaces(std::string_view s) {
    return TrimTrailingSpaces(TrimLeadingSpaces(s));
}
constexpr std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlankAscii(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlankAscii(s.back())) s.remove_suffix(1);
    return s;
}

// Numbers read from the network and from files are clamped here, so that
// n + 1 and range arithmetic on them can never overflow.
constexpr int64_t DECIMAL_CLAMP = int64_t{1} << 62;

// value * 10 + digit, clamped to DECIMAL_CLAMP.
constexpr int64_t ClampedDigit(int64_t value, char digit) {
    return value >= (DECIMAL_CLAMP - 9) / 10 ? DECIMAL_CLAMP : value * 10 + (digit - '0');
}

// A decimal field as scanf's "%lld" reads it: white space, an optional
// sign, digits, clamped to DECIMAL_CLAMP. Consumes it from *text; false
// (nothing consumed) when no digit follows.
constexpr bool ReadClampedDecimal(std::string_view* text, int64_t* value) {
    std::string_view s = TrimLeadingSpaces(*text);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || !IsDigitAscii(s.front())) return false;
    int64_t v = 0;
    for (; !s.empty() && IsDigitAscii(s.front()); s.remove_prefix(1))
        v = ClampedDigit(v, s.front());
    *value = negative ? -v : v;
    *text = s;
    return true;
}

constexpr bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (ToLowerAscii(text[i]) != ToLowerAscii(prefix[i])) return false;
    return true;
}

inline std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = ToLowerAscii(c);
    return out;
}

constexpr bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
    return true;
}

}  // namespace zorvex
