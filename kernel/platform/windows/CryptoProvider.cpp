// Private keys, hashing and raw signing through the certificate's CryptoAPI
// provider or CNG key storage provider, either of which asks for a token's
// PIN itself when it needs one. A CNG key is hashed with CNG's own hashes
// and signed with NCryptSignHash.
#include "CngKeyProvider.h"

#include <bcrypt.h>

#include <algorithm>
#include <string_view>

struct CryptProvider {
    Win32CryptProv hProv = 0;  // a CryptoAPI key's provider, or
    NCRYPT_KEY_HANDLE hKey = 0; // a CNG key
    bool bRelease = false;      // false when the certificate's context keeps it
};

struct CryptHash {
    Win32CryptHash hHash = 0;
    // For a CNG key: the hash, and the key that signs it.
    BCRYPT_ALG_HANDLE hAlg = nullptr;
    BCRYPT_HASH_HANDLE hCngHash = nullptr;
    NCRYPT_KEY_HANDLE hKey = 0;
    const wchar_t* pszAlgorithm = nullptr; // null for an ECDSA key, which signs the bare hash
    std::vector<uint8_t> vtrDigest;        // once the hash is finished
};

void CryptProviderDeleter::operator()(CryptProvider* p) const
{
    if (p->bRelease && p->hKey != 0)
        NCryptFreeObject(p->hKey);
    else if (p->bRelease)
        CryptReleaseContext(p->hProv, 0);
    delete p;
}

void CryptHashDeleter::operator()(CryptHash* p) const
{
    if (p->hHash != 0)
        CryptDestroyHash(p->hHash);
    if (p->hCngHash != nullptr)
        BCryptDestroyHash(p->hCngHash);
    if (p->hAlg != nullptr)
        BCryptCloseAlgorithmProvider(p->hAlg, 0);
    delete p;
}

namespace {

// CNG's statuses are HRESULTs (NTE_*); BCrypt's are NTSTATUS values, of
// which only the ones a hash can give are told apart.
bool FailWith(SECURITY_STATUS status)
{
    SetLastError(static_cast<DWORD>(status));
    return false;
}

bool FailWithNtStatus(NTSTATUS status)
{
    constexpr NTSTATUS kNoMemory = static_cast<NTSTATUS>(0xC0000017);
    constexpr NTSTATUS kNotFound = static_cast<NTSTATUS>(0xC0000225);
    constexpr NTSTATUS kNotSupported = static_cast<NTSTATUS>(0xC00000BB);
    if (status == kNoMemory)
        return FailWith(E_OUTOFMEMORY);
    if (status == kNotFound || status == kNotSupported)
        return FailWith(NTE_BAD_ALGID);
    return FailWith(NTE_FAIL);
}

// A NUL-terminated UTF-8 copy of a CNG string property, with the seam's size
// query.
bool GetStringProperty(NCRYPT_HANDLE hObject, const wchar_t* pszProperty, uint8_t* pbData, uint32_t* pcbData)
{
    wchar_t szValue[512] = {};
    DWORD cb = 0;
    const SECURITY_STATUS status =
        NCryptGetProperty(hObject, pszProperty, reinterpret_cast<BYTE*>(szValue), sizeof szValue - sizeof(wchar_t),
                          &cb, 0);
    if (status != ERROR_SUCCESS)
        return FailWith(status);
    const int cbUtf8 = WideCharToMultiByte(CP_UTF8, 0, szValue, -1, nullptr, 0, nullptr, nullptr);
    if (cbUtf8 <= 0)
        return false;
    if (pbData != nullptr) {
        if (*pcbData < static_cast<uint32_t>(cbUtf8))
            return FailWith(static_cast<SECURITY_STATUS>(HRESULT_FROM_WIN32(ERROR_MORE_DATA)));
        WideCharToMultiByte(CP_UTF8, 0, szValue, -1, reinterpret_cast<char*>(pbData), cbUtf8, nullptr, nullptr);
    }
    *pcbData = static_cast<uint32_t>(cbUtf8);
    return true;
}

bool GetNcryptProvParam(NCRYPT_KEY_HANDLE hKey, uint32_t dwParam, uint8_t* pbData, uint32_t* pcbData)
{
    if (dwParam == PP_CONTAINER)
        return GetStringProperty(hKey, NCRYPT_NAME_PROPERTY, pbData, pcbData);
    if (dwParam == PP_NAME) {
        NCRYPT_PROV_HANDLE hStorage = 0;
        DWORD cb = 0;
        const SECURITY_STATUS status = NCryptGetProperty(hKey, NCRYPT_PROVIDER_HANDLE_PROPERTY,
                                                         reinterpret_cast<BYTE*>(&hStorage), sizeof hStorage, &cb, 0);
        if (status != ERROR_SUCCESS)
            return FailWith(status);
        const bool bOk = GetStringProperty(hStorage, NCRYPT_NAME_PROPERTY, pbData, pcbData);
        const DWORD dwError = GetLastError();
        NCryptFreeObject(hStorage);
        SetLastError(dwError);
        return bOk;
    }
    if (dwParam == PP_IMPTYPE) {
        // The key's own type, else its provider's: hardware for a card's or
        // the TPM's provider, software for the software provider.
        DWORD dwType = 0;
        DWORD cb = 0;
        const SECURITY_STATUS status =
            NCryptGetProperty(hKey, NCRYPT_IMPL_TYPE_PROPERTY, reinterpret_cast<BYTE*>(&dwType), sizeof dwType, &cb, 0);
        if (status != ERROR_SUCCESS)
            return FailWith(status);
        uint32_t dwImpl = 0;
        if (dwType & NCRYPT_IMPL_HARDWARE_FLAG)
            dwImpl |= CRYPT_IMPL_HARDWARE;
        if (dwType & NCRYPT_IMPL_SOFTWARE_FLAG)
            dwImpl |= CRYPT_IMPL_SOFTWARE;
        if (dwType & NCRYPT_IMPL_REMOVABLE_FLAG)
            dwImpl |= CRYPT_IMPL_REMOVABLE;
        if (pbData != nullptr) {
            if (*pcbData < sizeof dwImpl)
                return FailWith(static_cast<SECURITY_STATUS>(HRESULT_FROM_WIN32(ERROR_MORE_DATA)));
            std::copy_n(reinterpret_cast<const uint8_t*>(&dwImpl), sizeof dwImpl, pbData);
        }
        *pcbData = sizeof dwImpl;
        return true;
    }
    return FailWith(NTE_BAD_TYPE);
}

const wchar_t* CngHashName(uint32_t dwAlgId)
{
    switch (dwAlgId) {
    case CALG_MD5:
        return BCRYPT_MD5_ALGORITHM;
    case CALG_SHA1:
        return BCRYPT_SHA1_ALGORITHM;
    case CALG_SHA_256:
        return BCRYPT_SHA256_ALGORITHM;
    case CALG_SHA_384:
        return BCRYPT_SHA384_ALGORITHM;
    case CALG_SHA_512:
        return BCRYPT_SHA512_ALGORITHM;
    default:
        return nullptr;
    }
}

// A hash object for a CNG key: RSA signs any of the five hashes with the
// PKCS#1 DigestInfo, ECDSA has no MD5 form, other kinds of key sign nothing.
bool CreateCngHash(NCRYPT_KEY_HANDLE hKey, uint32_t dwAlgId, HCRYPTHASH& hHash)
{
    const wchar_t* pszHash = CngHashName(dwAlgId);
    if (pszHash == nullptr)
        return FailWith(NTE_BAD_ALGID);
    wchar_t szGroup[64] = {};
    DWORD cb = 0;
    SECURITY_STATUS status = NCryptGetProperty(hKey, NCRYPT_ALGORITHM_GROUP_PROPERTY, reinterpret_cast<BYTE*>(szGroup),
                                               sizeof szGroup - sizeof(wchar_t), &cb, 0);
    if (status != ERROR_SUCCESS)
        return FailWith(status);
    const std::wstring_view group(szGroup);
    const bool bRsa = group == NCRYPT_RSA_ALGORITHM_GROUP;
    if (!bRsa && (group != NCRYPT_ECDSA_ALGORITHM_GROUP || dwAlgId == CALG_MD5))
        return FailWith(NTE_BAD_ALGID);
    auto* pHash = new (std::nothrow) CryptHash{};
    if (pHash == nullptr)
        return FailWith(E_OUTOFMEMORY);
    HCRYPTHASH hNew(pHash);
    pHash->hKey = hKey;
    pHash->pszAlgorithm = bRsa ? pszHash : nullptr;
    NTSTATUS ntStatus = BCryptOpenAlgorithmProvider(&pHash->hAlg, pszHash, nullptr, 0);
    if (ntStatus < 0)
        return FailWithNtStatus(ntStatus);
    ntStatus = BCryptCreateHash(pHash->hAlg, &pHash->hCngHash, nullptr, 0, nullptr, 0, 0);
    if (ntStatus < 0)
        return FailWithNtStatus(ntStatus);
    hHash = std::move(hNew);
    return true;
}

bool SignCngHash(CryptHash& hash, uint8_t* pbSignature, uint32_t* pcbSignature)
{
    if (hash.vtrDigest.empty()) {
        DWORD cbDigest = 0;
        DWORD cb = 0;
        NTSTATUS ntStatus = BCryptGetProperty(hash.hAlg, BCRYPT_HASH_LENGTH, reinterpret_cast<BYTE*>(&cbDigest),
                                              sizeof cbDigest, &cb, 0);
        if (ntStatus < 0)
            return FailWithNtStatus(ntStatus);
        std::vector<uint8_t> vtrDigest(cbDigest);
        ntStatus = BCryptFinishHash(hash.hCngHash, vtrDigest.data(), cbDigest, 0);
        if (ntStatus < 0)
            return FailWithNtStatus(ntStatus);
        hash.vtrDigest = std::move(vtrDigest);
    }
    BCRYPT_PKCS1_PADDING_INFO padding{hash.pszAlgorithm};
    void* pPadding = hash.pszAlgorithm != nullptr ? &padding : nullptr;
    const DWORD dwFlags = hash.pszAlgorithm != nullptr ? BCRYPT_PAD_PKCS1 : 0;
    DWORD cbSignature = 0;
    const SECURITY_STATUS status =
        NCryptSignHash(hash.hKey, pPadding, hash.vtrDigest.data(), static_cast<DWORD>(hash.vtrDigest.size()),
                       pbSignature, pbSignature != nullptr ? *pcbSignature : 0, &cbSignature, dwFlags);
    if (status != ERROR_SUCCESS)
        return FailWith(status);
    // CNG gives the most significant byte first (r, then s, for ECDSA); the
    // seam's order is the whole of it the other way round.
    if (pbSignature != nullptr)
        std::reverse(pbSignature, pbSignature + cbSignature);
    *pcbSignature = cbSignature;
    return true;
}

} // namespace

bool CryptAcquireCertificatePrivateKey(const CertContextRef& pCert, HCRYPTPROV& hProv, uint32_t& dwKeySpec)
{
    if (!pCert) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return false;
    }
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hKey = 0;
    DWORD dwSpec = 0;
    BOOL fCallerFree = FALSE;
    // A key held by a CNG key storage provider (a TPM's, a newer card
    // driver's, the software one Windows enrols and imports into) opens as a
    // CNG key; a CryptoAPI key as before. Not silent, so that a card's
    // provider can ask for its PIN.
    if (!::CryptAcquireCertificatePrivateKey(Win32Cert(*pCert), CRYPT_ACQUIRE_ALLOW_NCRYPT_KEY_FLAG, nullptr, &hKey,
                                             &dwSpec, &fCallerFree))
        return false;
    if (dwSpec == CERT_NCRYPT_KEY_SPEC) {
        if (!CryptProviderForCngKey(static_cast<NCRYPT_KEY_HANDLE>(hKey), fCallerFree != FALSE, hProv))
            return false;
        dwKeySpec = dwSpec;
        return true;
    }
    auto* pProv = new (std::nothrow) CryptProvider{hKey, 0, fCallerFree != FALSE};
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

bool CryptProviderForCngKey(NCRYPT_KEY_HANDLE hKey, bool bRelease, HCRYPTPROV& hProv)
{
    auto* pProv = new (std::nothrow) CryptProvider{0, hKey, bRelease};
    if (pProv == nullptr) {
        if (bRelease)
            NCryptFreeObject(hKey);
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return false;
    }
    hProv.reset(pProv);
    return true;
}

bool CryptGetProvParam(const CryptProvider& prov, uint32_t dwParam, uint8_t* pbData, uint32_t* pcbData)
{
    if (pcbData == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return false;
    }
    if (prov.hKey != 0)
        return GetNcryptProvParam(prov.hKey, dwParam, pbData, pcbData);
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
    if (prov.hKey != 0)
        return CreateCngHash(prov.hKey, dwAlgId, hHash);
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
    auto* pHash = new (std::nothrow) CryptHash{};
    if (pHash == nullptr) {
        CryptDestroyHash(hNew);
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return false;
    }
    pHash->hHash = hNew;
    hHash.reset(pHash);
    return true;
}

bool CryptHashData(CryptHash& hash, const uint8_t* pbData, uint32_t cbData)
{
    if (hash.hCngHash != nullptr) {
        const NTSTATUS ntStatus = BCryptHashData(hash.hCngHash, const_cast<PUCHAR>(pbData), cbData, 0);
        return ntStatus >= 0 || FailWithNtStatus(ntStatus);
    }
    return ::CryptHashData(hash.hHash, pbData, cbData, 0) != FALSE;
}

bool CryptSignHashW(CryptHash& hash, uint32_t dwKeySpec, uint8_t* pbSignature, uint32_t* pcbSignature)
{
    if (pcbSignature == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return false;
    }
    if (hash.hCngHash != nullptr)
        return SignCngHash(hash, pbSignature, pcbSignature);
    DWORD cbSignature = *pcbSignature;
    if (!::CryptSignHashW(hash.hHash, dwKeySpec, nullptr, 0, pbSignature, &cbSignature))
        return false;
    *pcbSignature = cbSignature;
    return true;
}
