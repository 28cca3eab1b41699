// Text and binary encodings of the kernel: UTF-8 <-> UTF-16, Base64 and
// reversed hexadecimal text, and byte-order reversal.
//
// Outputs are owned containers; a routine stores its output only on success.
#pragma once

#include <cstdint>
#include <string>

#include "platform/StatusCodes.h"

// Base64EncodeEx flags.
constexpr uint32_t BASE64_NO_PADDING = 1;
constexpr uint32_t BASE64_NO_LINE_BREAKS = 2;

// UTF-16 (NUL-terminated) to UTF-8. An unpaired surrogate becomes U+FFFD.
// A null source gives E_POINTER.
HRESULT UTF16ToUTF8(const char16_t* pwszSource, std::string& strUTF8);

// UTF-8 (NUL-terminated) to UTF-16. Each malformed sequence (its maximal
// valid prefix, or one bad byte) becomes U+FFFD. A null source gives
// E_POINTER.
HRESULT UTF8ToUTF16(const char* pszSource, std::u16string& wstrUTF16);

// Base64 with the standard alphabet. Unless BASE64_NO_LINE_BREAKS, CR LF
// follows every 76 characters; when the whole 3-byte groups fill their last
// line exactly, that line keeps its CR LF (57 bytes give 78 characters).
// nSourceLength must lie in 0..536,870,911, or the result is E_FAIL.
HRESULT Base64EncodeEx(const uint8_t* pbSource, int32_t nSourceLength, std::string& strBase64, uint32_t dwFlags);

// The largest source Base64EncodeEx takes.
constexpr uint64_t kMaxBase64Source = 536870911;

// The size of the text Base64EncodeEx gives for cbSource bytes with those
// flags, found without encoding: its length, and how many CR LF pairs it
// holds.
struct Base64Size {
    uint64_t cchText;
    uint64_t cLineBreaks;
};
Base64Size Base64EncodedSize(uint64_t cbSource, uint32_t dwFlags);

// Lower-case hexadecimal text of the bytes, last byte first (01 2A FF gives
// "ff2a01"): the order in which a serial number stored least significant
// byte first is read.
HRESULT ConvertBinaryDataToString(const uint8_t* pbData, uint32_t dwCount, std::u16string& wstrHex);

// Reverses the buffer in place.
void SwapByteOrder(uint8_t* pbBuffer, uint32_t dwLength);
