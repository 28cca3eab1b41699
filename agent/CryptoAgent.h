// The crypto agent: the one object through which the request handlers reach
// the signing functions. It keeps the certificate selected for signing and
// the status of the last operation, and describes any status in words.
#pragma once

#include <string>
#include <vector>

#include "kernel/StatusCodes.h"
#include "kernel/platform/CertContext.h"

class CCryptoAgent {
public:
    CCryptoAgent();
    virtual ~CCryptoAgent();
    CCryptoAgent(const CCryptoAgent&) = delete;
    CCryptoAgent& operator=(const CCryptoAgent&) = delete;

    // Describes the last status: Tessera's own text for codes with the
    // customer bit, the system's text otherwise, then a line feed and the
    // code as "(0x%08x)". Leaves the last status as it is; always returns 0.
    virtual HRESULT GetLastErrorDesc(std::u16string& bstrDesc);

protected:
    // The epilogue of every public operation: keeps negative results, turns
    // any other result into 0, and records it as the last status.
    HRESULT FinishOperation(HRESULT hResult);

    HRESULT m_nLastError = KVRA_OK;
    // The certificate chosen by the last successful selection; the agent owns
    // one reference on each entry.
    std::vector<CertContextRef> m_vtrSignCertSet;
};
