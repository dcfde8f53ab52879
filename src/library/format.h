// format: printf-style formatting into a string of any length.
#pragma once

#include <cstdarg>
#include <string>

namespace zorvex {

// Unbounded: callers cut the text as their lists and files need.
std::string FormatV(const char* format, va_list args);
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zorvex
