// Character classes of the pattern matcher: a set of the 256 byte values,
// and the word delimiters that bound word patterns.
#pragma once

#include <cstdint>

namespace zorvex {

class TCharClass {
  public:
    void Add(unsigned char c) { Bits[c >> 6] |= uint64_t{1} << (c & 63); }
    bool Has(unsigned char c) const { return (Bits[c >> 6] >> (c & 63)) & 1; }
    void AddAll() { Bits[0] = Bits[1] = Bits[2] = Bits[3] = ~uint64_t{0}; }
    // c itself, and its other case when ignoreCase is set (ASCII letters).
    void AddLiteral(unsigned char c, bool ignoreCase);
    // White space and punctuation, but not '_', which belongs to words.
    void AddWordDelimiters();
    bool IsFull() const { return (Bits[0] & Bits[1] & Bits[2] & Bits[3]) == ~uint64_t{0}; }

  private:
    uint64_t Bits[4] = {0, 0, 0, 0};
};

bool IsWordDelimiter(unsigned char c);

}  // namespace zorvex
