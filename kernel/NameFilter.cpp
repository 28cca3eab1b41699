#include "NameFilter.h"

#include <algorithm>
#include <new>
#include <unordered_set>

namespace {

// Simple case folding for the scripts with letter case that names use.
char16_t FoldChar(char16_t c)
{
    if (c < 0x80)
        return (c >= u'A' && c <= u'Z') ? c + 0x20 : c;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F))
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x138 && c != 0x149 && c != 0x17F) {
        // Latin Extended-A pairs upper/lower case as even/odd, except for a
        // stretch where the pairs start on odd code points.
        const bool bOddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (bOddUpper ? (c % 2 == 1) : (c % 2 == 0))
            return c + 1;
    }
    return c;
}

} // namespace

std::u16string FoldCase(std::u16string_view wsvText)
{
    std::u16string wstrFolded(wsvText);
    std::transform(wstrFolded.begin(), wstrFolded.end(), wstrFolded.begin(), FoldChar);
    return wstrFolded;
}

bool ContainsIgnoringCase(std::u16string_view wsvText, std::u16string_view wsvPattern)
{
    return FoldCase(wsvText).find(FoldCase(wsvPattern)) != std::u16string::npos;
}

HRESULT NameFilter::Assign(const char16_t* pwszFilter)
{
    if (pwszFilter == nullptr) {
        *this = NameFilter();
        return KVRA_OK;
    }
    try {
        bool bEmptySeen = false;
        bool bTooMany = false;
        std::unordered_set<std::u16string> setFolded;
        ForEachAlternative(pwszFilter, [&](std::u16string_view wsvAlternative) {
            if (bTooMany)
                return;
            if (wsvAlternative.empty())
                bEmptySeen = true;
            else
                setFolded.insert(FoldCase(wsvAlternative));
            // The empty alternative counts as one of the distinct ones.
            bTooMany = setFolded.size() + (bEmptySeen ? 1 : 0) > kMaxFilterAlternatives;
        });
        if (bTooMany)
            return E_INVALIDARG;
        std::vector<std::u16string> vtrFolded(std::make_move_iterator(setFolded.begin()),
                                              std::make_move_iterator(setFolded.end()));
        m_bApplies = true;
        m_bMatchesEverything = bEmptySeen;
        m_vtrFolded = std::move(vtrFolded);
        return KVRA_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

bool NameFilter::Matches(std::u16string_view wsvName) const
{
    if (m_bMatchesEverything)
        return true;
    const std::u16string wstrFolded = FoldCase(wsvName);
    return std::any_of(m_vtrFolded.begin(), m_vtrFolded.end(), [&](const std::u16string& wstrAlternative) {
        return wstrFolded.find(wstrAlternative) != std::u16string::npos;
    });
}
