#include "library/hash.h"

#include <array>

namespace zorvex {
namespace {

// 40503 is odd, so i -> i*40503 + 12345 is a bijection modulo 2^16 and the
// 256 values are distinct. Bit 15 is spread into the upper half on purpose.
constexpr std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t v = (i * 40503u + 12345u) & 0xFFFFu;
        t[i] = (v & 0x8000u) ? (v | 0xFFFF0000u) : v;
    }
    return t;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

inline uint32_t Step(uint32_t h, unsigned char b) {
    return ((h >> 15) + 2u * h) ^ kTable[b];
}

}  // namespace

uint32_t HashString(const char* text) {
    uint32_t h = 0;
    if (text == nullptr) return h;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        h = Step(h, *p);
    }
    return h;
}

uint32_t HashString(const char* text, size_t len) {
    uint32_t h = 0;
    if (text == nullptr) return h;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < len; ++i) h = Step(h, p[i]);
    return h;
}

uint32_t HashString(const char* text, size_t* len) {
    uint32_t h = 0;
    if (text == nullptr) {
        *len = 0;
        return h;
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* s = p;
    for (; *p; ++p) h = Step(h, *p);
    *len = static_cast<size_t>(p - s);
    return h;
}

uint32_t HashTableValue(unsigned char b) {
    return kTable[b];
}

}  // namespace zorvex
