#include "kernel/platform/CaseMapping.h"

#include <locale.h>
#include <wctype.h>

namespace {

// The C.UTF-8 locale carries glibc's Unicode character tables whatever the
// user's own locale is. Created once and kept for the life of the process.
locale_t UnicodeLocale()
{
    static const locale_t hLocale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return hLocale;
}

char32_t UpperCase(char32_t c)
{
    if (const locale_t hLocale = UnicodeLocale(); hLocale != static_cast<locale_t>(nullptr))
        return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), hLocale));
    // Without the locale (a stripped-down system), ASCII at least.
    return (c >= U'a' && c <= U'z') ? c - 0x20 : c;
}

void AppendCodePoint(std::u16string& wstr, char32_t c)
{
    if (c < 0x10000) {
        wstr.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        wstr.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        wstr.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

} // namespace

std::u16string UpperCaseText(std::u16string_view wsvText)
{
    std::u16string wstrUpper;
    wstrUpper.reserve(wsvText.size());
    for (size_t i = 0; i < wsvText.size(); ++i) {
        const char16_t c = wsvText[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wsvText.size() && wsvText[i + 1] >= 0xDC00 &&
            wsvText[i + 1] <= 0xDFFF) {
            const char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (wsvText[i + 1] - 0xDC00);
            AppendCodePoint(wstrUpper, UpperCase(cp));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            wstrUpper.push_back(c); // unpaired: no letter to map
        } else {
            AppendCodePoint(wstrUpper, UpperCase(c));
        }
    }
    return wstrUpper;
}
