// A small formatter for UTF-16 text, standing in for swprintf.
#pragma once

#include <cstddef>

// Formats into buf, which holds cchBuf code units, and always NUL-terminates
// it (when cchBuf > 0); text that does not fit is cut. Understands %ws
// (const char16_t*), %d (int), %x and %0Nx (unsigned, lower case) and %%.
// Returns the units written, without the NUL.
size_t FormatWide(char16_t* buf, size_t cchBuf, const char16_t* pwszFormat, ...);

// Length of a NUL-terminated UTF-16 string.
size_t WideLength(const char16_t* pwsz);
