#include "kernel/platform/ModuleLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <string>

void* LoadTesseraModule(const char* pszModuleName)
{
    const std::string strFileName = std::string("lib") + pszModuleName + ".so";
    char szExe[4096];
    const ssize_t n = readlink("/proc/self/exe", szExe, sizeof szExe - 1);
    if (n > 0) {
        szExe[n] = '\0';
        std::string strPath(szExe);
        strPath.resize(strPath.rfind('/') + 1);
        if (void* h = dlopen((strPath + strFileName).c_str(), RTLD_NOW | RTLD_LOCAL))
            return h;
        if (void* h = dlopen((strPath + TESSERA_MODULE_RELDIR "/" + strFileName).c_str(), RTLD_NOW | RTLD_LOCAL))
            return h;
    }
    return dlopen((std::string(TESSERA_MODULE_DIR "/") + strFileName).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* GetModuleSymbol(void* hModule, const char* pszSymbol)
{
    return hModule != nullptr ? dlsym(hModule, pszSymbol) : nullptr;
}
