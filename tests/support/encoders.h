// Test data and encoders written independently of the decoder: seeded noise,
// every byte value, a bitwise CRC-32 and a yEnc encoder that applies every
// escape rule. Header-only, so the benchmarks use them too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zorvex::test {

inline std::string Noise(size_t n, uint32_t seed) {
    std::string out(n, '\0');
    for (char& b : out) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<char>(seed >> 24);
    }
    return out;
}

inline std::string AllByteValues() {
    std::string out;
    for (int i = 0; i < 256; ++i) out.push_back(static_cast<char>(i));
    return out;
}

// Reflected, polynomial EDB88320, one bit at a time.
inline uint32_t BitwiseCrc32(std::string_view s) {
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : s) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

// yEnc data lines: NUL, LF, CR and "=" always escaped; TAB and space when
// first or last on a line; "." when first. A line ends once it has
// lineLength characters, so an escape may take it one over.
inline std::vector<std::string> YencDataLines(std::string_view data, size_t lineLength = 128) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < data.size(); ++i) {
        uint8_t c = static_cast<uint8_t>(data[i] + 42);
        const bool first = line.empty();
        const bool last = line.size() + 1 >= lineLength || i + 1 == data.size();
        if (c == 0 || c == '\n' || c == '\r' || c == '=' ||
            ((c == '\t' || c == ' ') && (first || last)) || (c == '.' && first)) {
            line += '=';
            c = static_cast<uint8_t>(c + 64);
        }
        line += static_cast<char>(c);
        if (line.size() >= lineLength) {
            lines.push_back(line);
            line.clear();
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

inline constexpr char XX_ALPHABET[] =
    "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
inline constexpr char B64_ALPHABET[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

enum class TUuStyle { BLANK, BACKQUOTE, XX };

inline char UuChar(int v, TUuStyle style) {
    if (style == TUuStyle::XX) return XX_ALPHABET[v];
    if (v == 0) return style == TUuStyle::BACKQUOTE ? '`' : ' ';
    return static_cast<char>(' ' + v);
}

// One uu/xx line: the length character and the groups, nothing dropped.
inline std::string UuLine(std::string_view bytes, TUuStyle style = TUuStyle::BLANK) {
    std::string line(1, UuChar(static_cast<int>(bytes.size()), style));
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint8_t b[3] = {};
        for (size_t k = 0; k < 3 && i + k < bytes.size(); ++k) b[k] = bytes[i + k];
        line += UuChar(b[0] >> 2, style);
        line += UuChar(((b[0] & 3) << 4) | (b[1] >> 4), style);
        line += UuChar(((b[1] & 15) << 2) | (b[2] >> 6), style);
        line += UuChar(b[2] & 63, style);
    }
    return line;
}

inline std::string Base64Line(std::string_view bytes) {
    std::string line;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        uint8_t b[3] = {};
        for (size_t k = 0; k < n; ++k) b[k] = bytes[i + k];
        line += B64_ALPHABET[b[0] >> 2];
        line += B64_ALPHABET[((b[0] & 3) << 4) | (b[1] >> 4)];
        line += n > 1 ? B64_ALPHABET[((b[1] & 15) << 2) | (b[2] >> 6)] : '=';
        line += n > 2 ? B64_ALPHABET[b[2] & 63] : '=';
    }
    return line;
}

}  // namespace zorvex::test
