// Any bytes as a "Date:" value: the parser must return, never crash or read
// past the NUL.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "library/parsedate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text(size + 1);
    if (size) std::memcpy(text.data(), data, size);
    text[size] = '\0';
    const zorvex::TDateReference ref{1796902785, 60};
    zorvex::ParseDate(text.data(), &ref);
    zorvex::ParseDate(text.data());
    return 0;
}
