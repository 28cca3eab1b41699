// Private keys, hashing and raw signing through the certificate's CryptoAPI
// provider, which asks for a token's PIN itself when it needs one.
#include "WindowsApi.h"

#include <string_view>

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

namespace {

// Microsoft's software RSA providers of type PROV_RSA_FULL have no SHA-2
// hashes. Their key containers are shared with the enhanced RSA and AES
// provider, which has them: the documented way to sign SHA-2 with such a
// key is to open its container there. Replaces prov's handle with that one
// and returns true, or returns false leaving prov as it was.
bool ReopenInAesProvider(CryptProvider& prov)
{
    DWORD dwType = 0;
    DWORD cb = sizeof dwType;
    if (!::CryptGetProvParam(prov.hProv, PP_PROVTYPE, reinterpret_cast<BYTE*>(&dwType), &cb, 0) ||
        dwType != PROV_RSA_FULL)
        return false;
    char szName[128] = {};
    cb = sizeof szName - 1;
    if (!::CryptGetProvParam(prov.hProv, PP_NAME, reinterpret_cast<BYTE*>(szName), &cb, 0))
        return false;
    const std::string_view name(szName);
    if (name != MS_DEF_PROV_A && name != MS_ENHANCED_PROV_A && name != MS_STRONG_PROV_A)
        return false;
    char szContainer[1024] = {};
    cb = sizeof szContainer - 1;
    if (!::CryptGetProvParam(prov.hProv, PP_CONTAINER, reinterpret_cast<BYTE*>(szContainer), &cb, 0))
        return false;
    DWORD dwKeyset = 0;
    cb = sizeof dwKeyset;
    if (!::CryptGetProvParam(prov.hProv, PP_KEYSET_TYPE, reinterpret_cast<BYTE*>(&dwKeyset), &cb, 0))
        dwKeyset = 0;
    Win32CryptProv hAes = 0;
    if (!::CryptAcquireContextA(&hAes, szContainer, MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES,
                                dwKeyset & CRYPT_MACHINE_KEYSET))
        return false;
    if (prov.bRelease)
        CryptReleaseContext(prov.hProv, 0);
    prov.hProv = hAes;
    prov.bRelease = true;
    return true;
}

} // namespace

bool CryptCreateHash(CryptProvider& prov, uint32_t dwAlgId, HCRYPTHASH& hHash)
{
    Win32CryptHash hNew = 0;
    if (!::CryptCreateHash(prov.hProv, dwAlgId, 0, 0, &hNew)) {
        // A key of an older software provider signs SHA-2 all the same,
        // through the provider that has it; any other refusal stands.
        const DWORD dwError = GetLastError();
        if (dwError != static_cast<DWORD>(NTE_BAD_ALGID) || !ReopenInAesProvider(prov)) {
            SetLastError(dwError);
            return false;
        }
        if (!::CryptCreateHash(prov.hProv, dwAlgId, 0, 0, &hNew))
            return false;
    }
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
