// kernels_base64: decoding the leading whole base64 groups of a line. Owns
// the reference loop and the SSSE3 and AVX2 versions, which take 4 or 8
// groups at once: each character is checked and translated through
// nibble-indexed shuffles, and multiply-adds pack the 6-bit values into
// bytes.
//
// A vector block stops the prefix at its first bad character, rounded down
// to a whole group. The last few groups of a line are read through a window
// that ends with them and starts inside groups already done, so no read
// passes the end of the input; the output bytes of those earlier groups
// are written again with the same values.
#include <algorithm>
#include <cstring>

#include "decode/kernels.h"
#include "decode/kernels_impl.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace zorvex {

namespace {

constexpr uint8_t NOT_BASE64 = 0xFF;

struct TBase64Table {
    uint8_t Value[256];
};

constexpr TBase64Table MakeBase64Table() {
    TBase64Table t{};
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int c = 0; c < 256; ++c) t.Value[c] = NOT_BASE64;
    for (int v = 0; v < 64; ++v)
        t.Value[static_cast<uint8_t>(alphabet[v])] = static_cast<uint8_t>(v);
    return t;
}

constexpr TBase64Table BASE64 = MakeBase64Table();

}  // namespace

size_t Base64DecodeGroupsScalar(const char* in, size_t len, size_t maxGroups, uint8_t* out,
                                size_t* consumed) {
    const size_t limit = std::min(len / 4, maxGroups);
    size_t g = 0;
    for (; g < limit; ++g) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(in) + 4 * g;
        const uint32_t a = BASE64.Value[p[0]];
        const uint32_t b = BASE64.Value[p[1]];
        const uint32_t c = BASE64.Value[p[2]];
        const uint32_t d = BASE64.Value[p[3]];
        if (((a | b | c | d) & 0x80) != 0) break;  // NOT_BASE64 somewhere
        const uint32_t x = a << 18 | b << 12 | c << 6 | d;
        out[3 * g] = static_cast<uint8_t>(x >> 16);
        out[3 * g + 1] = static_cast<uint8_t>(x >> 8);
        out[3 * g + 2] = static_cast<uint8_t>(x);
    }
    *consumed = 4 * g;
    return 3 * g;
}

#if defined(__x86_64__)

namespace {

#define ZORVEX_TARGET_SSSE3 __attribute__((target("ssse3")))
#define ZORVEX_TARGET_AVX2 __attribute__((target("avx2")))

// Validity by nibbles: a character is in the alphabet exactly when the
// classes of its high nibble and the classes its low nibble is barred from
// have no bit in common. Classes: 1 = "+/" row (0x2_), 2 = digits row, 4 =
// rows 0x4_ and 0x6_ (not 0x40, 0x60), 8 = rows 0x5_ and 0x7_ (up to 0x5A,
// 0x7A), 16 = every other row.
#define ZORVEX_BASE64_BARRED \
    0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A
#define ZORVEX_BASE64_ROWS \
    0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10
// What to add to a character, by its row; "/" is moved to row 1 first since
// it shares row 0x2_ with "+".
#define ZORVEX_BASE64_SHIFT 0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0
// Three bytes of each packed 32-bit group, high first.
#define ZORVEX_BASE64_ORDER 2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1

// Translates 16 characters to their 6-bit values; *bad gets a bit for each
// character outside the alphabet.
ZORVEX_TARGET_SSSE3 inline __m128i Ssse3Values(__m128i c, uint32_t* bad) {
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i row = _mm_and_si128(_mm_srli_epi32(c, 4), nibble);
    const __m128i col = _mm_and_si128(c, nibble);
    const __m128i clash = _mm_and_si128(_mm_shuffle_epi8(_mm_setr_epi8(ZORVEX_BASE64_BARRED), col),
                                        _mm_shuffle_epi8(_mm_setr_epi8(ZORVEX_BASE64_ROWS), row));
    *bad = 0xFFFF ^
           static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(clash, _mm_setzero_si128())));
    const __m128i shiftRow = _mm_add_epi8(row, _mm_cmpeq_epi8(c, _mm_set1_epi8('/')));
    return _mm_add_epi8(c, _mm_shuffle_epi8(_mm_setr_epi8(ZORVEX_BASE64_SHIFT), shiftRow));
}

// Packs 4 groups of 6-bit values into 12 bytes at the bottom of the result.
ZORVEX_TARGET_SSSE3 inline __m128i Ssse3Pack(__m128i v) {
    const __m128i pairs = _mm_maddubs_epi16(v, _mm_set1_epi32(0x01400140));
    const __m128i groups = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
    return _mm_shuffle_epi8(groups, _mm_setr_epi8(ZORVEX_BASE64_ORDER));
}

ZORVEX_TARGET_SSSE3 inline void Store12(uint8_t* dst, __m128i r) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), r);
    const uint32_t last = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(r, 8)));
    std::memcpy(dst + 8, &last, 4);
}

ZORVEX_TARGET_AVX2 inline __m256i Avx2Values(__m256i c, uint32_t* bad) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i row = _mm256_and_si256(_mm256_srli_epi32(c, 4), nibble);
    const __m256i col = _mm256_and_si256(c, nibble);
    const __m256i clash = _mm256_and_si256(
        _mm256_shuffle_epi8(_mm256_setr_epi8(ZORVEX_BASE64_BARRED, ZORVEX_BASE64_BARRED), col),
        _mm256_shuffle_epi8(_mm256_setr_epi8(ZORVEX_BASE64_ROWS, ZORVEX_BASE64_ROWS), row));
    *bad = ~static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(clash, _mm256_setzero_si256())));
    const __m256i shiftRow = _mm256_add_epi8(row, _mm256_cmpeq_epi8(c, _mm256_set1_epi8('/')));
    return _mm256_add_epi8(
        c,
        _mm256_shuffle_epi8(_mm256_setr_epi8(ZORVEX_BASE64_SHIFT, ZORVEX_BASE64_SHIFT), shiftRow));
}

// Packs 8 groups into 24 bytes at the bottom of the result.
ZORVEX_TARGET_AVX2 inline __m256i Avx2Pack(__m256i v) {
    const __m256i pairs = _mm256_maddubs_epi16(v, _mm256_set1_epi32(0x01400140));
    const __m256i groups = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    const __m256i lanes =
        _mm256_shuffle_epi8(groups, _mm256_setr_epi8(ZORVEX_BASE64_ORDER, ZORVEX_BASE64_ORDER));
    return _mm256_permutevar8x32_epi32(lanes, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
}

ZORVEX_TARGET_AVX2 inline void Store24(uint8_t* dst, __m256i r) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(r));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), _mm256_extracti128_si256(r, 1));
}

// Whole valid groups among the first `groups` of a block.
inline size_t GoodGroups(uint32_t bad, size_t groups) {
    return bad == 0 ? groups : std::min<size_t>(groups, __builtin_ctz(bad) / 4);
}

}  // namespace

ZORVEX_TARGET_SSSE3 size_t Base64DecodeGroupsSsse3(const char* in, size_t len, size_t maxGroups,
                                                   uint8_t* out, size_t* consumed) {
    constexpr size_t BLOCK = 4;  // groups per vector
    const size_t limit = std::min(len / 4, maxGroups);
    size_t g = 0;
    alignas(16) uint8_t bytes[16];
    while (limit - g >= BLOCK) {
        uint32_t bad;
        const __m128i v =
            Ssse3Values(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * g)), &bad);
        const __m128i r = Ssse3Pack(v);
        if (bad != 0) {
            const size_t good = GoodGroups(bad, BLOCK);
            _mm_store_si128(reinterpret_cast<__m128i*>(bytes), r);
            std::memcpy(out + 3 * g, bytes, 3 * good);
            g += good;
            *consumed = 4 * g;
            return 3 * g;
        }
        Store12(out + 3 * g, r);
        g += BLOCK;
    }
    const size_t left = limit - g;
    if (left != 0) {
        uint32_t bad;
        __m128i r;
        size_t skip;  // groups of the block before the new ones
        if (limit >= BLOCK) {
            skip = BLOCK - left;
            const __m128i v = Ssse3Values(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * (g - skip))), &bad);
            bad >>= 4 * skip;
            r = Ssse3Pack(v);
        } else {
            skip = 0;
            alignas(16) char chars[16] = {};
            std::memcpy(chars, in, 4 * left);
            r = Ssse3Pack(
                Ssse3Values(_mm_load_si128(reinterpret_cast<const __m128i*>(chars)), &bad));
        }
        const size_t good = GoodGroups(bad, left);
        if (good == left && skip != 0) {
            Store12(out + 3 * (g - skip), r);
        } else {
            _mm_store_si128(reinterpret_cast<__m128i*>(bytes), r);
            std::memcpy(out + 3 * g, bytes + 3 * skip, 3 * good);
        }
        g += good;
    }
    *consumed = 4 * g;
    return 3 * g;
}

ZORVEX_TARGET_AVX2 size_t Base64DecodeGroupsAvx2(const char* in, size_t len, size_t maxGroups,
                                                 uint8_t* out, size_t* consumed) {
    constexpr size_t BLOCK = 8;
    const size_t limit = std::min(len / 4, maxGroups);
    size_t g = 0;
    alignas(32) uint8_t bytes[32];
    while (limit - g >= BLOCK) {
        uint32_t bad;
        const __m256i v =
            Avx2Values(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 4 * g)), &bad);
        const __m256i r = Avx2Pack(v);
        if (bad != 0) {
            const size_t good = GoodGroups(bad, BLOCK);
            _mm256_store_si256(reinterpret_cast<__m256i*>(bytes), r);
            std::memcpy(out + 3 * g, bytes, 3 * good);
            g += good;
            *consumed = 4 * g;
            return 3 * g;
        }
        Store24(out + 3 * g, r);
        g += BLOCK;
    }
    const size_t left = limit - g;
    if (left != 0) {
        uint32_t bad;
        __m256i r;
        size_t skip;
        if (limit >= BLOCK) {
            skip = BLOCK - left;
            const __m256i v = Avx2Values(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 4 * (g - skip))), &bad);
            bad >>= 4 * skip;
            r = Avx2Pack(v);
        } else {
            skip = 0;
            alignas(32) char chars[32] = {};
            std::memcpy(chars, in, 4 * left);
            r = Avx2Pack(
                Avx2Values(_mm256_load_si256(reinterpret_cast<const __m256i*>(chars)), &bad));
        }
        const size_t good = GoodGroups(bad, left);
        if (good == left && skip != 0) {
            Store24(out + 3 * (g - skip), r);
        } else {
            _mm256_store_si256(reinterpret_cast<__m256i*>(bytes), r);
            std::memcpy(out + 3 * g, bytes + 3 * skip, 3 * good);
        }
        g += good;
    }
    *consumed = 4 * g;
    return 3 * g;
}

#endif  // __x86_64__

}  // namespace zorvex
