#include "CertificateListItems.h"

#include <algorithm>

#include "kernel/CertificateFilters.h"
#include "kernel/CertificateProperties.h"
#include "kernel/Encodings.h"
#include "kernel/platform/CertName.h"
#include "kernel/platform/CryptoProvider.h"
#include "ui/LastErrorStatus.h"
#include "kernel/platform/WideFormat.h"
#include "trace/TraceHelper.h"

#define TRACE_WMODULE u"SelectCertificateDlg"

namespace {

constexpr size_t kMaxFieldValue = 127;
constexpr int kLineCch = 256;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The value after the first "key=" up to the next comma (empty when there is
// none), cut to its first 127 characters rather than dropped when longer. A
// cut never splits a surrogate pair: the lone high half goes as well.
std::u16string FieldValue(const std::u16string& wstrName, const std::u16string& wstrKey)
{
    const size_t nStart = wstrName.find(wstrKey);
    if (nStart == std::u16string::npos)
        return {};
    const size_t nValue = nStart + wstrKey.size();
    const size_t nEnd = wstrName.find(u',', nValue);
    std::u16string wstrValue = wstrName.substr(nValue, nEnd == std::u16string::npos ? nEnd : nEnd - nValue);
    if (wstrValue.size() > kMaxFieldValue) {
        size_t nKeep = kMaxFieldValue;
        if (IsHighSurrogate(wstrValue[nKeep - 1]) && IsLowSurrogate(wstrValue[nKeep]))
            --nKeep;
        wstrValue.resize(nKeep);
    }
    return wstrValue;
}

// Names compare case-insensitively for A to Z only.
bool NameLess(const std::u16string& a, const std::u16string& b)
{
    auto fold = [](char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&](char16_t x, char16_t y) { return fold(x) < fold(y); });
}

// The string-table entry as a format, or the last-error status.
HRESULT LoadFormat(HINSTANCE hModule, uint32_t nId, char16_t (&wszFormat)[kLineCch])
{
    return LoadStringW(hModule, nId, wszFormat, kLineCch) == 0 ? LastErrorStatus() : KVRA_OK;
}

constexpr uint32_t IDS_ISSUER = 205;
constexpr uint32_t IDS_SERIAL_NUMBER = 206;
constexpr uint32_t IDS_VALIDITY = 207;

} // namespace

HRESULT LoadCertificateListItems(HINSTANCE hResourceModule, const CertStore* hCertStore,
                                 std::vector<CertContextRef>& vtrCertificateSet,
                                 std::vector<CertificateListItem>& vtrItems)
{
    TraceHelper traceHelper("CSelectCertificateDlg::LoadCertificates");
    static constexpr char16_t kFunc[] = u"CSelectCertificateDlg::LoadCertificates";
    HRESULT hResult = ExtractCertificatesFromStore(hCertStore, vtrCertificateSet);
    if (FAILED(hResult)) {
        TRACE_WSTEP_FAILED(kFunc, u"ExtractCertificatesFromStore", hResult, u"FAILED(hResult)");
    }
    vtrItems.clear();

    char16_t wszFormat[kLineCch];
    char16_t wszLine[kLineCch];
    for (size_t i = 0; SUCCEEDED(hResult) && i < vtrCertificateSet.size(); ++i) {
        const CertContextRef& pCert = vtrCertificateSet[i];
        CertificateListItem item;
        item.pCertContext = pCert;

        // Where the key lives. A provider whose type cannot be read counts
        // as the system's own.
        HCRYPTPROV hProv;
        uint32_t dwKeySpec = 0;
        if (CryptAcquireCertificatePrivateKey(pCert, hProv, dwKeySpec)) {
            uint32_t dwType = 0, cbType = sizeof dwType;
            if (CryptGetProvParam(*hProv, PP_IMPTYPE, reinterpret_cast<uint8_t*>(&dwType), &cbType))
                item.bHardwareKey = (dwType & (CRYPT_IMPL_HARDWARE | CRYPT_IMPL_REMOVABLE)) != 0 ? 1 : 0;
        }

        std::u16string wstrSubject, wstrIssuer;
        if (FAILED(hResult = GetCertSubject(pCert, &wstrSubject, nullptr, CERT_X500_NAME_STR))) {
            TRACE_WSTEP_FAILED(kFunc, u"QueryCertContextInfo (Subject)", hResult, u"FAILED(hResult)");
            break;
        }
        item.strName = FieldValue(wstrSubject, u"CN=");

        if (FAILED(hResult = GetCertIssuer(pCert, &wstrIssuer, nullptr))) {
            TRACE_WSTEP_FAILED(kFunc, u"QueryCertContextInfo (Issuer)", hResult, u"FAILED(hResult)");
            break;
        }
        if (FAILED(hResult = LoadFormat(hResourceModule, IDS_ISSUER, wszFormat))) {
            TRACE_WSTEP_FAILED(kFunc, u"LoadString (Issuer)", hResult, u"nRetCode == 0");
            break;
        }
        const std::u16string wstrOrganisation = wstrIssuer.find(u"O=") != std::u16string::npos
                                                    ? FieldValue(wstrIssuer, u"O=")
                                                    : FieldValue(wstrIssuer, u"CN=");
        FormatWide(wszLine, kLineCch, wszFormat, wstrOrganisation.c_str());
        item.strIssuer = wszLine;

        std::vector<uint8_t> vtrSerial;
        std::u16string wstrSerial;
        if (FAILED(hResult = GetCertSerialNumber(pCert, &vtrSerial, nullptr))) {
            TRACE_WSTEP_FAILED(kFunc, u"QueryCertContextInfo (Serial number", hResult, u"FAILED(hResult)");
            break;
        }
        if (FAILED(hResult = ConvertBinaryDataToString(vtrSerial.data(), static_cast<uint32_t>(vtrSerial.size()),
                                                       wstrSerial))) {
            TRACE_WSTEP_FAILED(kFunc, u"FormatStringFromData (Serial number", hResult, u"FAILED(hResult)");
            break;
        }
        if (FAILED(hResult = LoadFormat(hResourceModule, IDS_SERIAL_NUMBER, wszFormat))) {
            TRACE_WSTEP_FAILED(kFunc, u"LoadString (Serial number)", hResult, u"nRetCode == 0");
            break;
        }
        FormatWide(wszLine, kLineCch, wszFormat, wstrSerial.c_str());
        item.strSerialNumber = wszLine;

        SYSTEMTIME stFrom{}, stTo{};
        if (FAILED(hResult = GetCertFromDate(pCert, &stFrom, nullptr))) {
            TRACE_WSTEP_FAILED(kFunc, u"QueryCertContextInfo (From-date", hResult, u"FAILED(hResult)");
            break;
        }
        if (FAILED(hResult = GetCertToDate(pCert, &stTo, nullptr))) {
            TRACE_WSTEP_FAILED(kFunc, u"QueryCertContextInfo (To-date", hResult, u"FAILED(hResult)");
            break;
        }
        if (FAILED(hResult = LoadFormat(hResourceModule, IDS_VALIDITY, wszFormat))) {
            TRACE_WSTEP_FAILED(kFunc, u"LoadString (Valid date)", hResult, u"nRetCode == 0");
            break;
        }
        FormatWide(wszLine, kLineCch, wszFormat, stFrom.wMonth, stFrom.wDay, stFrom.wYear, stTo.wMonth, stTo.wDay,
                   stTo.wYear);
        item.strValidity = wszLine;
        vtrItems.push_back(std::move(item));
    }

    if (FAILED(hResult)) {
        vtrCertificateSet.clear();
        vtrItems.clear();
        return hResult;
    }
    std::sort(vtrItems.begin(), vtrItems.end(), [](const CertificateListItem& a, const CertificateListItem& b) {
        if (a.bHardwareKey != b.bHardwareKey)
            return a.bHardwareKey > b.bHardwareKey;
        return NameLess(a.strName, b.strName);
    });
    return KVRA_OK;
}

int VisibleRowCount(int nScreenHeight, int nCertificates)
{
    const int nRows = std::max((nScreenHeight - 500) / CERTIFICATE_ROW_HEIGHT, 1);
    return std::clamp(nCertificates, 0, nRows);
}
