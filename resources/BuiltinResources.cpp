// The program's built-in resource set, which its module handle names.
#include "StringTable.h"

namespace {

constexpr DialogResource kDialogsEnglish[] = {
    {101, u"Windows Security", u"OK", u"Cancel"},
};
constexpr DialogResource kDialogsChinese[] = {
    {101, u"Windows 安全", u"确定", u"取消"},
};

// The pictures live in the dialog module's Qt resources.
constexpr ImageResource kImages[] = {
    {105, ":/tessera/images/system-certificate.png"},
    {106, ":/tessera/images/key-certificate.png"},
    {107, ":/tessera/images/certificate-frame.png"},
};

} // namespace

HINSTANCE g_hInstance = nullptr;

HINSTANCE GetModuleHandleW(const char16_t* pwszModuleName)
{
    static const ResourceModule s_Module{g_EnglishStringTable, g_ChineseStringTable, kDialogsEnglish,
                                         kDialogsChinese, kImages};
    // Only the running program has a resource set of its own.
    return pwszModuleName == nullptr ? &s_Module : nullptr;
}
