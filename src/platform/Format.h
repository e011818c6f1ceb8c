// printf-style formatting into a std::string, for the diagnostic and log writers.
#pragma once

#include <cstdarg>
#include <string>

std::string FormatV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
