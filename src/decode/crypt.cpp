#include "decode/crypt.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "library/fileio.h"

namespace zorvex {

// Row by row as laid out: sixteen entries, two lines each.
// clang-format off
const uint16_t KeyTable[256] = {
    // 0_
    0x4488, 0x573A, 0x16E8, 0x6417, 0x2312, 0x8E8B, 0xD755, 0x1F3C,
    0xBC84, 0xAE33, 0x1E7B, 0xF0FB, 0xA417, 0x89F9, 0x91A1, 0x5FF6,
    // 1_
    0xB7D8, 0x68D5, 0x0719, 0x9CE4, 0xB15A, 0x8850, 0x86FF, 0xB698,
    0x199E, 0x9021, 0xFD52, 0x4434, 0x8C3F, 0x9206, 0xA93A, 0xC1A7,
    // 2_
    0x75E3, 0x71E1, 0x9591, 0x1A6E, 0xB9DF, 0xD214, 0xA6B5, 0x1E89,
    0xEB2A, 0xE020, 0x0991, 0xDDBB, 0x0486, 0x9D7A, 0x0FE6, 0x2509,
    // 3_
    0xCBEA, 0x80AE, 0xC5DE, 0x9A6A, 0x4D33, 0x8AB8, 0xCCD4, 0x32D5,
    0x180D, 0x2C9F, 0x4760, 0xFE6A, 0x2D1D, 0x9954, 0xE29F, 0x8700,
    // 4_
    0xC671, 0x5FCB, 0x48CB, 0x3CD1, 0x672B, 0x6959, 0x88F8, 0xAD81,
    0xDE69, 0xB84D, 0x402B, 0x8157, 0x2979, 0x82D3, 0x8FA2, 0x7AB5,
    // 5_
    0x613B, 0x8607, 0x2C61, 0xF3D8, 0x1ED8, 0xAD55, 0x13FA, 0x96D8,
    0x03A2, 0x6A1A, 0xB29E, 0x4BD8, 0x504C, 0x5776, 0x8669, 0x998E,
    // 6_
    0xB74B, 0x0670, 0x8BEB, 0xF3F8, 0xD68D, 0x0E4F, 0xFFF4, 0xB55E,
    0x045B, 0xBD34, 0x42A3, 0xBD84, 0x5B89, 0x04FD, 0xE7AF, 0xF332,
    // 7_
    0x32E5, 0x8056, 0x3FF6, 0x23E8, 0x6BDE, 0xAC21, 0xE843, 0xFDDA,
    0x4475, 0xB10A, 0x2966, 0x2034, 0x9863, 0x5964, 0x3570, 0x7D8A,
    // 8_
    0xBD89, 0x0F48, 0x8E4B, 0x8C9D, 0x679E, 0xFEEE, 0x2183, 0x0356,
    0x3F15, 0xB94B, 0xE550, 0x17FD, 0x174E, 0xF2ED, 0x02E5, 0x84BA,
    // 9_
    0xEFFD, 0x3B15, 0xD9F6, 0xC94F, 0x2DE0, 0xC713, 0x698D, 0x6716,
    0xB69D, 0xADE7, 0xEA0E, 0x1337, 0xDBFA, 0x3017, 0xA48A, 0x1B2B,
    // A_
    0x4244, 0xE7CB, 0x5342, 0x7776, 0x2DF7, 0xFD30, 0x977C, 0x48A1,
    0xE4B1, 0xBB0C, 0x508B, 0xBA77, 0x0D5F, 0x1F9F, 0xE01A, 0x8983,
    // B_
    0x3B9F, 0x45BB, 0xA7B9, 0xA6C8, 0x1275, 0xC223, 0x4BAC, 0xB5BF,
    0xAA34, 0x512A, 0x86F1, 0x6098, 0x25AC, 0x7085, 0x9C90, 0xBEA9,
    // C_
    0xA291, 0xC171, 0xB228, 0x493C, 0xF12D, 0x4F0C, 0x9FB8, 0x1A79,
    0xBF48, 0x14EE, 0x00AC, 0x72AD, 0x2255, 0x6208, 0x9228, 0xBFC5,
    // D_
    0xACDF, 0xF3BF, 0x2A99, 0xA308, 0x7B34, 0xE549, 0xD67A, 0xB111,
    0xE350, 0xCF48, 0xE664, 0xE80F, 0xB40D, 0xB3A7, 0xFA5B, 0x183F,
    // E_
    0x2F8B, 0x91B2, 0x5656, 0xBAA5, 0x2CDB, 0xBE7A, 0x0C0E, 0xF212,
    0x0CF1, 0x5D69, 0xC608, 0xB255, 0x6EC8, 0x9521, 0x3FE6, 0x49BA,
    // F_
    0xCED7, 0x5C9B, 0xB7EB, 0xC8CA, 0x7DB6, 0xFC7D, 0xE5CD, 0x0443,
    0x9A0A, 0xA0BD, 0x42C2, 0x2D56, 0xF9B8, 0x9675, 0xAEC2, 0x3C20,
};
// clang-format on

namespace {

constexpr char KIND1_MAGIC[8] = {'K', 'V', 'E', 'N', 'C', '\n', 0, 0};
constexpr char KIND2_MAGIC[8] = {'K', 'V', 'E', 'N', '1', '\n', 0, 0};
// The magic and the NUL after it identify a header; the eighth byte is not examined.
constexpr size_t MAGIC_MATCH = 7;
constexpr size_t STREAM_ENTRIES = CRYPT_STREAM_SIZE / 2;
constexpr int ROTATIONS = 7;
// Fixed part of a kind-2 header: magic, key check, checksum and the three lengths.
constexpr uint64_t KIND2_FIXED = 28;
constexpr uint32_t KIND2_MAX_NOTE = 256;

std::string_view AsText(std::string_view text) {
    size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

uint32_t KeyCheckOf(std::string_view key) {
    uint32_t sum = 0;
    for (unsigned char c : key) sum += c;
    return sum & 0xFF;
}

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void WriteLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

uint8_t RotateLeft(uint8_t c, int r) {
    return r == 0 ? c : static_cast<uint8_t>(c << r | c >> (8 - r));
}

void BuildKeyStream(CryptState& state) {
    // An empty working key acts as the one byte 0, whose every rotation is 0:
    // the stream is KeyTable[0] repeated, and nothing past the key is read.
    const std::string& key = state.WorkingKey;
    const size_t len = key.size();
    size_t p = 0;
    int r = 0;
    for (size_t n = 0; n < STREAM_ENTRIES; ++n) {
        uint8_t c = len ? static_cast<uint8_t>(key[p]) : 0;
        uint16_t entry = KeyTable[RotateLeft(c, r)];
        state.KeyStream[2 * n] = static_cast<uint8_t>(entry);
        state.KeyStream[2 * n + 1] = static_cast<uint8_t>(entry >> 8);
        if (++p >= len) {
            p = 0;
            r = (r + 1) % ROTATIONS;
        }
    }
    std::memcpy(state.KeyStream + CRYPT_STREAM_SIZE, state.KeyStream, CRYPT_STREAM_SIZE);
    state.Cursor = 0;
    state.KeyStreamBuilt = true;
}

// XORs n <= 256 bytes with the stream bytes at ks and returns the sum of
// the plain bytes. Eight bytes at a time; the sum runs in four 16-bit lanes.
template <bool ENCRYPT>
uint32_t XorChunk(uint8_t* __restrict buf, const uint8_t* __restrict ks, size_t n) {
    constexpr uint64_t LOW_BYTES = 0x00FF00FF00FF00FFull;
    uint64_t lanes = 0;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        uint64_t k;
        std::memcpy(&w, buf + i, 8);
        std::memcpy(&k, ks + i, 8);
        const uint64_t out = w ^ k;
        std::memcpy(buf + i, &out, 8);
        const uint64_t plain = ENCRYPT ? w : out;
        lanes += (plain & LOW_BYTES) + ((plain >> 8) & LOW_BYTES);
    }
    // At most 32 words: a lane holds at most 32 * 510 and all four together
    // stay below 65536, so one multiply gathers them in the top lane.
    uint32_t sum = static_cast<uint32_t>((lanes * 0x0001000100010001ull) >> 48);
    for (; i < n; ++i) {
        const uint8_t plainIn = buf[i];
        const uint8_t out = plainIn ^ ks[i];
        buf[i] = out;
        sum += ENCRYPT ? plainIn : out;
    }
    return sum;
}

template <bool ENCRYPT>
void Transform(CryptState& state, uint8_t* buf, size_t len) {
    if (!state.KeyStreamBuilt) BuildKeyStream(state);
    size_t cursor = state.Cursor % CRYPT_STREAM_SIZE;
    uint32_t sum = 0;
    while (len > 0) {
        const size_t n = len < CRYPT_STREAM_SIZE ? len : CRYPT_STREAM_SIZE;
        sum += XorChunk<ENCRYPT>(buf, state.KeyStream + cursor, n);
        cursor = (cursor + n) % CRYPT_STREAM_SIZE;
        buf += n;
        len -= n;
    }
    state.Cursor = cursor;
    if (ENCRYPT) {
        state.Checksum += sum;
    } else {
        state.Checksum -= sum;
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

}  // namespace

void CryptInit(CryptState& state, std::string_view key, int kind) {
    key = AsText(key);
    state.Kind = kind == 2 ? 2 : 1;
    std::memcpy(state.Magic, state.Kind == 2 ? KIND2_MAGIC : KIND1_MAGIC, sizeof state.Magic);
    state.KeyCheck = KeyCheckOf(key);
    state.Checksum = 0;
    state.UserKey.assign(key);
    state.WorkingKey.assign(key);
    std::memset(state.KeyStream, 0, sizeof state.KeyStream);
    state.Cursor = 0;
    state.KeyStreamBuilt = false;
    std::memset(state.InnerKey, 0, sizeof state.InnerKey);
}

void CryptEncrypt(CryptState& state, uint8_t* buf, size_t len) {
    Transform<true>(state, buf, len);
}

void CryptDecrypt(CryptState& state, uint8_t* buf, size_t len) {
    Transform<false>(state, buf, len);
}

void CryptFormatHeader(const CryptState& state, uint8_t out[CRYPT_HEADER_SIZE]) {
    std::memset(out, 0, CRYPT_HEADER_SIZE);
    std::memcpy(out, KIND1_MAGIC, sizeof KIND1_MAGIC);
    WriteLe32(out + 8, state.KeyCheck);
    WriteLe32(out + 12, state.Checksum);
}

bool CryptWriteHeader(const CryptState& state, int fd) {
    uint8_t header[CRYPT_HEADER_SIZE];
    CryptFormatHeader(state, header);
    return WriteAll(fd, header, sizeof header);
}

// Where the layout leaves a choice: a kind-2 header whose total length
// 28+L1+L2+X (unsigned, summed in 64 bits) runs past the bytes given, or
// past INT_MAX, is not a header we can read (not encrypted); an inner key
// that deciphers to an empty text could only give the KeyTable[0] stream,
// so it is refused as a bad key.
int CryptReadHeader(CryptState& state, std::string_view key, const uint8_t* bytes, size_t count) {
    if (bytes == nullptr || count < sizeof KIND1_MAGIC) return CRYPT_NOT_ENCRYPTED;
    key = AsText(key);
    if (std::memcmp(bytes, KIND1_MAGIC, MAGIC_MATCH) == 0) {
        if (key.empty()) return CRYPT_BAD_KEY;
        if (count < CRYPT_HEADER_SIZE) return CRYPT_NOT_ENCRYPTED;
        CryptInit(state, key, 1);
        state.KeyCheck = ReadLe32(bytes + 8);
        state.Checksum = ReadLe32(bytes + 12);
        if (KeyCheckOf(key) != state.KeyCheck) return CRYPT_BAD_KEY;
        return static_cast<int>(CRYPT_HEADER_SIZE);
    }
    if (std::memcmp(bytes, KIND2_MAGIC, MAGIC_MATCH) == 0) {
        if (key.empty()) return CRYPT_BAD_KEY;
        if (count < KIND2_FIXED) return CRYPT_NOT_ENCRYPTED;
        const uint64_t l1 = ReadLe32(bytes + 16);
        if (l1 > CRYPT_INNER_KEY_SIZE || count < l1 + KIND2_FIXED) return CRYPT_NOT_ENCRYPTED;
        const uint64_t l2 = ReadLe32(bytes + 20 + l1);
        if (l2 > KIND2_MAX_NOTE || count < l1 + l2 + KIND2_FIXED) return CRYPT_NOT_ENCRYPTED;
        const uint64_t x = ReadLe32(bytes + 24 + l1 + l2);
        const uint64_t total = KIND2_FIXED + l1 + l2 + x;
        if (total > count || total > static_cast<uint64_t>(INT_MAX)) return CRYPT_NOT_ENCRYPTED;

        // The inner key area is deciphered whole, the bytes past L1 as zeros.
        uint8_t inner[CRYPT_INNER_KEY_SIZE] = {};
        std::memcpy(inner, bytes + 20, l1);
        CryptState outer;
        CryptInit(outer, key, 1);
        CryptDecrypt(outer, inner, sizeof inner);

        CryptInit(state, key, 2);
        state.KeyCheck = ReadLe32(bytes + 8);
        state.Checksum = ReadLe32(bytes + 12);
        std::memcpy(state.InnerKey, inner, sizeof inner);
        state.InnerKey[CRYPT_INNER_KEY_SIZE] = '\0';
        state.WorkingKey.assign(state.InnerKey, strnlen(state.InnerKey, CRYPT_INNER_KEY_SIZE));
        if (KeyCheckOf(key) != state.KeyCheck) return CRYPT_BAD_KEY;
        if (state.WorkingKey.empty()) return CRYPT_BAD_KEY;
        std::fprintf(stderr, "%d %d %d\n", static_cast<int>(l1), static_cast<int>(x),
                     static_cast<int>(l2));
        return static_cast<int>(total);
    }
    return CRYPT_NOT_ENCRYPTED;
}

bool CryptChecksumOk(const CryptState& state) {
    return state.Checksum == 0;
}

std::string EncodeStoredKey(std::string_view text, std::string_view phrase) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    std::string bytes(AsText(text));
    CryptState state;
    CryptInit(state, phrase, 1);
    CryptEncrypt(state, reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
    std::string hex;
    hex.reserve(2 * bytes.size());
    for (unsigned char b : bytes) {
        hex.push_back(DIGITS[b >> 4]);
        hex.push_back(DIGITS[b & 0x0F]);
    }
    return hex;
}

std::string DecodeStoredKey(std::string_view hex, std::string_view phrase) {
    hex = AsText(hex);
    std::string bytes(hex.size() / 2, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(HexValue(hex[2 * i]) << 4 | HexValue(hex[2 * i + 1]));
    }
    CryptState state;
    CryptInit(state, phrase, 1);
    CryptDecrypt(state, reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
    bytes.resize(strnlen(bytes.data(), bytes.size()));
    return bytes;
}

}  // namespace zorvex
