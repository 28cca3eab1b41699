#include "HashAndSign.h"

#include <algorithm>
#include <new>

#include "Encodings.h"
#include "trace/TraceHelper.h"
#include "kernel/platform/LastError.h"

namespace {

constexpr uint32_t kHashPiece = 0x4000;

struct AlgorithmIdentifiers {
    uint32_t dwAlgId;
    const char* pszDigestOid;
    const char* pszSignatureOid;
};

constexpr AlgorithmIdentifiers kAlgorithms[] = {
    {CALG_MD5, "1.2.840.113549.2.5", "1.2.840.113549.1.1.4"},
    {CALG_SHA1, "1.3.14.3.2.26", "1.2.840.113549.1.1.1"},
    {CALG_SHA_256, "2.16.840.1.101.3.4.2.1", "1.2.840.113549.1.1.11"},
    {CALG_SHA_384, "2.16.840.1.101.3.4.2.2", "1.2.840.113549.1.1.12"},
    {CALG_SHA_512, "2.16.840.1.101.3.4.2.3", "1.2.840.113549.1.1.13"},
};

} // namespace

HRESULT LastErrorStatus()
{
    const HRESULT hr = KernelStatusFromError(GetLastError());
    return FAILED(hr) ? hr : E_FAIL;
}

bool GetAlgorithmIdentifiers(uint32_t dwAlgId, std::string& strDigestOid, std::string& strSignatureOid)
{
    for (const auto& algorithm : kAlgorithms) {
        if (algorithm.dwAlgId == dwAlgId) {
            strDigestOid = algorithm.pszDigestOid;
            strSignatureOid = algorithm.pszSignatureOid;
            return true;
        }
    }
    return false;
}

HRESULT GetProviderInfo(const CryptProvider& prov, uint32_t dwParam, std::vector<uint8_t>& vtrValue)
{
    TRACE_SCOPE();
    uint32_t cbValue = 0;
    if (!CryptGetProvParam(prov, dwParam, nullptr, &cbValue)) {
        const HRESULT hr = LastErrorStatus();
        TraceWideStatus(u"CryptGetProvParam", hr);
        return hr;
    }
    if (cbValue == 0) {
        TraceWideStatus(u"CryptGetProvParam", E_FAIL);
        return E_FAIL;
    }
    try {
        vtrValue.assign(cbValue, 0);
    } catch (const std::bad_alloc&) {
        TraceWideStatus(u"New Memory", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    if (!CryptGetProvParam(prov, dwParam, vtrValue.data(), &cbValue)) {
        const HRESULT hr = LastErrorStatus();
        TraceWideStatus(u"CryptGetProvParam", hr);
        return hr;
    }
    vtrValue.resize(cbValue);
    return KVRA_OK;
}

HRESULT CalculateHashandSign(const CertContextRef& pCert, const uint8_t* pbData, uint32_t dwDataLength,
                             uint32_t dwAlgId, std::vector<uint8_t>& vtrSignature)
{
    TRACE_SCOPE();
    if (pbData == nullptr && dwDataLength != 0) {
        TraceWideStatus(u"Check Parameters(pbData)", E_POINTER);
        return E_POINTER;
    }
    HCRYPTPROV hProv;
    uint32_t dwKeySpec = 0;
    if (!CryptAcquireCertificatePrivateKey(pCert, hProv, dwKeySpec)) {
        const HRESULT hr = LastErrorStatus();
        TraceWideStatus(u"CryptAcquireCertificatePrivateKey", hr);
        return hr;
    }
    TraceWideStatus(u"CryptAcquireCertificatePrivateKey", KVRA_OK);

    // The provider's name is for the trace only.
    if (TraceIsEnabled(TRACE_FLAG_INFO)) {
        std::vector<uint8_t> vtrName;
        if (SUCCEEDED(GetProviderInfo(*hProv, PP_NAME, vtrName)))
            TraceMessage(TRACE_FLAG_INFO, kTraceGuidCrypto, 10, reinterpret_cast<const char*>(vtrName.data()));
    }

    HCRYPTHASH hHash;
    if (!CryptCreateHash(*hProv, dwAlgId, hHash)) {
        const HRESULT hr = LastErrorStatus();
        TraceWideStatus(u"CryptCreateHash", hr);
        return hr;
    }
    for (uint32_t dwDone = 0; dwDone < dwDataLength;) {
        const uint32_t dwPiece = std::min(kHashPiece, dwDataLength - dwDone);
        if (!CryptHashData(*hHash, pbData + dwDone, dwPiece)) {
            const HRESULT hr = LastErrorStatus();
            TraceWideStatus(u"CryptHashData", hr);
            return hr;
        }
        dwDone += dwPiece;
    }

    uint32_t cbSignature = 0;
    if (!CryptSignHashW(*hHash, dwKeySpec, nullptr, &cbSignature)) {
        const HRESULT hr = LastErrorStatus();
        TraceWideStatus(u"CryptSignHash", hr);
        return hr;
    }
    try {
        vtrSignature.assign(cbSignature, 0);
    } catch (const std::bad_alloc&) {
        TraceWideStatus(u"New Memory", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    if (!CryptSignHashW(*hHash, dwKeySpec, vtrSignature.data(), &cbSignature)) {
        const HRESULT hr = LastErrorStatus();
        TraceWideStatus(u"CryptSignHash", hr);
        return hr;
    }
    vtrSignature.resize(cbSignature);
    // The platform's order is least significant byte first; PKCS#1 wants the
    // octet string the other way round.
    SwapByteOrder(vtrSignature.data(), cbSignature);
    TraceWideStatus(u"CryptSignHash", KVRA_OK);
    return KVRA_OK;
}
