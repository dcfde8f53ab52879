// crypt: the program's own stream cipher for saved files. Owns the key
// table, the key stream built from a key, the header that marks an
// encrypted file (kind 1 "KVENC\n", which we write; kind 2 "KVEN1\n", which
// we only read), the byte-sum checksum that proves a correct decryption, and
// the hex encoding that hides short keys and passwords in the settings file.
//
// Keys are texts: a key is taken up to its first NUL byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zorvex {

extern const uint16_t KeyTable[256];

constexpr size_t CRYPT_STREAM_SIZE = 256;
constexpr size_t CRYPT_INNER_KEY_SIZE = 128;
constexpr size_t CRYPT_HEADER_SIZE = 40;

constexpr int CRYPT_NOT_ENCRYPTED = -1;
constexpr int CRYPT_BAD_KEY = -2;

constexpr const char* SETTINGS_KEY_PHRASE = "Tallow Copper Ferrous Nine Reef";
constexpr const char* VIEWER_KEY_PHRASE = "Amber Quill Harbor 9";

// One per file being processed; blocks must go through it in file order,
// each exactly once, since the cursor and the checksum carry across calls.
struct CryptState {
    char Magic[8] = {};      // "KVENC\n" or "KVEN1\n", NUL-padded
    uint32_t KeyCheck = 0;   // byte sum of the user key, modulo 256
    uint32_t Checksum = 0;   // plain byte sum, wrapping; counted down while deciphering
    std::string WorkingKey;  // the user key (kind 1) or the inner key (kind 2)
    std::string UserKey;
    // The 256-byte stream stored twice in a row, so that the next 256 stream
    // bytes from any cursor lie side by side and can be read 8 at a time.
    uint8_t KeyStream[2 * CRYPT_STREAM_SIZE] = {};
    size_t Cursor = 0;  // 0..255
    bool KeyStreamBuilt = false;
    char InnerKey[CRYPT_INNER_KEY_SIZE + 1] = {};  // kind 2: deciphered, always NUL-terminated
    int32_t Kind = 1;                              // 1 or 2
};

// Clears the state and makes key the working key; the stream is built at
// the first encipher or decipher.
void CryptInit(CryptState& state, std::string_view key, int kind);

// In place. Encrypt adds each plain byte to the checksum, Decrypt subtracts it.
void CryptEncrypt(CryptState& state, uint8_t* buf, size_t len);
void CryptDecrypt(CryptState& state, uint8_t* buf, size_t len);

// The kind-1 header with the current checksum, integers little-endian.
void CryptFormatHeader(const CryptState& state, uint8_t out[CRYPT_HEADER_SIZE]);
// Writes that header at the current position of fd; errno is set on failure.
bool CryptWriteHeader(const CryptState& state, int fd);

// Looks for a header in the first count bytes of a file. Returns the header
// length (where the enciphered data begins) with the state ready to
// decipher, CRYPT_NOT_ENCRYPTED or CRYPT_BAD_KEY. A kind-2 header longer than
// the bytes given is taken as not encrypted; a kind-2 inner key that
// deciphers to an empty text is a bad key.
int CryptReadHeader(CryptState& state, std::string_view key, const uint8_t* bytes, size_t count);

// True after a whole file came through intact under the right key.
bool CryptChecksumOk(const CryptState& state);

// Hides a short text under a phrase: enciphered, then two upper-case hex
// digits per byte, high first.
std::string EncodeStoredKey(std::string_view text, std::string_view phrase);
// The reverse: digit pairs of either case (any other character counts 0, a
// lone trailing digit is dropped); the text ends at its first NUL byte.
std::string DecodeStoredKey(std::string_view hex, std::string_view phrase);

}  // namespace zorvex
