#include "CryptoProviderData.h"

#include <openssl/x509.h>
#include <secerr.h>
#include <sslerr.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "kernel/platform/LastError.h"
#include "NssSession.h"

namespace {

constexpr uint32_t SCARD_W_REMOVED_CARD = 0x80100069;
constexpr uint32_t SCARD_W_WRONG_CHV = 0x8010006B;
constexpr uint32_t SCARD_W_CHV_BLOCKED = 0x8010006C;
constexpr uint32_t SCARD_W_CANCELLED_BY_USER = 0x8010006E;
constexpr uint32_t NTE_BAD_ALGID_CODE = 0x80090008;
constexpr uint32_t NTE_FAIL_CODE = 0x80090020;
constexpr uint32_t NTE_BAD_HASH_STATE = 0x8009000C;
constexpr uint32_t CRYPT_E_NO_KEY_PROPERTY = 0x8009200B;
constexpr uint32_t ERROR_MORE_DATA = 234;
constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
constexpr uint32_t kOutOfMemory = 0x8007000E;

struct HashAlgorithm {
    uint32_t dwAlgId;
    const EVP_MD* (*pfnDigest)();
    // DER of the DigestInfo up to the digest itself.
    std::vector<uint8_t> vtrPrefix;
};

const HashAlgorithm* FindHashAlgorithm(uint32_t dwAlgId)
{
    static const HashAlgorithm kAlgorithms[] = {
        {0x8003, EVP_md5, {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x02, 0x05, 0x05,
                           0x00, 0x04, 0x10}},
        {0x8004, EVP_sha1, {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14}},
        {0x800C, EVP_sha256, {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02,
                              0x01, 0x05, 0x00, 0x04, 0x20}},
        {0x800D, EVP_sha384, {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02,
                              0x02, 0x05, 0x00, 0x04, 0x30}},
        {0x800E, EVP_sha512, {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02,
                              0x03, 0x05, 0x00, 0x04, 0x40}},
    };
    for (const auto& algorithm : kAlgorithms) {
        if (algorithm.dwAlgId == dwAlgId)
            return &algorithm;
    }
    return nullptr;
}

// The name a PIN prompt shows for the certificate: its common name, or the
// whole subject when it has none.
std::string DisplayName(const CERT_CONTEXT& cert)
{
    const X509_NAME* pSubject = X509_get_subject_name(cert.pX509.get());
    const int nIndex = X509_NAME_get_index_by_NID(pSubject, NID_commonName, -1);
    if (nIndex >= 0) {
        unsigned char* pszUtf8 = nullptr;
        const int n = ASN1_STRING_to_UTF8(&pszUtf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(pSubject, nIndex)));
        if (n >= 0) {
            std::string strName(reinterpret_cast<char*>(pszUtf8), static_cast<size_t>(n));
            OPENSSL_free(pszUtf8);
            return strName;
        }
    }
    char szName[256];
    X509_NAME_oneline(pSubject, szName, sizeof szName);
    return szName;
}

// The Windows code for a failed key operation, from what the PIN prompt
// saw and what NSS reported.
uint32_t KeyFailureCode(const PinPromptContext& pin, bool bFinding)
{
    if (pin.bCancelled)
        return SCARD_W_CANCELLED_BY_USER;
    if (pin.bBlocked)
        return SCARD_W_CHV_BLOCKED;
    if (pin.bGaveUp)
        return SCARD_W_WRONG_CHV;
    // A token whose reader has a PIN pad: NSS turns a Cancel on the pad, or
    // the reader giving up waiting (which drivers report as a cancel too),
    // CKR_FUNCTION_CANCELED, into a library failure. A key's own login
    // that fails is not reported at all: NSS signs anyway, and the token
    // refuses as not logged in. Either way the token's flags tell a PIN
    // the pad has just locked from the user's giving up.
    const int nError = PORT_GetError();
    if (pin.pPadSlot && (nError == SEC_ERROR_LIBRARY_FAILURE || nError == SEC_ERROR_TOKEN_NOT_LOGGED_IN)) {
        CK_TOKEN_INFO info{};
        if (PK11_GetTokenInfo(pin.pPadSlot.get(), &info) == SECSuccess && (info.flags & CKF_USER_PIN_LOCKED))
            return SCARD_W_CHV_BLOCKED;
        return SCARD_W_CANCELLED_BY_USER;
    }
    switch (nError) {
    case SEC_ERROR_LOCKED_PASSWORD:
        return SCARD_W_CHV_BLOCKED;
    case SEC_ERROR_BAD_PASSWORD:
        return SCARD_W_WRONG_CHV;
    case SEC_ERROR_NO_TOKEN:
        return SCARD_W_REMOVED_CARD;
    case SEC_ERROR_NO_KEY:
    case SSL_ERROR_NO_CERTIFICATE:
    case 0:
        return bFinding ? CRYPT_E_NO_KEY_PROPERTY : NTE_FAIL_CODE;
    case SEC_ERROR_INVALID_ALGORITHM:
    case SEC_ERROR_BAD_KEY:
        return NTE_BAD_ALGID_CODE;
    default:
        return bFinding ? CRYPT_E_NO_KEY_PROPERTY : NTE_FAIL_CODE;
    }
}

bool CopyOut(const std::vector<uint8_t>& vtrValue, uint8_t* pbData, uint32_t* pcbData)
{
    if (pcbData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return false;
    }
    const auto cbValue = static_cast<uint32_t>(vtrValue.size());
    if (pbData == nullptr) {
        *pcbData = cbValue;
        return true;
    }
    if (*pcbData < cbValue) {
        *pcbData = cbValue;
        SetLastError(ERROR_MORE_DATA);
        return false;
    }
    std::memcpy(pbData, vtrValue.data(), cbValue);
    *pcbData = cbValue;
    return true;
}

std::vector<uint8_t> AsCString(const std::string& str)
{
    std::vector<uint8_t> vtr(str.begin(), str.end());
    vtr.push_back(0);
    return vtr;
}

} // namespace

void CryptProviderDeleter::operator()(CryptProvider* p) const
{
    delete p;
}

void CryptHashDeleter::operator()(CryptHash* p) const
{
    delete p;
}

bool TokenMayHoldKey(PK11SlotInfo* pSlot, CERTCertificate* pCert)
{
    if (CERT_IsUserCert(pCert))
        return true;
    if (pSlot == nullptr || !PK11_NeedLogin(pSlot))
        return false;
    if (PK11_IsLoggedIn(pSlot, nullptr)) {
        // No prompt: the token is logged in, and without a context nothing
        // would be asked anyway.
        const std::unique_ptr<SECKEYPrivateKey, PrivateKeyDeleter> pKey(
            PK11_FindPrivateKeyFromCert(pSlot, pCert, nullptr));
        return pKey != nullptr;
    }
    // The certificate database itself also keeps other people's and
    // authorities' certificates, and pairs its own with their keys: no
    // guessing there.
    if (PK11_IsInternal(pSlot))
        return false;
    return !CERT_IsCACert(pCert, nullptr);
}

bool CryptAcquireCertificatePrivateKey(const CertContextRef& pCert, HCRYPTPROV& hProv, uint32_t& dwKeySpec)
{
    hProv.reset();
    if (!pCert) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return false;
    }
    // A certificate of a database's own key comes with that key and no NSS
    // certificate; any other needs NSS's to find its key.
    CERTCertificate* pNssCert = pCert->pNssCert.get();
    if (pNssCert == nullptr && !pCert->pDatabaseKey) {
        SetLastError(CRYPT_E_NO_KEY_PROPERTY);
        return false;
    }
    try {
        HCRYPTPROV pProv(new CryptProvider());
        pProv->pCert = pCert;
        pProv->pin.strCertName = DisplayName(*pCert);
        PK11SlotInfo* pSlot = pCert->pSlot ? pCert->pSlot.get() : pNssCert != nullptr ? pNssCert->slot : nullptr;
        if (pSlot != nullptr)
            pProv->pSlot.reset(PK11_ReferenceSlot(pSlot));
        // A token taken out (and perhaps put back) since it was last used:
        // asking NSS whether it is there also replaces the session NSS had
        // with it, which died with the removal, and so forgets its login.
        if (pSlot != nullptr && !PK11_IsPresent(pSlot)) {
            SetLastError(SCARD_W_REMOVED_CARD);
            return false;
        }
        const bool bWaitsForLogin = pSlot != nullptr && PK11_NeedLogin(pSlot) && !PK11_IsLoggedIn(pSlot, nullptr);
        if (bWaitsForLogin) {
            // As a smart card's provider does, open the key without asking
            // for the PIN: the login waits for the first use of the key. Until
            // then the key counts as present by the rule listing uses.
            if (pNssCert == nullptr || !TokenMayHoldKey(pSlot, pNssCert)) {
                SetLastError(CRYPT_E_NO_KEY_PROPERTY);
                return false;
            }
        } else if (pCert->pDatabaseKey) {
            pProv->pKey.reset(SECKEY_CopyPrivateKey(pCert->pDatabaseKey.get()));
        }
        if (!bWaitsForLogin && !pProv->pKey) {
            if (!EnsurePrivateKey(*pProv))
                return false;
            // A database's key is found once: selecting again, the filters
            // need not ask the database for it again.
            if (pSlot != nullptr && !PK11_NeedLogin(pSlot) && !DatabaseDir(pSlot).empty())
                pCert->pDatabaseKey.reset(SECKEY_CopyPrivateKey(pProv->pKey.get()));
        }
        dwKeySpec = AT_KEYEXCHANGE;
        hProv = std::move(pProv);
        return true;
    } catch (const std::bad_alloc&) {
        SetLastError(kOutOfMemory);
        return false;
    }
}

bool EnsurePrivateKey(CryptProvider& prov)
{
    if (prov.pKey)
        return true;
    PORT_SetError(0);
    PK11SlotInfo* pSlot = prov.pSlot.get();
    CERTCertificate* pNssCert = prov.pCert->pNssCert.get();
    if (pNssCert == nullptr) {
        SetLastError(CRYPT_E_NO_KEY_PROPERTY);
        return false;
    }
    // Logging in may prompt for the PIN through the provider's context.
    if (pSlot != nullptr && PK11_NeedLogin(pSlot) && !PK11_IsLoggedIn(pSlot, nullptr)) {
        const SECStatus rv = PK11_Authenticate(pSlot, PR_TRUE, &prov.pin);
        // A PIN pad's notice goes as soon as its login has returned.
        prov.pin.CloseNotice();
        if (rv != SECSuccess) {
            SetLastError(KeyFailureCode(prov.pin, false));
            return false;
        }
    }
    // The key on the certificate's own token, the one whose CKA_ID is the
    // certificate's; without a token, anywhere.
    prov.pKey.reset(pSlot != nullptr ? PK11_FindPrivateKeyFromCert(pSlot, pNssCert, &prov.pin)
                                     : PK11_FindKeyByAnyCert(pNssCert, &prov.pin));
    prov.pin.CloseNotice();
    if (!prov.pKey) {
        SetLastError(KeyFailureCode(prov.pin, true));
        return false;
    }
    if (pSlot == nullptr)
        prov.pSlot.reset(PK11_GetSlotFromPrivateKey(prov.pKey.get()));
    return true;
}

bool CryptGetProvParam(const CryptProvider& prov, uint32_t dwParam, uint8_t* pbData, uint32_t* pcbData)
{
    PK11SlotInfo* pSlot = prov.pSlot.get();
    try {
        switch (dwParam) {
        case PP_NAME: {
            // A Firefox profile's database is a token of NSS's own module;
            // its name says which profile it is.
            if (const ProfileDatabase* pProfile = FindProfileDatabase(pSlot))
                return CopyOut(AsCString("Firefox profile \"" + pProfile->strName + "\" (" + pProfile->strDir + ")"),
                               pbData, pcbData);
            SECMODModule* pModule = pSlot != nullptr ? PK11_GetModule(pSlot) : nullptr;
            const char* pszName = pModule != nullptr && pModule->commonName != nullptr ? pModule->commonName : "";
            return CopyOut(AsCString(pszName), pbData, pcbData);
        }
        case PP_CONTAINER: {
            // "token:nickname", the way NSS names an object on a token. NSS
            // prefixes a token certificate's nickname with the name of a
            // token that holds it, which need not be this one.
            const std::string strToken = pSlot != nullptr ? PK11_GetTokenName(pSlot) : "";
            std::string strNickname;
            if (char* pszKeyNickname = prov.pKey ? PK11_GetPrivateKeyNickname(prov.pKey.get()) : nullptr) {
                strNickname = pszKeyNickname;
                PORT_Free(pszKeyNickname);
            }
            if (strNickname.empty() && prov.pCert->pNssCert && prov.pCert->pNssCert->nickname != nullptr) {
                strNickname = prov.pCert->pNssCert->nickname;
                if (const size_t nColon = strNickname.find(':'); nColon != std::string::npos)
                    strNickname.erase(0, nColon + 1);
            }
            return CopyOut(AsCString(strToken + ":" + strNickname), pbData, pcbData);
        }
        case PP_IMPTYPE: {
            // NSS reports every database it opened after start-up, such as
            // a Firefox profile's, as removable: it can be closed again. The
            // keys in it are software keys all the same.
            uint32_t dwType = CRYPT_IMPL_SOFTWARE;
            const bool bDevice = pSlot != nullptr && !IsOpenedDatabase(pSlot);
            if (bDevice && PK11_IsHW(pSlot))
                dwType = CRYPT_IMPL_HARDWARE;
            if (bDevice && PK11_IsRemovable(pSlot))
                dwType |= CRYPT_IMPL_REMOVABLE;
            std::vector<uint8_t> vtrValue(sizeof dwType);
            std::memcpy(vtrValue.data(), &dwType, sizeof dwType);
            return CopyOut(vtrValue, pbData, pcbData);
        }
        default:
            SetLastError(ERROR_INVALID_PARAMETER_CODE);
            return false;
        }
    } catch (const std::bad_alloc&) {
        SetLastError(kOutOfMemory);
        return false;
    }
}

namespace {

// The mechanism that signs with the certificate's key: CKM_RSA_PKCS over a
// DigestInfo for RSA, CKM_ECDSA over the bare digest for EC, or 0 for any
// other key. The certificate tells the key's type without touching the key.
CK_MECHANISM_TYPE SigningMechanism(const CryptProvider& prov)
{
    const EVP_PKEY* pPublicKey = CertPublicKey(*prov.pCert);
    switch (pPublicKey != nullptr ? EVP_PKEY_get_base_id(pPublicKey) : EVP_PKEY_NONE) {
    case EVP_PKEY_RSA:
        return CKM_RSA_PKCS;
    case EVP_PKEY_EC:
        return CKM_ECDSA;
    default:
        return 0;
    }
}

} // namespace

bool CryptCreateHash(CryptProvider& prov, uint32_t dwAlgId, HCRYPTHASH& hHash)
{
    hHash.reset();
    const HashAlgorithm* pAlgorithm = FindHashAlgorithm(dwAlgId);
    // RSA keys make PKCS#1 signatures, EC keys ECDSA ones, which have no
    // MD5 form; the token must do the mechanism.
    const CK_MECHANISM_TYPE mechanism = SigningMechanism(prov);
    if (pAlgorithm == nullptr || mechanism == 0 || (mechanism == CKM_ECDSA && dwAlgId == CALG_MD5) ||
        (prov.pSlot && !PK11_DoesMechanism(prov.pSlot.get(), mechanism))) {
        SetLastError(NTE_BAD_ALGID_CODE);
        return false;
    }
    try {
        HCRYPTHASH pHash(new CryptHash());
        pHash->pProvider = &prov;
        pHash->dwAlgId = dwAlgId;
        pHash->pDigest.reset(EVP_MD_CTX_new());
        if (!pHash->pDigest || EVP_DigestInit_ex(pHash->pDigest.get(), pAlgorithm->pfnDigest(), nullptr) != 1) {
            SetLastError(NTE_FAIL_CODE);
            return false;
        }
        hHash = std::move(pHash);
        return true;
    } catch (const std::bad_alloc&) {
        SetLastError(kOutOfMemory);
        return false;
    }
}

bool CryptHashData(CryptHash& hash, const uint8_t* pbData, uint32_t cbData)
{
    if (!hash.vtrDigest.empty()) {
        SetLastError(NTE_BAD_HASH_STATE);
        return false;
    }
    if (cbData != 0 && EVP_DigestUpdate(hash.pDigest.get(), pbData, cbData) != 1) {
        SetLastError(NTE_FAIL_CODE);
        return false;
    }
    return true;
}

bool CryptSignHashW(CryptHash& hash, uint32_t /*dwKeySpec*/, uint8_t* pbSignature, uint32_t* pcbSignature)
{
    if (pcbSignature == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return false;
    }
    if (!EnsurePrivateKey(*hash.pProvider))
        return false;
    SECKEYPrivateKey* pKey = hash.pProvider->pKey.get();
    const int nLength = PK11_SignatureLen(pKey);
    if (nLength <= 0) {
        SetLastError(NTE_FAIL_CODE);
        return false;
    }
    const auto cbSignature = static_cast<uint32_t>(nLength);
    if (pbSignature == nullptr) {
        *pcbSignature = cbSignature;
        return true;
    }
    if (*pcbSignature < cbSignature) {
        *pcbSignature = cbSignature;
        SetLastError(ERROR_MORE_DATA);
        return false;
    }
    try {
        if (hash.vtrDigest.empty()) {
            unsigned char abDigest[EVP_MAX_MD_SIZE];
            unsigned int cbDigest = 0;
            if (EVP_DigestFinal_ex(hash.pDigest.get(), abDigest, &cbDigest) != 1) {
                SetLastError(NTE_FAIL_CODE);
                return false;
            }
            hash.vtrDigest.assign(abDigest, abDigest + cbDigest);
        }
        // RSA: NSS refuses MD5 in its own DigestInfo signing, so the
        // DigestInfo is built here and signed raw. ECDSA signs the bare
        // digest and gives r||s, each half the field's size.
        const CK_MECHANISM_TYPE mechanism = SigningMechanism(*hash.pProvider);
        std::vector<uint8_t> vtrData;
        if (mechanism == CKM_RSA_PKCS)
            vtrData = FindHashAlgorithm(hash.dwAlgId)->vtrPrefix;
        vtrData.insert(vtrData.end(), hash.vtrDigest.begin(), hash.vtrDigest.end());
        SECItem data{siBuffer, vtrData.data(), static_cast<unsigned int>(vtrData.size())};
        SECItem signature{siBuffer, pbSignature, cbSignature};
        PORT_SetError(0);
        // A key that wants its PIN before every signature logs in again here,
        // with the PIN typed for this signature, if any; then it is forgotten.
        const SECStatus rv = PK11_SignWithMechanism(pKey, mechanism, nullptr, &signature, &data);
        hash.pProvider->pin.ForgetPin();
        if (rv != SECSuccess) {
            SetLastError(KeyFailureCode(hash.pProvider->pin, false));
            return false;
        }
        // NSS gives the big-endian octet string; the platform's order is
        // least significant byte first.
        std::reverse(pbSignature, pbSignature + signature.len);
        *pcbSignature = signature.len;
        return true;
    } catch (const std::bad_alloc&) {
        SetLastError(kOutOfMemory);
        return false;
    }
}
