#include "kernel/platform/TextConversion.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& str, uint32_t cp)
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

void AppendUtf16(std::u16string& wstr, uint32_t cp)
{
    if (cp < 0x10000) {
        wstr += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        wstr += static_cast<char16_t>(0xD800 | cp >> 10);
        wstr += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    }
}

// Decodes one UTF-8 sequence starting at p (p < end). On a malformed
// sequence returns U+FFFD and consumes its maximal valid prefix (at least one
// byte), so that the byte that broke it starts the next sequence.
uint32_t DecodeUtf8(const unsigned char*& p, const unsigned char* end)
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
        if (p == end || *p < lower || *p > upper)
            return kReplacement;
        cp = cp << 6 | (*p++ & 0x3F);
        lower = 0x80;
        upper = 0xBF;
    }
    return cp;
}

// Calls visit with each code point of the UTF-16 text, an unpaired
// surrogate read as U+FFFD.
template <typename Visit>
void ForEachCodePoint(std::u16string_view wsv, Visit&& visit)
{
    for (size_t i = 0; i < wsv.size(); ++i) {
        uint32_t cp = wsv[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wsv.size() && wsv[i + 1] >= 0xDC00 && wsv[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (wsv[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        visit(cp);
    }
}

} // namespace

std::string ConvertUtf16ToUtf8(std::u16string_view wsv)
{
    std::string out;
    out.reserve(wsv.size());
    ForEachCodePoint(wsv, [&](uint32_t cp) { AppendUtf8(out, cp); });
    return out;
}

uint64_t Utf8LengthOfUtf16(std::u16string_view wsv)
{
    uint64_t n = 0;
    ForEachCodePoint(wsv, [&](uint32_t cp) { n += cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; });
    return n;
}

std::u16string ConvertUtf8ToUtf16(std::string_view sv)
{
    std::u16string out;
    out.reserve(sv.size());
    auto p = reinterpret_cast<const unsigned char*>(sv.data());
    const auto end = p + sv.size();
    while (p != end)
        AppendUtf16(out, DecodeUtf8(p, end));
    return out;
}
