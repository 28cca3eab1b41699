#include "WindowsApi.h"

#include <string>

void* LoadTesseraModule(const char* pszModuleName)
{
    // Only from the executable's own directory: the DLL search path
    // (current directory, PATH) must not pick up a stranger's module.
    std::wstring wstrPath(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, wstrPath.data(), static_cast<DWORD>(wstrPath.size()));
        if (n == 0)
            return nullptr;
        if (n < wstrPath.size()) {
            wstrPath.resize(n);
            break;
        }
        wstrPath.resize(wstrPath.size() * 2);
    }
    wstrPath.resize(wstrPath.find_last_of(L"\\/") + 1);
    for (const char* p = pszModuleName; *p != '\0'; ++p)
        wstrPath += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    wstrPath += L".dll";
    // The module's own imports (crypt32, cryptui, msimg32 and the like) come
    // from System32 alone: several are not KnownDLLs, and a file of that
    // name in the install folder would otherwise be loaded in their place.
    return LoadLibraryExW(wstrPath.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void* GetModuleSymbol(void* hModule, const char* pszSymbol)
{
    if (hModule == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(hModule), pszSymbol));
}
