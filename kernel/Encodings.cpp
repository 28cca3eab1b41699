#include "Encodings.h"

#include <new>
#include <utility>

#include "trace/TraceHelper.h"
#include "kernel/platform/TextConversion.h"

namespace {

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
        strUTF8 = ConvertUtf16ToUtf8(pwszSource);
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
        wstrUTF16 = ConvertUtf8ToUtf16(pszSource);
    } catch (const std::bad_alloc&) {
        TraceWideStatus(u"New Memory", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    return KVRA_OK;
}

HRESULT Base64EncodeEx(const uint8_t* pbSource, int32_t nSourceLength, std::string& strBase64, uint32_t dwFlags)
{
    TRACE_SCOPE();
    if (nSourceLength < 0 || static_cast<uint64_t>(nSourceLength) > kMaxBase64Source) {
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

Base64Size Base64EncodedSize(uint64_t cbSource, uint32_t dwFlags)
{
    // As Base64EncodeEx lays it out: a CR LF after each full line of whole
    // groups, then the last, partial group.
    const uint64_t q = cbSource / 3;
    const uint64_t nRest = cbSource % 3;
    Base64Size size{};
    size.cLineBreaks = (dwFlags & BASE64_NO_LINE_BREAKS) ? 0 : q / kBase64GroupsPerLine;
    size.cchText = 4 * q + 2 * size.cLineBreaks;
    if (nRest != 0)
        size.cchText += (dwFlags & BASE64_NO_PADDING) ? nRest + 1 : 4;
    return size;
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
