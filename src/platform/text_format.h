// printf-style formatting into a std::string.
#pragma once

#include <cstdarg>
#include <string>

namespace platform {

// The text that printf would print for the format and its arguments.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* format, std::va_list args);

}  // namespace platform
