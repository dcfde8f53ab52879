// Any bytes as the start of a file: the header reader must answer without
// reading past them, and what it accepts must decipher within the bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "decode/crypt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly size bytes, so that any overread is caught.
    std::vector<uint8_t> bytes(data, data + size);
    zorvex::CryptState state;
    int header = zorvex::CryptReadHeader(state, "fuzz key", bytes.data(), bytes.size());
    if (header >= 0) {
        if (static_cast<size_t>(header) > size) __builtin_trap();
        zorvex::CryptDecrypt(state, bytes.data() + header, size - header);
        (void)zorvex::CryptChecksumOk(state);
    }
    return 0;
}
