#include "WindowsApi.h"

UiLanguage GetUserUiLanguage()
{
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE ? UiLanguage::Chinese : UiLanguage::English;
}
