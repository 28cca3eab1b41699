#include "DialogLauncher.h"

#include "trace/TraceHelper.h"
#include "kernel/platform/LastError.h"
#include "kernel/platform/ModuleLoader.h"

namespace {

constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;

// The module's entry, found once; the module stays loaded.
RunSelectCertificateDialogFn FindDialogEntry()
{
    static RunSelectCertificateDialogFn s_pfnEntry = [] {
        void* hModule = LoadTesseraModule(TESSERA_UI_MODULE);
        return reinterpret_cast<RunSelectCertificateDialogFn>(GetModuleSymbol(hModule, TESSERA_UI_ENTRY));
    }();
    return s_pfnEntry;
}

} // namespace

int RunSelectCertificateDialog(int32_t* pnErrorCode, const SelectCertificateDlgParams* pParams,
                               CertContextRef* ppCertificate)
{
    TRACE_SCOPE();
    RunSelectCertificateDialogFn pfnEntry = FindDialogEntry();
    int nEndCode = -1;
    int32_t nErrorCode = 0;
    CertContextRef pCertificate;
    if (pfnEntry != nullptr)
        nEndCode = pfnEntry(pParams, &nErrorCode, &pCertificate);
    // A dialog that could not be created leaves no code of its own: report
    // that, rather than a success without a certificate.
    if (nEndCode == -1)
        nErrorCode = static_cast<int32_t>(ERROR_INVALID_WINDOW_HANDLE);
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidDialogLauncher, 12, static_cast<int32_t>(nEndCode));
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidDialogLauncher, 13, nErrorCode);
    if (pnErrorCode != nullptr)
        *pnErrorCode = nErrorCode;
    if (ppCertificate != nullptr)
        *ppCertificate = std::move(pCertificate);
    return nEndCode;
}

CertContextRef CustomCryptUIDlgSelectCertificateFromStore(const CertStore* hCertStore,
                                                          const SelectCertificateUIParams* pParams)
{
    TRACE_SCOPE();
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidDialogLauncher, 10, static_cast<int32_t>(hCertStore != nullptr));
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidDialogLauncher, 11,
                 static_cast<int32_t>(pParams != nullptr ? pParams->dwKind : 0xFFFFFFFF));
    int32_t nErrorCode = static_cast<int32_t>(ERROR_INVALID_PARAMETER_CODE);
    CertContextRef pCertificate;
    if (pParams != nullptr && (pParams->dwKind == 0 || pParams->dwKind == 1)) {
        SelectCertificateDlgParams dlgParams{};
        dlgParams.hResourceModule = pParams->hResourceModule;
        dlgParams.hCertStore = hCertStore;
        if (pParams->dwKind == 1) {
            dlgParams.pwszTitle = pParams->pwszTitle;
            dlgParams.pwszOkText = pParams->pwszOkText;
            dlgParams.pwszCancelText = pParams->pwszCancelText;
        }
        RunSelectCertificateDialog(&nErrorCode, &dlgParams, &pCertificate);
    }
    SetLastError(static_cast<uint32_t>(nErrorCode));
    return pCertificate;
}
