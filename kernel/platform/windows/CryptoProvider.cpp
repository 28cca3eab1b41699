// Private keys, hashing and raw signing through the certificate's CryptoAPI
// provider, which asks for a token's PIN itself when it needs one.
#include "WindowsApi.h"

struct CryptProvider {
    Win32CryptProv hProv = 0;
    bool bRelease = false; // false when the certificate's context keeps it
};

struct CryptHash {
    Win32CryptHash hHash = 0;
};

void CryptProviderDeleter::operator()(CryptProvider* p) const
{
    if (p->bRelease)
        CryptReleaseContext(p->hProv, 0);
    delete p;
}

void CryptHashDeleter::operator()(CryptHash* p) const
{
    CryptDestroyHash(p->hHash);
    delete p;
}

bool CryptAcquireCertificatePrivateKey(const CertContextRef& pCert, HCRYPTPROV& hProv, uint32_t& dwKeySpec)
{
    if (!pCert) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return false;
    }
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hKey = 0;
    DWORD dwSpec = 0;
    BOOL fCallerFree = FALSE;
    if (!::CryptAcquireCertificatePrivateKey(Win32Cert(*pCert), 0, nullptr, &hKey, &dwSpec, &fCallerFree))
        return false;
    auto* pProv = new (std::nothrow) CryptProvider{hKey, fCallerFree != FALSE};
    if (pProv == nullptr) {
        if (fCallerFree)
            CryptReleaseContext(hKey, 0);
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return false;
    }
    hProv.reset(pProv);
    dwKeySpec = dwSpec;
    return true;
}

bool CryptGetProvParam(const CryptProvider& prov, uint32_t dwParam, uint8_t* pbData, uint32_t* pcbData)
{
    if (pcbData == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return false;
    }
    DWORD cbData = *pcbData;
    if (!::CryptGetProvParam(prov.hProv, dwParam, pbData, &cbData, 0))
        return false;
    *pcbData = cbData;
    return true;
}

bool CryptCreateHash(CryptProvider& prov, uint32_t dwAlgId, HCRYPTHASH& hHash)
{
    Win32CryptHash hNew = 0;
    if (!::CryptCreateHash(prov.hProv, dwAlgId, 0, 0, &hNew))
        return false;
    auto* pHash = new (std::nothrow) CryptHash{hNew};
    if (pHash == nullptr) {
        CryptDestroyHash(hNew);
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return false;
    }
    hHash.reset(pHash);
    return true;
}

bool CryptHashData(CryptHash& hash, const uint8_t* pbData, uint32_t cbData)
{
    return ::CryptHashData(hash.hHash, pbData, cbData, 0) != FALSE;
}

bool CryptSignHashW(CryptHash& hash, uint32_t dwKeySpec, uint8_t* pbSignature, uint32_t* pcbSignature)
{
    if (pcbSignature == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return false;
    }
    DWORD cbSignature = *pcbSignature;
    if (!::CryptSignHashW(hash.hHash, dwKeySpec, nullptr, 0, pbSignature, &cbSignature))
        return false;
    *pcbSignature = cbSignature;
    return true;
}
