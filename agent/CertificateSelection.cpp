// The selection of the signing certificate, inside the crypto module: the
// user's store, the filters, and the choice among the candidates.
#include "CryptoModule.h"
#include "trace/TraceHelper.h"
#include "kernel/CertificateProperties.h"
#include "kernel/platform/LastError.h"
#include "ui/DialogLauncher.h"

#define TRACE_WMODULE u"CryptoAgent"

namespace {

// A platform failure as a status: never a success, even when the failing
// call left no error behind.
HRESULT FailureFromLastError()
{
    const HRESULT hr = AgentStatusFromError(GetLastError());
    return FAILED(hr) ? hr : E_FAIL;
}

} // namespace

HRESULT ModuleSelectCertificate(const CertFilter& filter, CertContextRef& pChosen, std::u16string& wstrSubject)
{
    TraceHelper traceHelper("CCryptoAgent::SelectCertificate");
    static constexpr char16_t kFunc[] = u"CCryptoAgent::SelectCertificate";
    CertList vtrStoreCertificates, vtrCertificateSet;
    HRESULT hResult = ExtractCertificatesFromLocalStore(u"MY", vtrStoreCertificates);
    if (FAILED(hResult)) {
        TRACE_WSTEP_FAILED(kFunc, u"ExtractCertificatesFromLocalStore", hResult, u"FAILED(hResult)");
        return hResult;
    }
    TRACE_WSTEP_OK(kFunc, u"ExtractCertificatesFromLocalStore");
    hResult = FilterCertificates(&filter, vtrCertificateSet, vtrStoreCertificates);
    if (FAILED(hResult)) {
        TRACE_WSTEP_FAILED(kFunc, u"FilterCertificates", hResult, u"FAILED(hResult)");
        return hResult;
    }
    TRACE_WSTEP_OK(kFunc, u"FilterCertificates");

    CertContextRef pstSelectedCert;
    if (vtrCertificateSet.empty()) {
        TRACE_WSTEP_FAILED(kFunc, u"Check certificate count", KVRA_E_NO_AVAILABLE_CERT,
                           u"vtrCertificateSet.size() == 0");
        return KVRA_E_NO_AVAILABLE_CERT;
    }
    TRACE_WSTEP_OK(kFunc, u"Check certificate count");
    if (vtrCertificateSet.size() == 1) {
        pstSelectedCert = CertDuplicateCertificateContext(vtrCertificateSet.front());
    } else {
        // Several candidates: the user chooses, from a store holding exactly
        // those.
        const HCERTSTORE hCacheCertStore = CertOpenMemoryStore();
        if (!hCacheCertStore) {
            hResult = FailureFromLastError();
            TRACE_WSTEP_FAILED(kFunc, u"CertOpenStore", hResult, u"hCacheCertStore == NULL");
            return hResult;
        }
        for (const CertContextRef& pCert : vtrCertificateSet) {
            if (!hCacheCertStore->AddCertificate(pCert)) {
                hResult = FailureFromLastError();
                TRACE_WSTEP_FAILED(kFunc, u"CertAddCertificateContextToStore", hResult, u"bRetCode == FALSE");
                return hResult;
            }
        }
        TRACE_WSTEP_OK(kFunc, u"CertAddCertificateContextToStore");
        const SelectCertificateUIParams params{0, GetModuleHandleW(nullptr), nullptr, nullptr, nullptr};
        pstSelectedCert = CustomCryptUIDlgSelectCertificateFromStore(hCacheCertStore.get(), &params);
        if (!pstSelectedCert) {
            hResult = FailureFromLastError();
            TRACE_WSTEP_FAILED(kFunc, u"CustomCryptUIDlgSelectCertificateFromStore", hResult,
                               u"pstSelectedCert == NULL");
            return hResult;
        }
        TRACE_WSTEP_OK(kFunc, u"CustomCryptUIDlgSelectCertificateFromStore");
    }

    hResult = QueryCertContextInfo(pstSelectedCert, CERT_QUERY_SUBJECT_X500, &wstrSubject, nullptr);
    if (FAILED(hResult)) {
        TRACE_WSTEP_FAILED(kFunc, u"QueryCertContextInfo (Kernel) FAILED.", hResult, u"FAILED(hResult)");
        wstrSubject.clear();
        return hResult;
    }
    TRACE_WSTEP_OK(kFunc, u"QueryCertContextInfo");
    pChosen = std::move(pstSelectedCert);
    return KVRA_OK;
}
