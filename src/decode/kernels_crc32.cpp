// kernels_crc32: the CRC-32 of yEnc trailers and zlib. Owns the reference
// (a byte at a time through one table), the call into zlib, and the
// PCLMULQDQ version, which folds 16-byte blocks forward by carry-less
// multiplication and reduces the last one by Barrett's method; only the
// odd bytes of short or ragged pieces go through tables.
//
// Folding works on polynomials modulo P: a block that stands F bits before
// the end of what is folded so far contributes its value times x^F, and
// for the two 64-bit halves of a block that is two multiplications by
// constants x^n mod P. The constants are worked out here at compile time.
#include <zlib.h>

#include <cstring>

#include "decode/kernels.h"
#include "decode/kernels_impl.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace zorvex {

namespace {

constexpr uint32_t CRC_POLY = 0xEDB88320u;  // reflected: bit 31 is x^0

// Table k gives the register after a byte followed by k zero bytes, so
// eight bytes can go through eight independent lookups.
struct TCrcTables {
    uint32_t T[8][256];
};

constexpr TCrcTables MakeCrcTables() {
    TCrcTables t{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int b = 0; b < 8; ++b) c = (c >> 1) ^ ((c & 1) != 0 ? CRC_POLY : 0);
        t.T[0][n] = c;
    }
    for (int k = 1; k < 8; ++k) {
        for (uint32_t n = 0; n < 256; ++n) {
            t.T[k][n] = (t.T[k - 1][n] >> 8) ^ t.T[0][t.T[k - 1][n] & 0xFF];
        }
    }
    return t;
}

alignas(64) constexpr TCrcTables CRC_TABLES = MakeCrcTables();

}  // namespace

uint32_t Crc32UpdateScalar(uint32_t crc, const uint8_t* data, size_t len) {
    uint32_t c = ~crc;
    for (size_t i = 0; i < len; ++i) c = CRC_TABLES.T[0][(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return ~c;
}

uint32_t Crc32UpdateZlib(uint32_t crc, const uint8_t* data, size_t len) {
    // zlib answers 0 for a null buffer, whatever the running value.
    if (len == 0) return crc;
    return static_cast<uint32_t>(crc32_z(crc, data, len));
}

#if defined(__x86_64__)

namespace {

#define ZORVEX_TARGET_PCLMUL __attribute__((target("pclmul,sse2")))

// The register (not inverted) after the bytes, eight at a time. Little
// endian, as x86 is.
inline uint32_t CrcSlice8(uint32_t c, const uint8_t* p, size_t n) {
    const auto& t = CRC_TABLES.T;
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        w ^= c;
        c = t[7][w & 0xFF] ^ t[6][w >> 8 & 0xFF] ^ t[5][w >> 16 & 0xFF] ^ t[4][w >> 24 & 0xFF] ^
            t[3][w >> 32 & 0xFF] ^ t[2][w >> 40 & 0xFF] ^ t[1][w >> 48 & 0xFF] ^ t[0][w >> 56];
    }
    for (; n != 0; ++p, --n) c = t[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    return c;
}

// x^n mod P as the multiplier for one 64-bit half: bit-reflected, so its
// 32 coefficients sit in the upper half of the operand.
constexpr uint64_t XPowMod(unsigned n) {
    uint32_t r = 0x80000000u;  // x^0
    for (unsigned i = 0; i < n; ++i) r = (r >> 1) ^ ((r & 1) != 0 ? CRC_POLY : 0);
    return uint64_t{r} << 32;
}

// Moving a block F bits on: its first half (the high powers) times x^(F+64)
// and its second half times x^F. A reflected carry-less product comes out
// multiplied by x once more, hence the exponents one lower. FOLD[j] moves
// a block j blocks (128*j bits) on. Up to DIRECT blocks are folded each
// straight to the end.
constexpr size_t DIRECT = 8;

struct TFoldConstants {
    uint64_t High[DIRECT];
    uint64_t Low[DIRECT];
};

constexpr TFoldConstants MakeFoldConstants() {
    TFoldConstants k{};
    for (unsigned j = 1; j < DIRECT; ++j) {
        k.High[j] = XPowMod(128 * j + 63);
        k.Low[j] = XPowMod(128 * j - 1);
    }
    return k;
}

constexpr TFoldConstants FOLD = MakeFoldConstants();

ZORVEX_TARGET_PCLMUL inline __m128i Fold(__m128i x, size_t blocks) {
    const __m128i k = _mm_set_epi64x(static_cast<long long>(FOLD.Low[blocks]),
                                     static_cast<long long>(FOLD.High[blocks]));
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

ZORVEX_TARGET_PCLMUL inline __m128i Load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The last 128 bits s(x) give the register s(x) * x^32 mod P. Two folds take
// s(x) * x^32 down to 64 bits w(x), and Barrett reduction finds the
// quotient of w(x) by P from its top 32 bits times MU = x^64 / P, so that
// the remainder is the low 32 bits of w(x) + quotient * P.
constexpr uint64_t P_NORMAL = 0x104C11DB7ull;  // bit n is x^n

// x^n (n <= 32) at bit 63 - n: the operand form of a polynomial.
constexpr uint64_t Operand(uint64_t normal) {
    uint64_t r = 0;
    for (int n = 0; n <= 32; ++n) r |= ((normal >> n) & 1) << (63 - n);
    return r;
}

constexpr uint64_t BarrettMu() {
    // x^64 = x^32 * P + x^32 * (P - x^32): the first quotient bit, then long
    // division of the rest.
    uint64_t q = uint64_t{1} << 32;
    uint64_t r = (P_NORMAL ^ (uint64_t{1} << 32)) << 32;
    for (int d = 31; d >= 0; --d) {
        if ((r >> (32 + d) & 1) != 0) {
            q |= uint64_t{1} << d;
            r ^= P_NORMAL << d;
        }
    }
    return q;
}

static_assert(Operand(P_NORMAL) == (uint64_t{CRC_POLY} << 32 | 0x80000000u));

constexpr uint64_t REDUCE_96 = XPowMod(95);
constexpr uint64_t REDUCE_64 = XPowMod(63);
constexpr uint64_t MU = Operand(BarrettMu());
constexpr uint64_t P_OPERAND = Operand(P_NORMAL);

// All in vector registers: moving values to general registers and back
// would lengthen the chain that every call waits on.
ZORVEX_TARGET_PCLMUL inline uint32_t Reduce(__m128i x) {
    // s * x^32 = first half * x^96 + second half * x^32: 96 bits.
    const __m128i k =
        _mm_set_epi64x(static_cast<long long>(REDUCE_64), static_cast<long long>(REDUCE_96));
    const __m128i v =
        _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_slli_si128(_mm_srli_si128(x, 8), 4));
    // Its top 32 bits times x^64: w, 64 bits, all in the upper half.
    const __m128i w = _mm_xor_si128(_mm_clmulepi64_si128(v, k, 0x10), v);
    const __m128i barrett =
        _mm_set_epi64x(static_cast<long long>(P_OPERAND), static_cast<long long>(MU));
    // The quotient from the top of w; it comes out one bit low.
    const __m128i top = _mm_and_si128(w, _mm_set_epi64x(0xFFFFFFFFll, 0));
    __m128i q = _mm_slli_epi64(_mm_clmulepi64_si128(top, barrett, 0x01), 1);
    q = _mm_and_si128(q, _mm_set_epi64x(0, static_cast<long long>(0xFFFFFFFF00000000ull)));
    // The remainder: low 32 bits of w plus those of quotient * P.
    const __m128i qp = _mm_clmulepi64_si128(q, barrett, 0x10);
    const __m128i r = _mm_xor_si128(_mm_srli_epi64(w, 32), _mm_srli_epi64(qp, 31));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(r, 8)));
}

}  // namespace

ZORVEX_TARGET_PCLMUL uint32_t Crc32UpdatePclmul(uint32_t crc, const uint8_t* data, size_t len) {
    uint32_t c = ~crc;
    if (len < 32) return ~CrcSlice8(c, data, len);
    // The odd bytes first, so that the rest is whole blocks.
    const size_t head = len & 15;
    c = CrcSlice8(c, data, head);
    data += head;
    len -= head;
    // The running register joins the message in its first four bytes.
    const __m128i first = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(c)));
    // Each block moves straight to the last one's place, all at once rather
    // than one after another; the first block, which waits for the running
    // value, comes in last. That is what keeps a line's worth quick.
    __m128i x;
    if (len > 16 * DIRECT) {
        // Four chains side by side hide the multiplier's latency.
        __m128i x0 = first;
        __m128i x1 = Load(data + 16);
        __m128i x2 = Load(data + 32);
        __m128i x3 = Load(data + 48);
        for (data += 64, len -= 64; len >= 64; data += 64, len -= 64) {
            x0 = _mm_xor_si128(Fold(x0, 4), Load(data));
            x1 = _mm_xor_si128(Fold(x1, 4), Load(data + 16));
            x2 = _mm_xor_si128(Fold(x2, 4), Load(data + 32));
            x3 = _mm_xor_si128(Fold(x3, 4), Load(data + 48));
        }
        const size_t rest = len / 16;  // 0 to 3 blocks after the chains
        x = _mm_xor_si128(Fold(x0, rest + 3), Fold(x1, rest + 2));
        x = _mm_xor_si128(x, Fold(x2, rest + 1));
        x = _mm_xor_si128(x, rest == 0 ? x3 : Fold(x3, rest));
        for (size_t k = 0; k < rest; ++k) {
            const __m128i block = Load(data + 16 * k);
            x = _mm_xor_si128(x, k + 1 == rest ? block : Fold(block, rest - 1 - k));
        }
    } else {
        const size_t blocks = len / 16;  // 2 to DIRECT
        x = Load(data + len - 16);
        for (size_t k = 1; k + 1 < blocks; ++k) {
            x = _mm_xor_si128(x, Fold(Load(data + 16 * k), blocks - 1 - k));
        }
        x = _mm_xor_si128(x, Fold(first, blocks - 1));
    }
    return ~Reduce(x);
}

#endif  // __x86_64__

}  // namespace zorvex
