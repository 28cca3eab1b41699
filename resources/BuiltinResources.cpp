// The program's built-in resource set, which its module handle names.
#include "StringTable.h"

HINSTANCE g_hInstance = nullptr;

HINSTANCE GetModuleHandleW(const char16_t* pwszModuleName)
{
    static const ResourceModule s_Module{g_EnglishStringTable, g_ChineseStringTable};
    // Only the running program has a resource set of its own.
    return pwszModuleName == nullptr ? &s_Module : nullptr;
}
