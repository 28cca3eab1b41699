#include "NameFilter.h"

#include <algorithm>
#include <new>
#include <unordered_set>

#include "kernel/platform/CaseMapping.h"

std::u16string FoldCase(std::u16string_view wsvText)
{
    return UpperCaseText(wsvText);
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
