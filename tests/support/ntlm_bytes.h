// NTLM messages as bytes, for the tests that read what the logon sends: a
// type-2 challenge with a fixed nonce, Base64 both ways (OpenSSL's), and
// the fields of a message.
#pragma once

#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace zorvex::test {

using Bytes = std::vector<unsigned char>;

inline const unsigned char kNtlmNonce[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
constexpr uint32_t kUnicodeNtlm = 0x00000201;  // NEGOTIATE_UNICODE | NEGOTIATE_NTLM

inline void PutLe(Bytes& b, size_t at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) b[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

inline uint32_t GetLe(const Bytes& b, size_t at, int size) {
    uint32_t value = 0;
    for (int i = 0; i < size; ++i) value |= static_cast<uint32_t>(b[at + i]) << (8 * i);
    return value;
}

// A type-2 message asking for Unicode: no target name, no target info,
// padded or cut to size.
inline Bytes NtlmChallenge(size_t size = 48) {
    Bytes b(std::max<size_t>(size, 48), 0);
    std::copy_n("NTLMSSP", 8, b.begin());
    PutLe(b, 8, 2, 4);
    PutLe(b, 16, 48, 4);  // empty target name right after the header
    PutLe(b, 20, kUnicodeNtlm, 4);
    std::copy(std::begin(kNtlmNonce), std::end(kNtlmNonce), b.begin() + 24);
    b.resize(size);
    return b;
}

inline std::string ToBase64(const Bytes& b) {
    std::string out(4 * ((b.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), b.data(),
                            static_cast<int>(b.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

inline Bytes FromBase64(const std::string& text) {
    Bytes out(text.size() / 4 * 3 + 3);
    int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size()));
    if (n < 0) return {};
    size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
    out.resize(static_cast<size_t>(n) - padding);
    return out;
}

// A security buffer {len, maxlen, offset} at header offset at; empty when it
// points outside the message.
inline Bytes Field(const Bytes& m, size_t at) {
    if (m.size() < at + 8) return {};
    size_t len = GetLe(m, at, 2), offset = GetLe(m, at + 4, 4);
    if (offset > m.size() || len > m.size() - offset) return {};
    return Bytes(m.begin() + offset, m.begin() + offset + len);
}

inline std::string Utf16(const Bytes& b) {
    std::string out;
    for (size_t i = 0; i + 1 < b.size(); i += 2) out += static_cast<char>(b[i] | b[i + 1] << 8);
    return out;
}

}  // namespace zorvex::test
