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

}  // namespace zorvex::test
