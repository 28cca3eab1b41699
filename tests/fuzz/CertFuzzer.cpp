// libFuzzer target over the certificate side of the kernel: a certificate
// made from arbitrary DER, its names in every form, every property query,
// the filters, and a PKCS#7 SignedData that names it, with its size measured
// before signing.
//
// The input is the certificate's DER element followed by the criteria, which
// are read from the bytes after it. A bare certificate is a complete input
// (every criterion then takes its first choice), so the seeds are plain
// certificates.
//
// Besides crashes, leaks and undefined behaviour, the target checks what
// must hold for any certificate: sizes reported by the queries match the
// values, a truncated name is a prefix of the whole name, a filter made of
// the certificate's own fields keeps it and one that differs in a single
// field drops it, the SignedData parses back and names the certificate, and
// its size measured beforehand is the size it has.
#include <fuzzer/FuzzedDataProvider.h>
#include <nss.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kernel/CertificateFilters.h"
#include "kernel/CertificateProperties.h"
#include "kernel/Encodings.h"
#include "kernel/HashAndSign.h"
#include "kernel/Pkcs7Encoder.h"
#include "kernel/platform/CertContext.h"
#include "kernel/platform/CertFields.h"
#include "kernel/platform/CertName.h"
#include "kernel/platform/linux/CertContextData.h"

namespace {

[[noreturn]] void Failed(const char* pszCheck, int nLine)
{
    std::fprintf(stderr, "CertFuzzer.cpp:%d: check failed: %s\n", nLine, pszCheck);
    std::abort();
}
#define CHECK(condition)                                                                                               \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            Failed(#condition, __LINE__);                                                                              \
    } while (0)

// The length of the DER element the input starts with, header included, or 0
// when the header is not a definite length that fits in the input.
size_t LeadingElementLength(const uint8_t* pb, size_t cb)
{
    if (cb < 2)
        return 0;
    size_t cbHeader = 2;
    size_t cbValue = pb[1];
    if (cbValue & 0x80) {
        const size_t cbLength = cbValue & 0x7F;
        if (cbLength == 0 || cbLength > 4 || cb < 2 + cbLength)
            return 0;
        cbValue = 0;
        for (size_t i = 0; i < cbLength; ++i)
            cbValue = cbValue << 8 | pb[2 + i];
        cbHeader += cbLength;
    }
    return cbValue <= cb - cbHeader ? cbHeader + cbValue : 0;
}

// Text for a filter from the input: bytes as Latin-1 characters (so that
// ASCII dictionary words mean what they say), or pairs of bytes as UTF-16
// code units (so that every unit, surrogates included, can occur).
std::u16string ConsumeText(FuzzedDataProvider& fdp)
{
    const bool bWide = fdp.ConsumeBool();
    const std::string str = fdp.ConsumeRandomLengthString(bWide ? 1024 : 512);
    std::u16string wstr;
    if (bWide) {
        for (size_t i = 0; i + 1 < str.size(); i += 2)
            wstr.push_back(static_cast<char16_t>(static_cast<uint8_t>(str[i]) | static_cast<uint8_t>(str[i + 1]) << 8));
    } else {
        for (const char c : str)
            wstr.push_back(static_cast<uint8_t>(c));
    }
    return wstr;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// A part of a name, with the letter case of its ASCII letters changed as the
// input says. Every such part must match the name it came from. A part never
// splits a surrogate pair, and its first 255 units (all a filter looks at)
// don't end inside one either.
std::u16string PartOf(const std::u16string& wstrName, FuzzedDataProvider& fdp)
{
    size_t nStart = fdp.ConsumeIntegralInRange<size_t>(0, wstrName.size());
    size_t nEnd = fdp.ConsumeIntegralInRange<size_t>(nStart, wstrName.size());
    if (nStart > 0 && nStart < wstrName.size() && IsLowSurrogate(wstrName[nStart]) &&
        IsHighSurrogate(wstrName[nStart - 1]))
        --nStart;
    nEnd = std::min(nEnd, nStart + kMaxAlternativeLength);
    if (nEnd > nStart && nEnd < wstrName.size() && IsHighSurrogate(wstrName[nEnd - 1]) &&
        IsLowSurrogate(wstrName[nEnd]))
        --nEnd;
    std::u16string wstrPart = wstrName.substr(nStart, nEnd - nStart);
    const uint8_t bCaseMask = fdp.ConsumeIntegral<uint8_t>();
    for (size_t i = 0; i < wstrPart.size(); ++i) {
        char16_t& c = wstrPart[i];
        if (((bCaseMask >> (i % 8)) & 1) && c < 0x80 && ((c | 0x20) >= u'a' && (c | 0x20) <= u'z'))
            c ^= 0x20;
    }
    return wstrPart;
}

// Runs the filter over a list holding the certificate and reports whether it
// was kept. A filter with too many alternatives is refused (E_INVALIDARG):
// then there is nothing to tell.
enum class Outcome { Kept, Dropped, Refused };
Outcome RunFilter(const CertFilter& filter, const CertContextRef& pCert)
{
    const CertList inList{pCert};
    CertList outList;
    const HRESULT hr = FilterCertificates(&filter, outList, inList);
    if (hr == E_INVALIDARG) {
        CHECK(outList.empty());
        return Outcome::Refused;
    }
    CHECK(hr == KVRA_OK);
    CHECK(outList.size() <= 1);
    if (outList.empty())
        return Outcome::Dropped;
    CHECK(outList.front() == pCert);
    return Outcome::Kept;
}

void ExpectKept(const CertFilter& filter, const CertContextRef& pCert)
{
    CHECK(RunFilter(filter, pCert) != Outcome::Dropped);
}

void ExpectDropped(const CertFilter& filter, const CertContextRef& pCert)
{
    CHECK(RunFilter(filter, pCert) != Outcome::Kept);
}

// Every form of the name: the sizes agree, the written text ends in its NUL,
// and a buffer too short for it gets a NUL-terminated prefix.
void CheckNameForms(const CERT_NAME_BLOB& name, FuzzedDataProvider& fdp)
{
    const CERT_NAME_BLOB* pName = &name;
    static constexpr uint32_t kForms[] = {CERT_SIMPLE_NAME_STR, CERT_X500_NAME_STR};
    static constexpr uint32_t kFlags[] = {0, CERT_NAME_STR_REVERSE_FLAG, CERT_NAME_STR_NO_QUOTING_FLAG,
                                          CERT_NAME_STR_REVERSE_FLAG | CERT_NAME_STR_NO_QUOTING_FLAG};
    for (const uint32_t dwForm : kForms) {
        for (const uint32_t dwFlags : kFlags) {
            const uint32_t dwStrType = dwForm | dwFlags;
            const uint32_t cchNeeded = CertNameToStrW(X509_ASN_ENCODING, pName, dwStrType, nullptr, 0);
            if (cchNeeded == 0)
                continue; // a value that cannot be read: the failure is the answer
            std::vector<char16_t> vtrWhole(cchNeeded); // exactly the size asked for
            CHECK(CertNameToStrW(X509_ASN_ENCODING, pName, dwStrType, vtrWhole.data(), cchNeeded) == cchNeeded);
            CHECK(vtrWhole.back() == u'\0');

            const uint32_t cchShort = fdp.ConsumeIntegralInRange<uint32_t>(1, cchNeeded);
            std::vector<char16_t> vtrShort(cchShort);
            CHECK(CertNameToStrW(X509_ASN_ENCODING, pName, dwStrType, vtrShort.data(), cchShort) == cchShort);
            CHECK(vtrShort.back() == u'\0');
            CHECK(std::equal(vtrShort.begin(), vtrShort.end() - 1, vtrWhole.begin()));
        }
    }
}

struct Properties {
    std::u16string wstrSubject, wstrIssuer; // X.500 form
    bool bSubject = false, bIssuer = false;
    std::vector<uint8_t> vtrSerial;
    std::vector<uint8_t> vtrKeyId;
    bool bKeyId = false;
    uint32_t dwKeyUsage = 0;
    bool bKeyUsage = false;
    SYSTEMTIME stFrom{}, stTo{};
};

// A name query: the size counts the NUL, and is the same without a value.
bool QueryName(const CertContextRef& pCert, int nKind, std::u16string& wstrName)
{
    uint32_t cch = 0;
    if (FAILED(QueryCertContextInfo(pCert, nKind, &wstrName, &cch)))
        return false;
    CHECK(cch == wstrName.size() + 1);
    uint32_t cchAlone = 0;
    CHECK(SUCCEEDED(QueryCertContextInfo(pCert, nKind, nullptr, &cchAlone)));
    CHECK(cchAlone == cch);
    return true;
}

// Every query kind, and kinds that are none.
Properties QueryAll(const CertContextRef& pCert, FuzzedDataProvider& fdp)
{
    Properties props;
    props.bSubject = QueryName(pCert, CERT_QUERY_SUBJECT_X500, props.wstrSubject);
    std::u16string wstrSimpleSubject;
    CHECK(QueryName(pCert, CERT_QUERY_SUBJECT_SIMPLE, wstrSimpleSubject) == props.bSubject);
    props.bIssuer = QueryName(pCert, CERT_QUERY_ISSUER, props.wstrIssuer);

    uint32_t cb = 0;
    CHECK(SUCCEEDED(QueryCertContextInfo(pCert, CERT_QUERY_SERIAL_NUMBER, &props.vtrSerial, &cb)));
    CHECK(cb == props.vtrSerial.size());
    CHECK(!props.vtrSerial.empty()); // an INTEGER has at least one content byte

    if (SUCCEEDED(QueryCertContextInfo(pCert, CERT_QUERY_SUBJECT_KEY_ID, &props.vtrKeyId, &cb))) {
        props.bKeyId = true;
        CHECK(cb == props.vtrKeyId.size());
    }
    CHECK(SUCCEEDED(GetCertSubjectKeyID(pCert, nullptr, nullptr)) == props.bKeyId);

    const HRESULT hrUsage = QueryCertContextInfo(pCert, CERT_QUERY_KEY_USAGE, &props.dwKeyUsage, &cb);
    if (SUCCEEDED(hrUsage)) {
        props.bKeyUsage = true;
        CHECK(cb == sizeof(uint32_t));
        CHECK(props.dwKeyUsage <= 0xFF);
    } else {
        CHECK(hrUsage == KVRA_E_NO_KEY_USAGE);
    }

    CHECK(SUCCEEDED(QueryCertContextInfo(pCert, CERT_QUERY_FROM_DATE, &props.stFrom, &cb)));
    CHECK(cb == sizeof(SYSTEMTIME));
    CHECK(SUCCEEDED(QueryCertContextInfo(pCert, CERT_QUERY_TO_DATE, &props.stTo, &cb)));
    CHECK(cb == sizeof(SYSTEMTIME));

    // The key's provider and container: a certificate made from DER alone
    // has no key, one with an NSS certificate has none that can be found.
    for (const int nKind : {CERT_QUERY_PROVIDER_NAME, CERT_QUERY_CONTAINER_NAME}) {
        std::u16string wstrValue;
        if (SUCCEEDED(QueryCertContextInfo(pCert, nKind, &wstrValue, &cb)))
            CHECK(cb == wstrValue.size());
    }

    for (const int nKind : {0, 11, -1, fdp.ConsumeIntegral<int>()}) {
        if (nKind < CERT_QUERY_SUBJECT_X500 || nKind > CERT_QUERY_CONTAINER_NAME)
            CHECK(QueryCertContextInfo(pCert, nKind, nullptr, nullptr) == KVRA_E_QUERY_TYPE_NOT_SUPPORTED);
    }
    return props;
}

// Byte strings compared over the certificate's own length: a criterion
// equal to the value, or longer, keeps the certificate; one that is shorter
// (but not empty) or differs in a byte drops it. set() fills in the field.
template <typename Set>
void CheckBytesCriterion(const std::vector<uint8_t>& vtrOwn, const CertContextRef& pCert, FuzzedDataProvider& fdp,
                         Set&& set)
{
    if (vtrOwn.empty())
        return; // an empty criterion is no criterion
    CertFilter filter;
    std::vector<uint8_t> vtrLonger = vtrOwn;
    vtrLonger.push_back(fdp.ConsumeIntegral<uint8_t>());
    set(filter, vtrLonger.data(), static_cast<uint32_t>(vtrOwn.size()));
    ExpectKept(filter, pCert);
    set(filter, vtrLonger.data(), static_cast<uint32_t>(vtrLonger.size()));
    ExpectKept(filter, pCert);
    if (vtrOwn.size() > 1) {
        set(filter, vtrLonger.data(), static_cast<uint32_t>(vtrOwn.size() - 1));
        ExpectDropped(filter, pCert);
    }
    std::vector<uint8_t> vtrChanged = vtrOwn;
    vtrChanged[fdp.ConsumeIntegralInRange<size_t>(0, vtrChanged.size() - 1)] ^=
        static_cast<uint8_t>(fdp.ConsumeIntegralInRange<int>(1, 255));
    set(filter, vtrChanged.data(), static_cast<uint32_t>(vtrChanged.size()));
    ExpectDropped(filter, pCert);
}

// FILETIME covers 1601 on; the file time of a calendar time before it is not
// defined, so the validity checks leave such certificates out.
bool InFileTimeRange(const SYSTEMTIME& st) { return st.wYear >= 1601 && st.wYear <= 9999; }

// Each criterion on its own, from the certificate's own fields: the field
// itself keeps the certificate, a different one drops it. Then all of them
// together.
void CheckOwnCriteria(const CertContextRef& pCert, const Properties& props, FuzzedDataProvider& fdp)
{
    // Names are matched in their X.500 form. A value holding a NUL cuts the
    // filter short, which leaves it a part of the name all the same.
    CertFilter all;
    std::u16string wstrSubjectPart, wstrIssuerPart;
    if (props.bSubject) {
        wstrSubjectPart = PartOf(props.wstrSubject, fdp);
        CertFilter filter;
        filter.pwszSubjectDN = all.pwszSubjectDN = wstrSubjectPart.c_str();
        ExpectKept(filter, pCert);
    }
    if (props.bIssuer) {
        wstrIssuerPart = PartOf(props.wstrIssuer, fdp);
        CertFilter filter;
        filter.pwszIssuerDN = all.pwszIssuerDN = wstrIssuerPart.c_str();
        ExpectKept(filter, pCert);
    }

    {
        CertFilter filter;
        if (props.bKeyUsage && props.dwKeyUsage != 0) {
            filter.dwKeyUsage = props.dwKeyUsage;
            ExpectKept(filter, pCert);
            const uint32_t dwSome = props.dwKeyUsage & fdp.ConsumeIntegral<uint8_t>();
            all.dwKeyUsage = dwSome != 0 ? dwSome : props.dwKeyUsage;
        }
        // Bits the certificate lacks; without the extension it has none.
        const uint32_t dwOther =
            props.bKeyUsage ? ~props.dwKeyUsage & 0xFF : fdp.ConsumeIntegralInRange<uint32_t>(1, 0xFF);
        if (dwOther != 0) {
            filter.dwKeyUsage = dwOther;
            ExpectDropped(filter, pCert);
        }
    }

    CheckBytesCriterion(props.vtrKeyId, pCert, fdp, [](CertFilter& f, const uint8_t* pb, uint32_t cb) {
        f.pbSubjectKeyID = pb;
        f.cbSubjectKeyID = cb;
    });
    CheckBytesCriterion(props.vtrSerial, pCert, fdp, [](CertFilter& f, const uint8_t* pb, uint32_t cb) {
        f.pbSerialNumber = pb;
        f.cbSerialNumber = cb;
    });
    if (props.bKeyId) {
        all.pbSubjectKeyID = props.vtrKeyId.data();
        all.cbSubjectKeyID = static_cast<uint32_t>(props.vtrKeyId.size());
    }
    all.pbSerialNumber = props.vtrSerial.data();
    all.cbSerialNumber = static_cast<uint32_t>(props.vtrSerial.size());

    // Validity: both ends count as valid, a tick outside either does not.
    FILETIME ftMoment = 0;
    if (InFileTimeRange(props.stFrom) && InFileTimeRange(props.stTo)) {
        const FILETIME ftFrom = SystemTimeToFileTime(props.stFrom);
        const FILETIME ftTo = SystemTimeToFileTime(props.stTo);
        if (ftFrom <= ftTo) {
            CertFilter filter;
            for (const FILETIME ft : {ftFrom, ftTo, ftFrom + (ftTo - ftFrom) / 2}) {
                filter.pftValidityTime = &ft;
                ExpectKept(filter, pCert);
            }
            for (const FILETIME ft : {ftFrom - 1, ftTo + 1}) {
                filter.pftValidityTime = &ft;
                ExpectDropped(filter, pCert);
            }
            ftMoment = fdp.ConsumeIntegralInRange<FILETIME>(ftFrom, ftTo);
            all.pftValidityTime = &ftMoment;
        }
    }

    // The signature algorithm: any beginning of its identifier keeps the
    // certificate, the identifier with a digit more drops it.
    const std::string strOid = GetSignatureAlgorithmOid(*pCert);
    const std::string strOidPrefix = strOid.substr(0, fdp.ConsumeIntegralInRange<size_t>(0, strOid.size()));
    const std::string strOidLonger = strOid + "9";
    {
        CertFilter filter;
        filter.pszSignatureAlgOID = strOidPrefix.c_str();
        ExpectKept(filter, pCert);
        filter.pszSignatureAlgOID = strOidLonger.c_str();
        ExpectDropped(filter, pCert);
    }
    all.pszSignatureAlgOID = strOidPrefix.c_str();

    ExpectKept(all, pCert);
}

// Criteria straight from the input, each or all of them: whatever they are,
// the filter answers and keeps nothing but the certificate it was given.
void CheckInputCriteria(const CertContextRef& pCert, const Properties& props, FuzzedDataProvider& fdp)
{
    std::u16string wstrSubject = ConsumeText(fdp);
    std::u16string wstrIssuer = ConsumeText(fdp);
    // Mixed with the name's own text, a filter reaches the matching.
    if (props.bSubject && fdp.ConsumeBool())
        wstrSubject += u'#' + PartOf(props.wstrSubject, fdp);
    if (props.bIssuer && fdp.ConsumeBool())
        wstrIssuer = PartOf(props.wstrIssuer, fdp) + u'#' + wstrIssuer;
    const std::vector<uint8_t> vtrKeyId = fdp.ConsumeBytes<uint8_t>(fdp.ConsumeIntegralInRange<size_t>(0, 64));
    const std::vector<uint8_t> vtrSerial = fdp.ConsumeBytes<uint8_t>(fdp.ConsumeIntegralInRange<size_t>(0, 64));
    const std::string strOid = fdp.ConsumeRandomLengthString(64);
    const FILETIME ftTime = fdp.ConsumeIntegral<FILETIME>();

    CertFilter filter;
    const uint8_t bUse = fdp.ConsumeIntegral<uint8_t>();
    if (bUse & 0x01)
        filter.pwszSubjectDN = wstrSubject.c_str();
    if (bUse & 0x02)
        filter.pwszIssuerDN = wstrIssuer.c_str();
    if (bUse & 0x04) {
        filter.pbSubjectKeyID = vtrKeyId.data();
        filter.cbSubjectKeyID = static_cast<uint32_t>(vtrKeyId.size());
    }
    if (bUse & 0x08) {
        filter.pbSerialNumber = vtrSerial.data();
        filter.cbSerialNumber = static_cast<uint32_t>(vtrSerial.size());
    }
    if (bUse & 0x10)
        filter.pszSignatureAlgOID = strOid.c_str();
    if (bUse & 0x20)
        filter.pftValidityTime = &ftTime;
    filter.dwKeyUsage = fdp.ConsumeIntegral<uint32_t>();
    // Exactly 1 asks for the private key, which none of these certificates
    // has where it can be found.
    filter.bCheckPrivateKey = fdp.ConsumeIntegral<int32_t>();
    const Outcome outcome = RunFilter(filter, pCert);
    if (filter.bCheckPrivateKey == 1)
        CHECK(outcome != Outcome::Kept);

    // A null record, and a list with the certificate twice.
    CertList outList;
    CHECK(FilterCertificates(nullptr, outList, CertList{pCert, pCert}) == KVRA_OK);
    CHECK(outList.size() == 2);

    // The calendar form of a file time gives it back, to the millisecond.
    if (ftTime <= static_cast<FILETIME>(INT64_MAX / 2)) {
        const SYSTEMTIME st = FileTimeToSystemTime(ftTime);
        CHECK(SystemTimeToFileTime(st) == ftTime - ftTime % 10000);
    }
}

bool SameDer(const X509_NAME* pName1, const X509_NAME* pName2)
{
    const unsigned char *pb1 = nullptr, *pb2 = nullptr;
    size_t cb1 = 0, cb2 = 0;
    return X509_NAME_get0_der(const_cast<X509_NAME*>(pName1), &pb1, &cb1) == 1 &&
           X509_NAME_get0_der(const_cast<X509_NAME*>(pName2), &pb2, &cb2) == 1 && cb1 == cb2 &&
           std::equal(pb1, pb1 + cb1, pb2);
}

// Decodes Base64 text that may hold CR LF pairs.
bool DecodeBase64(const std::u16string& wstrText, std::vector<uint8_t>& vtrBytes)
{
    std::string strText;
    for (const char16_t c : wstrText) {
        if (c != u'\r' && c != u'\n')
            strText.push_back(static_cast<char>(c));
    }
    if (strText.size() % 4 != 0)
        return false;
    vtrBytes.resize(strText.size() / 4 * 3);
    const int n = EVP_DecodeBlock(vtrBytes.data(), reinterpret_cast<const unsigned char*>(strText.data()),
                                  static_cast<int>(strText.size()));
    if (n < 0)
        return false;
    size_t cbPadding = 0;
    for (size_t i = strText.size(); i > 0 && strText[i - 1] == '='; --i)
        ++cbPadding;
    vtrBytes.resize(static_cast<size_t>(n) - cbPadding);
    return true;
}

// A SignedData naming the certificate, with a signature and content from
// the input: it parses, holds the certificate as given, and its signer is
// the certificate's issuer and serial number.
void CheckSignedData(const CertContextRef& pCert, FuzzedDataProvider& fdp)
{
    static constexpr uint32_t kAlgorithms[] = {0x8003, 0x8004, 0x800C, 0x800D, 0x800E};
    std::string strDigestOid, strSignatureOid;
    CHECK(GetAlgorithmIdentifiers(fdp.PickValueInArray(kAlgorithms), strDigestOid, strSignatureOid));
    const bool bOwnOids = fdp.ConsumeBool();
    if (bOwnOids) {
        strDigestOid = fdp.ConsumeRandomLengthString(48);
        strSignatureOid = fdp.ConsumeRandomLengthString(48);
    }
    const bool bAttached = fdp.ConsumeBool();
    const uint32_t dwBase64Flags = fdp.ConsumeBool() ? BASE64_NO_LINE_BREAKS : 0;
    std::vector<uint8_t> vtrSignature = fdp.ConsumeBytes<uint8_t>(fdp.ConsumeIntegralInRange<size_t>(1, 512));
    if (vtrSignature.empty())
        vtrSignature.push_back(0);
    const std::vector<uint8_t> vtrContent = fdp.ConsumeRemainingBytes<uint8_t>();

    std::u16string wstrResult;
    uint32_t cchResult = 0;
    const HRESULT hr = EncapsulatePKCS7(vtrContent.data(), static_cast<uint32_t>(vtrContent.size()), nullptr, false,
                                        bAttached, pCert, strDigestOid, strSignatureOid, vtrSignature.data(),
                                        static_cast<uint32_t>(vtrSignature.size()), dwBase64Flags, wstrResult,
                                        &cchResult);
    if (FAILED(hr)) {
        CHECK(bOwnOids); // only identifiers that are not ones can fail it
        return;
    }
    CHECK(cchResult == wstrResult.size());
    std::vector<uint8_t> vtrDer;
    CHECK(DecodeBase64(wstrResult, vtrDer));

    const unsigned char* p = vtrDer.data();
    PKCS7* pP7 = d2i_PKCS7(nullptr, &p, static_cast<long>(vtrDer.size()));
    CHECK(pP7 != nullptr);
    CHECK(p == vtrDer.data() + vtrDer.size());
    CHECK(PKCS7_type_is_signed(pP7));
    const PKCS7_SIGNED* pSigned = pP7->d.sign;
    CHECK(sk_X509_num(pSigned->cert) == 1);
    const std::vector<uint8_t>& vtrCert = pCert->vtrEncoded;
    CHECK(std::search(vtrDer.begin(), vtrDer.end(), vtrCert.begin(), vtrCert.end()) != vtrDer.end());
    CHECK(sk_PKCS7_SIGNER_INFO_num(pSigned->signer_info) == 1);
    const PKCS7_SIGNER_INFO* pSigner = sk_PKCS7_SIGNER_INFO_value(pSigned->signer_info, 0);
    CHECK(SameDer(pSigner->issuer_and_serial->issuer, X509_get_issuer_name(pCert->pX509.get())));
    CHECK(ASN1_INTEGER_cmp(pSigner->issuer_and_serial->serial, X509_get0_serialNumber(pCert->pX509.get())) == 0);
    CHECK(static_cast<size_t>(ASN1_STRING_length(pSigner->enc_digest)) == vtrSignature.size());
    CHECK(std::equal(vtrSignature.begin(), vtrSignature.end(), ASN1_STRING_get0_data(pSigner->enc_digest)));
    const ASN1_OCTET_STRING* pContent = PKCS7_type_is_data(pSigned->contents) ? pSigned->contents->d.data : nullptr;
    if (bAttached) {
        CHECK(pContent != nullptr);
        CHECK(static_cast<size_t>(ASN1_STRING_length(pContent)) == vtrContent.size());
        CHECK(std::equal(vtrContent.begin(), vtrContent.end(), ASN1_STRING_get0_data(pContent)));
    } else {
        CHECK(pContent == nullptr || ASN1_STRING_length(pContent) == 0);
    }
    PKCS7_free(pP7);
}

// The size a signature's text will have, measured before signing, is the size
// of the text made with a signature of the key's longest length, under the
// identifiers of the key's own kind; a hash the key has none for is refused
// by the measure as well. The content's
// length is chosen to take one of the nested elements across a boundary of
// its length field (128, 256 or 65,536 bytes), where a measurement that
// adds up lengths would go wrong first.
void CheckMeasuredSize(const CertContextRef& pCert, FuzzedDataProvider& fdp)
{
    static constexpr uint32_t kAlgorithms[] = {0x8003, 0x8004, 0x800C, 0x800D, 0x800E};
    const uint32_t dwAlgId = fdp.PickValueInArray(kAlgorithms);
    const bool bAttached = fdp.ConsumeBool();
    std::string strDigestOid, strSignatureOid;
    const KeyAlgorithm keyAlgorithm = GetPublicKeyInfo(*pCert).algorithm;
    if (!GetAlgorithmIdentifiers(dwAlgId, keyAlgorithm, strDigestOid, strSignatureOid)) {
        Base64Size size{};
        CHECK(MeasureSignData(0, pCert, dwAlgId, fdp.ConsumeBool(), size) == NTE_BAD_ALGID);
        return;
    }
    const uint32_t cbSignature = GetMaxSignatureLength(*pCert);
    const std::vector<uint8_t> vtrSignature(std::max<uint32_t>(cbSignature, 1), 0x5A);

    std::u16string wstrDetached;
    CHECK(SUCCEEDED(EncapsulatePKCS7(nullptr, 0, nullptr, false, false, pCert, strDigestOid, strSignatureOid,
                                     vtrSignature.data(), static_cast<uint32_t>(vtrSignature.size()), 0,
                                     wstrDetached, nullptr)));
    std::vector<uint8_t> vtrDetached;
    CHECK(DecodeBase64(wstrDetached, vtrDetached));
    static constexpr int64_t kBoundaries[] = {0x80, 0x100, 0x10000};
    const int64_t nBase = fdp.ConsumeBool() ? 0 : static_cast<int64_t>(vtrDetached.size());
    const int64_t nLength = fdp.PickValueInArray(kBoundaries) - nBase - fdp.ConsumeIntegralInRange<int64_t>(-8, 48);
    const auto cbContent = static_cast<uint32_t>(std::max<int64_t>(nLength, 0));

    Base64Size size{};
    const HRESULT hrMeasured = MeasureSignData(cbContent, pCert, dwAlgId, bAttached, size);
    if (cbSignature == 0) {
        CHECK(FAILED(hrMeasured)); // no key to sign with
        return;
    }
    const std::vector<uint8_t> vtrContent(cbContent, 'm');
    std::u16string wstrText;
    const HRESULT hr = EncapsulatePKCS7(vtrContent.data(), cbContent, nullptr, false, bAttached, pCert, strDigestOid,
                                        strSignatureOid, vtrSignature.data(), cbSignature, 0, wstrText, nullptr);
    CHECK(SUCCEEDED(hrMeasured) == SUCCEEDED(hr));
    if (FAILED(hr))
        return;
    CHECK(size.cchText == wstrText.size());
    uint64_t cLineBreaks = 0;
    for (size_t i = 0; i + 1 < wstrText.size(); ++i)
        cLineBreaks += wstrText[i] == u'\r' && wstrText[i + 1] == u'\n';
    CHECK(size.cLineBreaks == cLineBreaks);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // NSS without a database: enough to make certificates of its own from
    // DER, and to look for their keys in vain.
    if (NSS_NoDB_Init(nullptr) != SECSuccess) {
        std::fprintf(stderr, "cert fuzzer: NSS_NoDB_Init failed\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const size_t cbElement = LeadingElementLength(data, size);
    const size_t cbCert = cbElement != 0 ? cbElement : size;
    FuzzedDataProvider fdp(data + cbCert, size - cbCert);

    // Half of the certificates also come with NSS's own certificate, as the
    // store's do, so that looking for the key gets as far as NSS.
    CERTCertificate* pNssCert = nullptr;
    if (fdp.ConsumeBool()) {
        SECItem item{siBuffer, const_cast<uint8_t*>(data), static_cast<unsigned int>(cbCert)};
        pNssCert = CERT_NewTempCertificate(CERT_GetDefaultCertDB(), &item, nullptr, PR_FALSE, PR_TRUE);
    }
    const CertContextRef pCert = CreateTokenCertificateContext(data, cbCert, pNssCert, nullptr);
    if (!pCert)
        return 0;

    CheckNameForms(GetSubjectNameBlob(*pCert), fdp);
    CheckNameForms(GetIssuerNameBlob(*pCert), fdp);
    const Properties props = QueryAll(pCert, fdp);
    CheckOwnCriteria(pCert, props, fdp);
    CheckInputCriteria(pCert, props, fdp);
    CheckMeasuredSize(pCert, fdp);
    // The SignedData carries the DER as it was given, so only a certificate
    // that is exactly one element can be expected to parse back. Its content
    // is the rest of the input.
    if (cbElement != 0)
        CheckSignedData(pCert, fdp);
    return 0;
}
