// The entry of the crypto module. The module carries its own copy of the
// kernel and keeps it to itself; it joins the host's trace provider and
// resources when it is loaded.
#include "CryptoModule.h"
#include "trace/TraceProvider.h"
#include "kernel/platform/ModuleLoader.h"
#include "kernel/platform/ResourceModule.h"

HRESULT ModuleSelectCertificate(const CertFilter& filter, CertContextRef& pChosen, std::u16string& wstrSubject);
HRESULT ModuleSignMessage(const CertContextRef& pCert, const char16_t* pwszMessage, int32_t nSignType,
                          uint32_t dwAlgId, bool bAttached, std::u16string& bstrSignature);
HRESULT ModuleMeasureSignature(const CertContextRef& pCert, const char16_t* pwszMessage, int32_t nSignType,
                               uint32_t dwAlgId, bool bAttached, Base64Size& size);

TESSERA_MODULE_EXPORT const TesseraCryptoModule* tessera_crypto_module()
{
    static const TesseraCryptoModule s_module = [] {
        InitTracing(LoadTesseraModule);
        g_hInstance = GetModuleHandleW(nullptr);
        return TesseraCryptoModule{sizeof(TesseraCryptoModule), ModuleSelectCertificate, ModuleSignMessage,
                                   ModuleMeasureSignature};
    }();
    return &s_module;
}
