// String hash for the hashed string tables: a shift-and-add over the bytes,
// mixed with a fixed table of 256 distinct 16-bit values. The values only
// decide bucket order; no stored file ever holds a hash.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zorvex {

// Hash of a NUL-terminated text; a null text hashes as the empty text (0).
uint32_t HashString(const char* text);

// Hash of the first len bytes of text (NULs included).
uint32_t HashString(const char* text, size_t len);

// Hash of a NUL-terminated text, also storing its length in *len.
uint32_t HashString(const char* text, size_t* len);

// The mixing value for byte b, sign-extended from 16 bits.
uint32_t HashTableValue(unsigned char b);

}  // namespace zorvex
