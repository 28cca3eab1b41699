#include "kernel/platform/ResourceModule.h"

#include <algorithm>

#include "kernel/platform/Language.h"
#include "kernel/platform/LastError.h"

int LoadStringW(HINSTANCE hInstance, uint32_t nId, char16_t* buf, int cchBufferMax)
{
    if (hInstance == nullptr || buf == nullptr || cchBufferMax <= 0) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    const auto table = GetUserUiLanguage() == UiLanguage::Chinese ? hInstance->chinese : hInstance->english;
    const auto it = std::lower_bound(table.begin(), table.end(), nId,
                                     [](const StringResource& r, uint32_t id) { return r.nId < id; });
    if (it == table.end() || it->nId != nId) {
        buf[0] = u'\0';
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    int n = 0;
    for (; n < cchBufferMax - 1 && it->pwszText[n] != u'\0'; ++n)
        buf[n] = it->pwszText[n];
    buf[n] = u'\0';
    return n;
}

const DialogResource* LoadDialogResource(HINSTANCE hInstance, uint32_t nId)
{
    if (hInstance != nullptr) {
        const auto dialogs =
            GetUserUiLanguage() == UiLanguage::Chinese ? hInstance->dialogsChinese : hInstance->dialogsEnglish;
        for (const DialogResource& dialog : dialogs) {
            if (dialog.nId == nId)
                return &dialog;
        }
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

const char* FindImageResource(HINSTANCE hInstance, uint32_t nId)
{
    if (hInstance != nullptr) {
        for (const ImageResource& image : hInstance->images) {
            if (image.nId == nId)
                return image.pszPath;
        }
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}
