// The crypto agent: the one object through which the request handlers reach
// the signing functions. It keeps the certificate selected for signing and
// the status of the last operation, and describes any status in words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel/Encodings.h"
#include "kernel/platform/StatusCodes.h"
#include "kernel/platform/CertContext.h"

// Sign types of the internal SignMessage.
constexpr int32_t SIGN_TYPE_PKCS1 = 1;
constexpr int32_t SIGN_TYPE_PKCS7 = 2;

// Hash kinds: 1 MD5, 2 SHA-1, 3 SHA-256, 4 SHA-384, 5 SHA-512.
constexpr int32_t HASH_KIND_MD5 = 1;
constexpr int32_t HASH_KIND_SHA1 = 2;
constexpr int32_t HASH_KIND_SHA256 = 3;
constexpr int32_t HASH_KIND_SHA384 = 4;
constexpr int32_t HASH_KIND_SHA512 = 5;

// The 16-bit boolean of the attached flag: exactly -1 is true.
constexpr int16_t VARIANT_TRUE = -1;
constexpr int16_t VARIANT_FALSE = 0;

// Purpose of a selection: the signing certificate.
constexpr int32_t CERT_PURPOSE_SIGNING = 1;

class CCryptoAgent {
public:
    CCryptoAgent();
    virtual ~CCryptoAgent();
    CCryptoAgent(const CCryptoAgent&) = delete;
    CCryptoAgent& operator=(const CCryptoAgent&) = delete;

    // Selects a certificate of the user's store that matches the filters
    // ("#"-separated alternatives, null for none), allows digital signatures
    // and has a usable key: the only one at once, one of several in the
    // selection dialog. Gives its subject in X.500 form; a failure leaves no
    // certificate selected.
    virtual HRESULT SelectCertificate(int32_t nPurpose, const char16_t* pwszSubjectDN, const char16_t* pwszIssuerDN,
                                      std::u16string& bstrSubjectDN);

    // Signs the message as an attached PKCS#7 SignedData; the algorithm is
    // "MD-5", "SHA-1" or "SHA-256" in any letter case.
    virtual HRESULT SignMessage(const char16_t* pwszMessage, const char16_t* pwszAlgorithm,
                                std::u16string& bstrSignature);

    // The internal form: sign type 1 (PKCS#1) or 2 (PKCS#7), hash kind 1 to
    // 5, attached when bAttached is exactly -1. Checks the message, then the
    // selected certificate, then the hash kind, then the sign type.
    virtual HRESULT SignMessage(const char16_t* pwszMessage, int32_t nSignType, int32_t nHashKind, int16_t bAttached,
                                std::u16string& bstrSignature);

    // Describes the last status: Tessera's own text for codes with the
    // customer bit, the system's text otherwise, then a line feed and the
    // code as "(0x%08x)". Leaves the last status as it is; always returns 0.
    virtual HRESULT GetLastErrorDesc(std::u16string& bstrDesc);

    virtual HRESULT SelectSignCertificate(const char16_t* pwszSubjectDN, const char16_t* pwszIssuerDN,
                                          std::u16string& bstrSubjectDN);
    virtual HRESULT SignMessageDetached(const char16_t* pwszMessage, const char16_t* pwszAlgorithm,
                                        std::u16string& bstrSignature);
    virtual HRESULT SignMessagePKCS1(const char16_t* pwszMessage, const char16_t* pwszAlgorithm,
                                     std::u16string& bstrSignature);

    // The size of the text that the signing operation of that sign type and
    // attached flag would give for the message, found without signing: no
    // PIN is asked for, and the last status stays as it is. Fails, leaving
    // size as it was, wherever the operation would fail before it signs (no
    // message, no certificate selected, an unknown algorithm) or the size
    // cannot be found.
    virtual HRESULT MeasureSignature(const char16_t* pwszMessage, const char16_t* pwszAlgorithm, int32_t nSignType,
                                     int16_t bAttached, Base64Size& size);

    // Records a request that reached no operation because one of its
    // arguments cannot be taken (a text holding U+0000, which the operations'
    // NUL-terminated strings cannot carry): the status becomes the last
    // status, and a refused selection leaves nothing selected, as a failed
    // one does. Returns the status.
    HRESULT RefuseArguments(HRESULT hResult, bool bSelection);

    // The hash kind of an algorithm name, or 0 when it is none of the three.
    static int32_t HashKindFromName(const char16_t* pwszAlgorithm);

protected:
    // The epilogue of every public operation: keeps negative results, turns
    // any other result into 0, and records it as the last status.
    HRESULT FinishOperation(HRESULT hResult);

    // The public signing forms: name to hash kind, then the internal form.
    HRESULT SignMessageByName(const char16_t* pwszMessage, const char16_t* pwszAlgorithm, int32_t nSignType,
                              int16_t bAttached, std::u16string& bstrSignature);

    HRESULT m_nLastError = KVRA_OK;
    // The certificate chosen by the last successful selection; the agent owns
    // one reference on each entry.
    std::vector<CertContextRef> m_vtrSignCertSet;
};
