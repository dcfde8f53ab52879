#include "select/strccl.h"

#include "library/ascii.h"

namespace zorvex {

namespace {

bool IsPunctAscii(unsigned char c) {
    return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') ||
           (c >= '{' && c <= '~');
}

}  // namespace

bool IsWordDelimiter(unsigned char c) {
    return c != '_' && (IsPunctAscii(c) || IsSpaceAscii(static_cast<char>(c)));
}

void TCharClass::AddLiteral(unsigned char c, bool ignoreCase) {
    Add(c);
    if (!ignoreCase) return;
    if (c >= 'a' && c <= 'z') Add(static_cast<unsigned char>(c - 'a' + 'A'));
    if (c >= 'A' && c <= 'Z') Add(static_cast<unsigned char>(c - 'A' + 'a'));
}

void TCharClass::AddWordDelimiters() {
    for (int c = 0; c < 256; ++c)
        if (IsWordDelimiter(static_cast<unsigned char>(c))) Add(static_cast<unsigned char>(c));
}

}  // namespace zorvex
