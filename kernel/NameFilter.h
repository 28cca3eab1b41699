// Subject and issuer filters: a text of "#"-separated alternatives, each
// matched as a part of a certificate's name without regard to letter case.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/StatusCodes.h"

// Each alternative is cut to its first 255 characters.
constexpr size_t kMaxAlternativeLength = 255;

// The most distinct alternatives one filter may hold (compared after cutting
// and case folding). Matching costs one search per alternative and
// certificate, so a filter with more is refused rather than served.
constexpr size_t kMaxFilterAlternatives = 1024;

// Calls visit(std::u16string_view) with each alternative of the text, left to
// right, already cut. There is no escape for "#"; white space is kept; a
// separator at either end or next to another gives an empty alternative, and
// an empty text gives one.
template <typename Visit>
void ForEachAlternative(std::u16string_view wsvFilter, Visit&& visit)
{
    for (;;) {
        const size_t nSeparator = wsvFilter.find(u'#');
        visit(wsvFilter.substr(0, nSeparator).substr(0, kMaxAlternativeLength));
        if (nSeparator == std::u16string_view::npos)
            return;
        wsvFilter.remove_prefix(nSeparator + 1);
    }
}

// The text with every letter in its simple Unicode upper case, for comparing
// without regard to case.
std::u16string FoldCase(std::u16string_view wsvText);

// Case-insensitive substring search, as the platform's StrStrIW.
bool ContainsIgnoringCase(std::u16string_view wsvText, std::u16string_view wsvPattern);

// One filter, parsed once and matched against any number of names. Its
// memory and parsing time grow with the filter's length only: alternatives
// are folded once and kept once, and an empty one, which every name
// contains, makes the filter match everything.
class NameFilter {
public:
    // Takes the filter's alternatives. A null text has none: the criterion
    // is then not applied. E_INVALIDARG when the text holds more than
    // kMaxFilterAlternatives distinct alternatives, E_OUTOFMEMORY; either
    // leaves the filter as it was.
    HRESULT Assign(const char16_t* pwszFilter);

    // Whether there is a criterion at all (the text was not null).
    bool Applies() const { return m_bApplies; }

    // Whether the name contains at least one alternative.
    bool Matches(std::u16string_view wsvName) const;

private:
    bool m_bApplies = false;
    bool m_bMatchesEverything = false;
    std::vector<std::u16string> m_vtrFolded; // distinct, non-empty
};
