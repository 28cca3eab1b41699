#include "HashAndSign.h"

#include <algorithm>
#include <new>

#include "DerEncoder.h"
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

// ECDSA has no MD5 form.
constexpr AlgorithmIdentifiers kEcdsaAlgorithms[] = {
    {CALG_SHA1, "1.3.14.3.2.26", "1.2.840.10045.4.1"},
    {CALG_SHA_256, "2.16.840.1.101.3.4.2.1", "1.2.840.10045.4.3.2"},
    {CALG_SHA_384, "2.16.840.1.101.3.4.2.2", "1.2.840.10045.4.3.3"},
    {CALG_SHA_512, "2.16.840.1.101.3.4.2.3", "1.2.840.10045.4.3.4"},
};

template <size_t N>
bool FindIdentifiers(const AlgorithmIdentifiers (&table)[N], uint32_t dwAlgId, std::string& strDigestOid,
                     std::string& strSignatureOid)
{
    for (const auto& algorithm : table) {
        if (algorithm.dwAlgId == dwAlgId) {
            strDigestOid = algorithm.pszDigestOid;
            strSignatureOid = algorithm.pszSignatureOid;
            return true;
        }
    }
    return false;
}

// One half of a raw ECDSA signature as an INTEGER: redundant leading zero
// bytes go (one byte is always kept), and a 00 goes in front when the top
// bit is set, since r and s are positive.
HRESULT EncodeUnsignedInteger(const uint8_t* pbValue, uint32_t cbValue, std::vector<uint8_t>& vtrInteger)
{
    uint32_t nSkip = 0;
    while (nSkip + 1 < cbValue && pbValue[nSkip] == 0)
        ++nSkip;
    std::vector<uint8_t> vtrContent;
    if (pbValue[nSkip] & 0x80)
        vtrContent.push_back(0x00);
    vtrContent.insert(vtrContent.end(), pbValue + nSkip, pbValue + cbValue);
    return ASN1Encode(0x02, vtrContent.data(), static_cast<uint32_t>(vtrContent.size()), vtrInteger);
}

} // namespace

bool GetAlgorithmIdentifiers(uint32_t dwAlgId, KeyAlgorithm keyAlgorithm, std::string& strDigestOid,
                             std::string& strSignatureOid)
{
    switch (keyAlgorithm) {
    case KeyAlgorithm::Rsa:
        return FindIdentifiers(kAlgorithms, dwAlgId, strDigestOid, strSignatureOid);
    case KeyAlgorithm::Ec:
        return FindIdentifiers(kEcdsaAlgorithms, dwAlgId, strDigestOid, strSignatureOid);
    default:
        return false;
    }
}

HRESULT EncodeEcdsaSignature(const uint8_t* pbRaw, uint32_t cbRaw, std::vector<uint8_t>& vtrDer)
{
    TRACE_SCOPE();
    if (pbRaw == nullptr || cbRaw == 0 || cbRaw % 2 != 0) {
        TraceWideStatus(u"Check Parameters(cbRaw)", E_FAIL);
        return E_FAIL;
    }
    try {
        const uint32_t cbHalf = cbRaw / 2;
        std::vector<uint8_t> vtrR, vtrS;
        HRESULT hr = EncodeUnsignedInteger(pbRaw, cbHalf, vtrR);
        if (SUCCEEDED(hr))
            hr = EncodeUnsignedInteger(pbRaw + cbHalf, cbHalf, vtrS);
        if (FAILED(hr))
            return hr;
        vtrR.insert(vtrR.end(), vtrS.begin(), vtrS.end());
        return ASN1Encode(0x30, vtrR.data(), static_cast<uint32_t>(vtrR.size()), vtrDer);
    } catch (const std::bad_alloc&) {
        TraceWideStatus(u"New Memory", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
}

uint32_t GetMaxSignatureLength(const CERT_CONTEXT& cert)
{
    const PublicKeyInfo key = GetPublicKeyInfo(cert);
    if (key.algorithm != KeyAlgorithm::Ec)
        return GetSignatureLength(cert);
    if (key.dwBits == 0 || key.dwBits > 0x10000)
        return 0;
    // r and s are below the group order, of the curve's size: at most that
    // many bytes, plus a sign byte when the top byte can have its top bit set.
    const uint32_t cbInteger = (key.dwBits + 7) / 8 + (key.dwBits % 8 == 0 ? 1 : 0);
    return static_cast<uint32_t>(DerElementLength(2 * DerElementLength(cbInteger)));
}

HRESULT LastErrorStatus()
{
    const HRESULT hr = KernelStatusFromError(GetLastError());
    return FAILED(hr) ? hr : E_FAIL;
}

bool GetAlgorithmIdentifiers(uint32_t dwAlgId, std::string& strDigestOid, std::string& strSignatureOid)
{
    return FindIdentifiers(kAlgorithms, dwAlgId, strDigestOid, strSignatureOid);
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
    // A hash an EC key has no signature algorithm for is refused before the
    // key is touched, so before any PIN prompt.
    const bool bEcdsa = pCert && GetPublicKeyInfo(*pCert).algorithm == KeyAlgorithm::Ec;
    std::string strDigestOid, strSignatureOid;
    if (bEcdsa && !GetAlgorithmIdentifiers(dwAlgId, KeyAlgorithm::Ec, strDigestOid, strSignatureOid)) {
        TraceWideStatus(u"GetAlgorithmIdentifiers", NTE_BAD_ALGID);
        return NTE_BAD_ALGID;
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
    if (bEcdsa) {
        // An EC key gives r||s; a signer states the DER ECDSA-Sig-Value.
        std::vector<uint8_t> vtrDer;
        const HRESULT hr = EncodeEcdsaSignature(vtrSignature.data(), cbSignature, vtrDer);
        if (FAILED(hr)) {
            TraceWideStatus(u"EncodeEcdsaSignature", hr);
            return hr;
        }
        vtrSignature = std::move(vtrDer);
    }
    TraceWideStatus(u"CryptSignHash", KVRA_OK);
    return KVRA_OK;
}
