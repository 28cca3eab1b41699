#include <cstdlib>
#include <string_view>

#include "Checks.h"

namespace {

// Written from host/manifests/browsers.list when the doctor is built.
constexpr BrowserInfo kBrowsers[] = {
#include "BrowserTable.inc"
};

} // namespace

std::span<const BrowserInfo> Browsers()
{
    return kBrowsers;
}

std::string UserFolder(const char* pszRelative)
{
    const std::string_view relative(pszRelative);
    if (relative.empty() || relative == "-")
        return {};
    constexpr std::string_view kConfig = ".config/";
    const char* pszConfig = std::getenv("XDG_CONFIG_HOME");
    if (relative.starts_with(kConfig) && pszConfig != nullptr && *pszConfig == '/')
        return std::string(pszConfig) + "/" + std::string(relative.substr(kConfig.size()));
    const char* pszHome = std::getenv("HOME");
    return std::string(pszHome != nullptr ? pszHome : "") + "/" + std::string(relative);
}
