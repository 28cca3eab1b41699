#include "kernel/platform/Language.h"

#include <cstdlib>
#include <initializer_list>

UiLanguage GetUserUiLanguage()
{
    for (const char* pszName : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* pszValue = std::getenv(pszName);
        if (pszValue == nullptr || *pszValue == '\0')
            continue;
        return (pszValue[0] == 'z' && pszValue[1] == 'h') ? UiLanguage::Chinese : UiLanguage::English;
    }
    return UiLanguage::English;
}
