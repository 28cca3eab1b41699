#include "Encodings.h"

#include <new>
#include <utility>

#include "host/TraceHelper.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

void AppendUTF8(std::string& str, uint32_t cp)
{
    if (cp < 0x80) {
        str += static_cast<char>(cp);
    } else if (cp < 0x800) {
        str += static_cast<char>(0xC0 | cp >> 6);
        str += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        str += static_cast<char>(0xE0 | cp >> 12);
        str += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        str += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        str += static_cast<char>(0xF0 | cp >> 18);
        str += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        str += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        str += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUTF16(std::u16string& wstr, uint32_t cp)
{
    if (cp < 0x10000) {
        wstr += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        wstr += static_cast<char16_t>(0xD800 | cp >> 10);
        wstr += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    }
}

// Decodes one UTF-8 sequence at p. On a malformed sequence returns U+FFFD
// and consumes its maximal valid prefix (at least one byte), so that the
// byte that broke it starts the next sequence.
uint32_t DecodeUTF8(const unsigned char*& p)
{
    const unsigned char b = *p++;
    if (b < 0x80)
        return b;
    int nNeed;
    uint32_t cp;
    unsigned char lower = 0x80, upper = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        nNeed = 1;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        nNeed = 2;
        cp = b & 0x0F;
        if (b == 0xE0)
            lower = 0xA0; // no overlong forms
        if (b == 0xED)
            upper = 0x9F; // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        nNeed = 3;
        cp = b & 0x07;
        if (b == 0xF0)
            lower = 0x90;
        if (b == 0xF4)
            upper = 0x8F; // nothing above U+10FFFF
    } else {
        return kReplacement;
    }
    for (int i = 0; i < nNeed; ++i) {
        if (*p < lower || *p > upper)
            return kReplacement; // also stops at the terminating NUL
        cp = cp << 6 | (*p++ & 0x3F);
        lower = 0x80;
        upper = 0xBF;
    }
    return cp;
}

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr int kBase64GroupsPerLine = 19; // 76 characters

// The room Base64EncodeEx reserves for n source bytes.
uint64_t Base64Capacity(uint64_t n, uint32_t dwFlags)
{
    uint64_t r = 4 * n / 3;
    if (!(dwFlags & BASE64_NO_PADDING))
        r += n % 3;
    const uint64_t lines = r / 76 + 1;
    const uint64_t k = r % 76;
    if (k != 0 && k % 4 != 0)
        r += 4 - k % 4;
    if (!(dwFlags & BASE64_NO_LINE_BREAKS))
        r += 2 * lines;
    return r;
}

} // namespace

HRESULT UTF16ToUTF8(const char16_t* pwszSource, std::string& strUTF8)
{
    TRACE_SCOPE();
    if (pwszSource == nullptr) {
        TraceWideStatus(u"Check Parameters(pwszSource)", E_POINTER);
        return E_POINTER;
    }
    try {
        std::string strOut;
        for (const char16_t* p = pwszSource; *p != u'\0'; ++p) {
            uint32_t cp = *p;
            if (cp >= 0xD800 && cp <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (p[1] - 0xDC00);
                ++p;
            } else if (cp >= 0xD800 && cp <= 0xDFFF) {
                cp = kReplacement;
            }
            AppendUTF8(strOut, cp);
        }
        strUTF8 = std::move(strOut);
    } catch (const std::bad_alloc&) {
        TraceWideStatus(u"New Memory", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    return KVRA_OK;
}

HRESULT UTF8ToUTF16(const char* pszSource, std::u16string& wstrUTF16)
{
    TRACE_SCOPE();
    if (pszSource == nullptr) {
        TraceWideStatus(u"Check Parameters(pszSource)", E_POINTER);
        return E_POINTER;
    }
    try {
        std::u16string wstrOut;
        auto p = reinterpret_cast<const unsigned char*>(pszSource);
        while (*p != '\0')
            AppendUTF16(wstrOut, DecodeUTF8(p));
        wstrUTF16 = std::move(wstrOut);
    } catch (const std::bad_alloc&) {
        TraceWideStatus(u"New Memory", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    return KVRA_OK;
}

HRESULT Base64EncodeEx(const uint8_t* pbSource, int32_t nSourceLength, std::string& strBase64, uint32_t dwFlags)
{
    TRACE_SCOPE();
    if (nSourceLength < 0 || 4 * static_cast<int64_t>(nSourceLength) > 2147483647) {
        TraceWideStatus(u"Check Parameters(nSourceLength)", E_FAIL);
        return E_FAIL;
    }
    const auto n = static_cast<uint32_t>(nSourceLength);
    if (pbSource == nullptr && n != 0) {
        TraceWideStatus(u"Check Parameters(pbSource)", E_POINTER);
        return E_POINTER;
    }
    const bool bLineBreaks = !(dwFlags & BASE64_NO_LINE_BREAKS);
    std::string strOut;
    try {
        strOut.reserve(Base64Capacity(n, dwFlags));
    } catch (const std::bad_alloc&) {
        TraceWideStatus(u"New Memory", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    auto putGroup = [&](uint32_t v, int nChars) {
        for (int i = 0; i < nChars; ++i)
            strOut += kBase64Alphabet[v >> (18 - 6 * i) & 0x3F];
    };
    // Whole groups go in lines of 19; every line, the last one included
    // (even when it holds no group), is followed by CR LF, and the final
    // CR LF is then taken back.
    const uint32_t q = n / 3;
    const uint32_t nLines = q / kBase64GroupsPerLine;
    const uint8_t* p = pbSource;
    for (uint32_t line = 0; line <= nLines; ++line) {
        const uint32_t nGroups = line < nLines ? kBase64GroupsPerLine : q % kBase64GroupsPerLine;
        for (uint32_t g = 0; g < nGroups; ++g, p += 3)
            putGroup(static_cast<uint32_t>(p[0]) << 16 | p[1] << 8 | p[2], 4);
        if (bLineBreaks)
            strOut += "\r\n";
    }
    if (bLineBreaks)
        strOut.resize(strOut.size() - 2);
    if (const uint32_t nRest = n % 3) {
        const uint32_t v = static_cast<uint32_t>(p[0]) << 16 | (nRest == 2 ? p[1] << 8 : 0);
        putGroup(v, static_cast<int>(nRest) + 1);
        if (!(dwFlags & BASE64_NO_PADDING))
            strOut.append(3 - nRest, '=');
    }
    strBase64 = std::move(strOut);
    return KVRA_OK;
}

HRESULT ConvertBinaryDataToString(const uint8_t* pbData, uint32_t dwCount, std::u16string& wstrHex)
{
    TRACE_SCOPE();
    // 2 characters a byte: counts from 2^30 on would overflow the size.
    if (dwCount >= (1u << 30)) {
        TraceWideStatus(u"Dispatch memory failed.", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    if (pbData == nullptr && dwCount != 0) {
        TraceWideStatus(u"Check Parameters(pbData)", E_POINTER);
        return E_POINTER;
    }
    static const char16_t kDigits[] = u"0123456789abcdef";
    try {
        std::u16string wstrOut(2 * static_cast<size_t>(dwCount), u'\0');
        for (uint32_t i = 0; i < dwCount; ++i) {
            const uint8_t b = pbData[dwCount - 1 - i];
            wstrOut[2 * i] = kDigits[b >> 4];
            wstrOut[2 * i + 1] = kDigits[b & 0xF];
        }
        wstrHex = std::move(wstrOut);
    } catch (const std::bad_alloc&) {
        TraceWideStatus(u"Dispatch memory failed.", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    return KVRA_OK;
}

void SwapByteOrder(uint8_t* pbBuffer, uint32_t dwLength)
{
    TRACE_SCOPE();
    if (pbBuffer == nullptr || dwLength < 2)
        return;
    for (uint32_t i = 0, j = dwLength - 1; i < j; ++i, --j)
        std::swap(pbBuffer[i], pbBuffer[j]);
}
