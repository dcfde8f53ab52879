// Fatal invariant check: a broken internal invariant or a failed allocation
// ends the program with the expression, the source unit and the line.
// Never use it for input from the server, a file or the user.
#pragma once

namespace zorvex {
[[noreturn]] void FatalCheck(const char* expr, const char* file, int line);
}

#define ZV_CHECK(expr) \
    ((expr) ? static_cast<void>(0) : ::zorvex::FatalCheck(#expr, __FILE__, __LINE__))
