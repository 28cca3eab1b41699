#include "WindowsApi.h"

HINSTANCE GetModuleHandleW(const char16_t* pwszModuleName)
{
    return ::GetModuleHandleW(AsWide(pwszModuleName));
}

int LoadStringW(HINSTANCE hInstance, uint32_t nId, char16_t* buf, int cchBufferMax)
{
    // A zero-length buffer would make the platform hand out a pointer to
    // the resource itself instead of a copy.
    if (buf == nullptr || cchBufferMax <= 0) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    return ::LoadStringW(hInstance, nId, AsWide(buf), cchBufferMax);
}
