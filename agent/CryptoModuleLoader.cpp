#include "CryptoModule.h"

#include "kernel/platform/LastError.h"
#include "kernel/platform/ModuleLoader.h"

namespace {
constexpr uint32_t ERROR_MOD_NOT_FOUND = 126;
}

const TesseraCryptoModule* LoadCryptoModule()
{
    static const TesseraCryptoModule* s_pModule = [] {
        using GetModuleFn = const TesseraCryptoModule* (*)();
        void* hModule = LoadTesseraModule(TESSERA_CRYPTO_MODULE);
        auto pfnGet = reinterpret_cast<GetModuleFn>(GetModuleSymbol(hModule, TESSERA_CRYPTO_ENTRY));
        const TesseraCryptoModule* pModule = pfnGet != nullptr ? pfnGet() : nullptr;
        return pModule != nullptr && pModule->cbSize >= sizeof(TesseraCryptoModule) ? pModule : nullptr;
    }();
    if (s_pModule == nullptr)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return s_pModule;
}
