// kernels_yenc: decoding the data characters of a yEnc line. Owns the
// reference loop and the vector versions: 16, 32 or 64 characters are
// subtracted at once, and the escape "=" characters are then squeezed out
// of the block (by shifts with SSE2, by shuffles from tables with AVX2, by
// VPCOMPRESSB with AVX-512).
//
// Escapes cross blocks: the last character of a block may be an "=" whose
// partner opens the next block, so each block hands a carry bit on. Output
// never runs ahead of input, which is what makes decoding in place work:
// a block's stores end at or before the next block's first character.
#include <cstring>

#include "decode/kernels.h"
#include "decode/kernels_impl.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace zorvex {

size_t YencDecodeDataScalar(const char* in, size_t len, uint8_t* out) {
    size_t o = 0;
    for (size_t i = 0; i < len; ++i) {
        if (in[i] == '=') {
            if (++i == len) break;  // a lone "=" at the end of the line
            out[o++] = static_cast<uint8_t>(in[i] - 106);
        } else {
            out[o++] = static_cast<uint8_t>(in[i] - 42);
        }
    }
    return o;
}

#if defined(__x86_64__)

namespace {

#define ZORVEX_TARGET_AVX2 __attribute__((target("avx2,popcnt")))
#define ZORVEX_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi2,popcnt")))

// Which "=" of a block are escapes (bit i = character i), given all the "="
// and whether character 0 is escaped by the block before. An escaped "=" is
// data, so runs of "=" alternate; real lines never hold "==" (an encoded "="
// is "=}"), so the loop is for hostile input only.
inline uint64_t EscapeChars(uint64_t eq, uint64_t carry) {
    if ((eq & ((eq << 1) | carry)) == 0) return eq;
    uint64_t escapes = 0;
    uint64_t escaped = carry;
    for (uint64_t rest = eq; rest != 0; rest &= rest - 1) {
        const uint64_t bit = rest & (~rest + 1);
        if ((escaped & bit) == 0) {
            escapes |= bit;
            escaped |= bit << 1;
        }
    }
    return escapes;
}

// SSE2 has no byte shuffle, but escapes are rare: each one is removed by
// blending the block with itself shifted down one byte above the escape,
// from the highest escape down so the lower positions stay put.
struct TShiftMasks {
    uint8_t Below[17][16];  // Below[p]: 0xFF in bytes 0..p-1
};

constexpr TShiftMasks MakeShiftMasks() {
    TShiftMasks t{};
    for (int p = 0; p <= 16; ++p) {
        for (int b = 0; b < 16; ++b) t.Below[p][b] = b < p ? 0xFF : 0;
    }
    return t;
}

alignas(16) constexpr TShiftMasks SHIFT_MASKS = MakeShiftMasks();

// Decodes one block of 16 into dst (16 bytes of room); returns the bytes
// produced and updates the carry.
inline size_t Sse2Block(__m128i v, uint64_t& carry, uint8_t* dst) {
    const __m128i eqv = _mm_cmpeq_epi8(v, _mm_set1_epi8('='));
    const uint64_t eq = static_cast<uint32_t>(_mm_movemask_epi8(eqv));
    __m128i d = _mm_sub_epi8(v, _mm_set1_epi8(42));
    if ((eq | carry) == 0) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), d);
        return 16;
    }
    const uint64_t esc = EscapeChars(eq, carry);
    __m128i escaped;
    if (esc == eq) {
        escaped = _mm_or_si128(_mm_slli_si128(eqv, 1), _mm_cvtsi32_si128(carry ? 0xFF : 0));
    } else {
        // Only for runs of "=": spell the escaped bytes out.
        alignas(16) uint8_t bytes[16];
        const uint64_t bits = esc << 1 | carry;
        for (int b = 0; b < 16; ++b) bytes[b] = (bits >> b & 1) ? 0xFF : 0;
        escaped = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
    }
    d = _mm_sub_epi8(d, _mm_and_si128(escaped, _mm_set1_epi8(64)));
    carry = esc >> 15 & 1;
    size_t removed = 0;
    for (uint64_t rest = esc; rest != 0; ++removed) {
        const int p = 63 - __builtin_clzll(rest);
        rest &= ~(uint64_t{1} << p);
        const __m128i below =
            _mm_load_si128(reinterpret_cast<const __m128i*>(SHIFT_MASKS.Below[p]));
        d = _mm_or_si128(_mm_and_si128(below, d), _mm_andnot_si128(below, _mm_srli_si128(d, 1)));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), d);
    return 16 - removed;
}

// For AVX2: shuffles that pack the kept bytes of a 16-byte lane to its
// front. Low[m] holds the kept positions of the first 8 bytes (m: those to
// drop) and zeros after them; High[m] holds 8 zeros, then the kept
// positions of the second 8 bytes plus 8, then zeros. Reading High[m] from
// 8 - k bytes in, where k is what the first half keeps, lines its positions
// up right after the first half's, so OR-ing the two gives the whole
// shuffle. The reads run up to 8 bytes past the last entry: the padding.
struct TPackTables {
    uint64_t Low[256];
    uint8_t High[256][16];
    uint8_t Padding[8];
};

constexpr TPackTables MakePackTables() {
    TPackTables t{};
    for (int m = 0; m < 256; ++m) {
        int k = 0;
        for (int b = 0; b < 8; ++b) {
            if ((m >> b & 1) == 0) {
                t.Low[m] |= uint64_t(b) << 8 * k;
                t.High[m][8 + k] = static_cast<uint8_t>(b + 8);
                ++k;
            }
        }
    }
    return t;
}

alignas(64) constexpr TPackTables PACK = MakePackTables();

// The shuffle for one lane, given the bytes it drops.
ZORVEX_TARGET_AVX2 inline __m128i LaneShuffle(uint32_t drop) {
    const uint32_t low = drop & 0xFF;
    const uint32_t high = drop >> 8 & 0xFF;
    const size_t keptLow = 8 - __builtin_popcount(low);
    const __m128i first = _mm_cvtsi64_si128(static_cast<long long>(PACK.Low[low]));
    const __m128i second =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(&PACK.High[high][8 - keptLow]));
    return _mm_or_si128(first, second);
}

// Decodes one block of 32 into dst (32 bytes of room); returns the bytes
// produced and updates the carry. Most blocks hold no "=" and skip the
// packing: measured, the table loads cost more than the branch's misses.
ZORVEX_TARGET_AVX2 inline size_t Avx2Block(__m256i v, uint64_t& carry, uint8_t* dst) {
    const uint64_t eq =
        static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('='))));
    __m256i d = _mm256_sub_epi8(v, _mm256_set1_epi8(42));
    if ((eq | carry) == 0) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), d);
        return 32;
    }
    const uint64_t esc = EscapeChars(eq, carry);
    const uint32_t escapedBits = static_cast<uint32_t>(esc << 1 | carry);
    carry = esc >> 31 & 1;
    // Spread the 32 escaped bits over the bytes: byte b tests bit b.
    __m256i escaped =
        _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(escapedBits)),
                            _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2,
                                             2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3));
    const __m256i bitOf = _mm256_set1_epi64x(0x8040201008040201ll);
    escaped = _mm256_cmpeq_epi8(_mm256_and_si256(escaped, bitOf), bitOf);
    d = _mm256_sub_epi8(d, _mm256_and_si256(escaped, _mm256_set1_epi8(64)));

    const uint32_t m = static_cast<uint32_t>(esc);
    const __m256i shuffle =
        _mm256_inserti128_si256(_mm256_castsi128_si256(LaneShuffle(m)), LaneShuffle(m >> 16), 1);
    d = _mm256_shuffle_epi8(d, shuffle);
    const size_t keptFirst = 16 - __builtin_popcount(m & 0xFFFF);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(d));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + keptFirst), _mm256_extracti128_si256(d, 1));
    return 32 - __builtin_popcount(m);
}

}  // namespace

size_t YencDecodeDataSse2(const char* in, size_t len, uint8_t* out) {
    size_t i = 0;
    size_t o = 0;
    uint64_t carry = 0;
    for (; i + 16 <= len; i += 16) {
        o += Sse2Block(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)), carry, out + o);
    }
    if (i < len) {
        // The rest through a zeroed block: zeros hold no "=", and the
        // bytes they give come after the real ones and are not copied.
        alignas(16) char tail[16] = {};
        alignas(16) uint8_t decoded[16];
        const size_t rest = len - i;
        std::memcpy(tail, in + i, rest);
        const size_t n =
            Sse2Block(_mm_load_si128(reinterpret_cast<const __m128i*>(tail)), carry, decoded);
        const size_t produced = n - (16 - rest);
        std::memcpy(out + o, decoded, produced);
        o += produced;
    }
    return o;
}

ZORVEX_TARGET_AVX2 size_t YencDecodeDataAvx2(const char* in, size_t len, uint8_t* out) {
    size_t i = 0;
    size_t o = 0;
    uint64_t carry = 0;
    for (; i + 32 <= len; i += 32) {
        o +=
            Avx2Block(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i)), carry, out + o);
    }
    if (i < len) {
        alignas(32) char tail[32] = {};
        alignas(32) uint8_t decoded[32];
        const size_t rest = len - i;
        std::memcpy(tail, in + i, rest);
        const size_t n =
            Avx2Block(_mm256_load_si256(reinterpret_cast<const __m256i*>(tail)), carry, decoded);
        const size_t produced = n - (32 - rest);
        std::memcpy(out + o, decoded, produced);
        o += produced;
    }
    return o;
}

ZORVEX_TARGET_AVX512 size_t YencDecodeDataAvx512(const char* in, size_t len, uint8_t* out) {
    const __m512i equals = _mm512_set1_epi8('=');
    const __m512i k42 = _mm512_set1_epi8(42);
    const __m512i k64 = _mm512_set1_epi8(64);
    size_t i = 0;
    size_t o = 0;
    uint64_t carry = 0;
    for (; i + 64 <= len; i += 64) {
        const __m512i v = _mm512_loadu_si512(in + i);
        const uint64_t esc = EscapeChars(_mm512_cmpeq_epi8_mask(v, equals), carry);
        const uint64_t escaped = esc << 1 | carry;
        carry = esc >> 63;
        __m512i d = _mm512_sub_epi8(v, k42);
        d = _mm512_mask_sub_epi8(d, escaped, d, k64);
        // Register form: the store form of VPCOMPRESSB is slow on some
        // cores, and a full 64-byte store is safe here since o <= i.
        d = _mm512_maskz_compress_epi8(~esc, d);
        _mm512_storeu_si512(out + o, d);
        o += 64 - __builtin_popcountll(esc);
    }
    if (i < len) {
        // Masked load and store: nothing outside in[0, len) is touched.
        const size_t rest = len - i;
        const __m512i v = _mm512_maskz_loadu_epi8(~uint64_t{0} >> (64 - rest), in + i);
        const uint64_t esc = EscapeChars(_mm512_cmpeq_epi8_mask(v, equals), carry);
        __m512i d = _mm512_sub_epi8(v, k42);
        d = _mm512_mask_sub_epi8(d, esc << 1 | carry, d, k64);
        d = _mm512_maskz_compress_epi8(~esc, d);
        const size_t produced = rest - __builtin_popcountll(esc);
        _mm512_mask_storeu_epi8(out + o, (uint64_t{1} << produced) - 1, d);
        o += produced;
    }
    return o;
}

#endif  // __x86_64__

}  // namespace zorvex
