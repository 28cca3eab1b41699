#include "WindowsApi.h"

std::u16string UpperCaseText(std::u16string_view wsvText)
{
    std::u16string wstrUpper(wsvText);
    if (wstrUpper.empty())
        return wstrUpper;
    // Upper-casing keeps the length, code unit for code unit; a text too
    // long for the call stays as it is.
    if (wstrUpper.size() <= 0x7FFFFFFF)
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, AsWide(wsvText.data()), static_cast<int>(wsvText.size()),
                      AsWide(wstrUpper.data()), static_cast<int>(wstrUpper.size()), nullptr, nullptr, 0);
    return wstrUpper;
}
