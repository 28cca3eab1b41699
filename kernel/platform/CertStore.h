// Certificate stores: the user's personal store ("MY") and in-memory
// stores. A store hands out counted references, which stay valid after the
// store is closed.
#pragma once

#include <memory>
#include <vector>

#include "CertContext.h"

class CertStore {
public:
    // The certificates in store order.
    const std::vector<CertContextRef>& Certificates() const { return m_vtrCerts; }

    // Adds a reference. With bUseExisting, a certificate whose encoding is
    // there already is not added again (the existing one is kept). Returns
    // false, with the last error set, when there is no memory.
    bool AddCertificate(const CertContextRef& pCert, bool bUseExisting = true);

private:
    std::vector<CertContextRef> m_vtrCerts;
};

using HCERTSTORE = std::unique_ptr<CertStore>;

// Opens the current user's system store of that name, read-only, and takes
// a reference on each of its certificates. On Windows that is the system's
// own store; on Linux only "MY" exists: every certificate with a private key
// in the user's NSS database and on the PKCS#11 tokens present, listed
// without prompting for a PIN. Returns null with the last error set on
// failure.
HCERTSTORE CertOpenSystemStore(const char16_t* pwszStoreName);

// An empty store in memory.
HCERTSTORE CertOpenMemoryStore();
