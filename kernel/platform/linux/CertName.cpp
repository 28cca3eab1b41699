#include "kernel/platform/CertName.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "kernel/platform/LastError.h"
#include "kernel/platform/TextConversion.h"

namespace {

constexpr uint32_t kOutOfMemory = 0x8007000E;
constexpr uint32_t kBadEncoding = 0x8009310B;

struct X509NameDeleter {
    void operator()(X509_NAME* p) const { X509_NAME_free(p); }
};

struct AttributeKey {
    const char* pszOid;
    const char* pszKey;
};

// The keys Windows writes for the attribute types it knows.
constexpr AttributeKey kKeys[] = {
    {"2.5.4.3", "CN"},
    {"2.5.4.7", "L"},
    {"2.5.4.10", "O"},
    {"2.5.4.11", "OU"},
    {"1.2.840.113549.1.9.1", "E"},
    {"2.5.4.6", "C"},
    {"2.5.4.8", "S"},
    {"2.5.4.9", "STREET"},
    {"2.5.4.12", "T"},
    {"2.5.4.42", "G"},
    {"2.5.4.43", "I"},
    {"2.5.4.4", "SN"},
    {"0.9.2342.19200300.100.1.25", "DC"},
    {"2.5.4.5", "SERIALNUMBER"},
    {"2.5.4.13", "Description"},
    {"2.5.4.17", "PostalCode"},
    {"2.5.4.18", "POBox"},
    {"2.5.4.20", "Phone"},
    {"2.5.4.24", "X21Address"},
    {"2.5.4.46", "dnQualifier"},
    {"2.5.4.65", "Pseudonym"},
    {"0.9.2342.19200300.100.1.1", "UID"},
    {"1.2.840.113549.1.9.2", "UnstructuredName"},
    {"1.2.840.113549.1.9.8", "UnstructuredAddress"},
};

std::string KeyOf(const ASN1_OBJECT* pObject)
{
    char szOid[128];
    if (OBJ_obj2txt(szOid, sizeof szOid, pObject, 1) <= 0)
        return "OID.";
    for (const auto& key : kKeys) {
        if (std::string_view(szOid) == key.pszOid)
            return key.pszKey;
    }
    return std::string("OID.") + szOid;
}

// The whole name as UTF-8, or false when a value cannot be read.
bool FormatName(const X509_NAME* pName, uint32_t dwStrType, std::string& strOut)
{
    const bool bSimple = (dwStrType & 0xFF) == CERT_SIMPLE_NAME_STR;
    const bool bReverse = (dwStrType & CERT_NAME_STR_REVERSE_FLAG) != 0;
    const int nEntries = X509_NAME_entry_count(pName);

    // Group the entries into relative names, in encoded order.
    std::vector<std::string> rdns;
    int nLastSet = -1;
    for (int i = 0; i < nEntries; ++i) {
        const X509_NAME_ENTRY* pEntry = X509_NAME_get_entry(pName, i);
        unsigned char* pszUtf8 = nullptr;
        const int nLength = ASN1_STRING_to_UTF8(&pszUtf8, X509_NAME_ENTRY_get_data(pEntry));
        if (nLength < 0)
            return false;
        std::string strValue(reinterpret_cast<char*>(pszUtf8), static_cast<size_t>(nLength));
        OPENSSL_free(pszUtf8);
        const std::string strAttribute =
            bSimple ? strValue : KeyOf(X509_NAME_ENTRY_get_object(pEntry)) + "=" + strValue;
        const int nSet = X509_NAME_ENTRY_set(pEntry);
        if (nSet == nLastSet && !rdns.empty())
            rdns.back() += " + " + strAttribute;
        else
            rdns.push_back(strAttribute);
        nLastSet = nSet;
    }
    strOut.clear();
    for (size_t i = 0; i < rdns.size(); ++i) {
        if (i > 0)
            strOut += ", ";
        strOut += rdns[bReverse ? rdns.size() - 1 - i : i];
    }
    return true;
}

} // namespace

uint32_t CertNameToStrW(uint32_t /*dwCertEncodingType*/, const CERT_NAME_BLOB* pNameBlob, uint32_t dwStrType,
                        char16_t* psz, uint32_t csz)
{
    const unsigned char* pbName = pNameBlob != nullptr ? pNameBlob->pbData : nullptr;
    const std::unique_ptr<X509_NAME, X509NameDeleter> pParsed(
        pbName != nullptr ? d2i_X509_NAME(nullptr, &pbName, static_cast<long>(pNameBlob->cbData)) : nullptr);
    const X509_NAME* pName = pParsed.get();
    if (pName == nullptr) {
        SetLastError(kBadEncoding);
        return 0;
    }
    try {
        std::string strUtf8;
        if (!FormatName(pName, dwStrType, strUtf8)) {
            SetLastError(kBadEncoding);
            return 0;
        }
        const std::u16string wstr = ConvertUtf8ToUtf16(strUtf8);
        const auto cchNeeded = static_cast<uint32_t>(wstr.size() + 1);
        if (psz == nullptr)
            return cchNeeded;
        if (csz == 0)
            return 0;
        const uint32_t cchCopy = std::min<uint32_t>(cchNeeded - 1, csz - 1);
        wstr.copy(psz, cchCopy);
        psz[cchCopy] = u'\0';
        return cchCopy + 1;
    } catch (const std::bad_alloc&) {
        SetLastError(kOutOfMemory);
        return 0;
    }
}
