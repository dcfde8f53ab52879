#include "library/check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zorvex {

[[noreturn]] void FatalCheck(const char* expr, const char* file, int line) {
    const char* unit = std::strrchr(file, '/');
    unit = unit ? unit + 1 : file;
    std::fprintf(stderr, "zorvex: fatal: %s in %s line %d\n", expr, unit, line);
    std::fflush(stderr);
    std::abort();
}

}  // namespace zorvex
