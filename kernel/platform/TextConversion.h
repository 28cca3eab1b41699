// The platform's UTF-8 <-> UTF-16 converter, standing in for
// MultiByteToWideChar and WideCharToMultiByte with code page 65001 and no
// flags: nothing fails on malformed input, each bad piece becomes U+FFFD.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// An unpaired surrogate becomes U+FFFD (EF BF BD). May throw std::bad_alloc.
std::string ConvertUtf16ToUtf8(std::u16string_view wsv);

// The length ConvertUtf16ToUtf8 gives the text, in bytes, without
// converting it.
uint64_t Utf8LengthOfUtf16(std::u16string_view wsv);

// Each malformed sequence (its maximal valid prefix, or one bad byte)
// becomes U+FFFD. May throw std::bad_alloc.
std::u16string ConvertUtf8ToUtf16(std::string_view sv);
