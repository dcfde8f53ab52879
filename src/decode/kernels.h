// kernels: the byte loops the article decoder spends its time in. Owns yEnc
// line data decoding, whole-group base64 decoding and the CRC-32 of yEnc
// and zlib, each as a plain reference loop and as fast versions that one
// run-time check per kernel chooses between (AVX-512, AVX2, SSE2/SSSE3 and
// PCLMULQDQ on x86-64; the reference loops, and zlib for the CRC, elsewhere).
//
// Inputs are network data: every kernel reads only in[0, len) and writes
// only the output room stated below, whatever the bytes are.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zorvex {

// yEnc data of one line (not a "=y..." keyword line): each character c gives
// the byte (c - 42) mod 256; an escape "=" is dropped and the character after
// it gives (c - 106) mod 256; a lone "=" at the very end of the line produces
// nothing. No other check. out must have room for len bytes; out may also be
// in itself (decoding in place), but no other overlap. Returns the number of
// bytes produced.
size_t YencDecodeData(const char* in, size_t len, uint8_t* out);

// The longest prefix of whole 4-character base64 groups that contain only
// characters of the alphabet "A-Za-z0-9+/" (no "=", no other byte), at most
// maxGroups groups. Writes 3 bytes per group to out (room for 3*maxGroups,
// or 3*(len/4) if that is less; in and out must not overlap), sets
// *consumed to the number of characters used (a multiple of 4) and returns
// the number of bytes produced (3 * groups). The caller decodes the rest of
// the line (padding, errors) itself.
size_t Base64DecodeGroups(const char* in, size_t len, size_t maxGroups, uint8_t* out,
                          size_t* consumed);

// CRC-32 as zlib/yEnc compute it (reflected polynomial 0xEDB88320, initial
// value 0, so Crc32Update(0, "123456789", 9) == 0xCBF43926). Continue a
// running value by passing it back in.
uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t len);

// Which implementation the run-time dispatch chose, for benchmark reports:
// "avx512", "avx2", "sse2", "ssse3", "scalar", "pclmul" or "zlib".
const char* YencKernelName();
const char* Base64KernelName();
const char* Crc32KernelName();

// The references: byte at a time, straight from the rules above. Every fast
// version must give exactly what these give.
size_t YencDecodeDataScalar(const char* in, size_t len, uint8_t* out);
size_t Base64DecodeGroupsScalar(const char* in, size_t len, size_t maxGroups, uint8_t* out,
                                size_t* consumed);
uint32_t Crc32UpdateScalar(uint32_t crc, const uint8_t* data, size_t len);

}  // namespace zorvex
