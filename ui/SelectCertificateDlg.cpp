#include "SelectCertificateDlg.h"

#include <QChar>
#include <QFrame>
#include <QGuiApplication>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

#include "trace/TraceHelper.h"
#include "kernel/CertificateFilters.h"
#include "kernel/CertificateProperties.h"
#include "kernel/Encodings.h"
#include "kernel/platform/CertName.h"
#include "kernel/platform/CryptoProvider.h"
#include "kernel/platform/LastError.h"
#include "kernel/platform/WideFormat.h"

#define TRACE_WMODULE u"SelectCertificateDlg"

namespace {

constexpr uint32_t IDD_SELECT_CERTIFICATE = 101;
constexpr uint32_t IDS_SELECT_CERTIFICATE = 203;
constexpr uint32_t IDS_ISSUER = 205;
constexpr uint32_t IDS_SERIAL_NUMBER = 206;
constexpr uint32_t IDS_VALIDITY = 207;
constexpr size_t kMaxDisplayString = 127;
constexpr size_t kMaxFieldValue = 127;
constexpr int kLineCch = 256;

// The layout of the dialog template, in pixels of dialog units at the usual
// base units (6 x 13: 1.5 pixels a unit across, 1.625 down).
constexpr int DuX(int nUnits) { return (nUnits * 6 + 2) / 4; }
constexpr int DuY(int nUnits) { return (nUnits * 13 + 4) / 8; }

// The value after the first "key=" up to the next comma (empty when there is
// none), cut to its first 127 characters. A cut never splits a surrogate
// pair: the lone high half is dropped as well.
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
        if (QChar::isHighSurrogate(wstrValue[nKeep - 1]) && QChar::isLowSurrogate(wstrValue[nKeep]))
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

HRESULT LastErrorStatus() { return AgentStatusFromError(GetLastError()); }

// The string-table entry as a format, or the last-error status.
HRESULT LoadFormat(HINSTANCE hModule, uint32_t nId, char16_t (&wszFormat)[kLineCch])
{
    return LoadStringW(hModule, nId, wszFormat, kLineCch) == 0 ? LastErrorStatus() : KVRA_OK;
}

} // namespace

CSelectCertificateDlg::CSelectCertificateDlg(QWidget* pParent) : QDialog(pParent)
{
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setAutoFillBackground(false);
    resize(DuX(282), DuY(329));

    auto* pSeparator = new QFrame(this);
    pSeparator->setFrameShape(QFrame::HLine);
    pSeparator->setFrameShadow(QFrame::Sunken);
    pSeparator->setGeometry(DuX(7), DuY(27), DuX(268), 2);

    m_ctlCertificateList = new CCertificateList(this);
    m_ctlCertificateList->setObjectName(QStringLiteral("certificateList"));
    m_ctlCertificateList->setGeometry(DuX(13), DuY(37), DuX(255), DuY(264));

    m_pOkButton = new QPushButton(this);
    m_pOkButton->setGeometry(DuX(170), DuY(306), DuX(50), DuY(14));
    m_pOkButton->setDefault(true);
    m_pOkButton->setAutoDefault(true);
    m_pCancelButton = new QPushButton(this);
    m_pCancelButton->setGeometry(DuX(225), DuY(306), DuX(50), DuY(14));
    // Return acts on the push button that has the focus, as Space does, and
    // on OK from anywhere else: an auto-default button becomes the default
    // while it has the focus and hands the role back to OK when it loses it.
    m_pCancelButton->setAutoDefault(true);
    connect(m_pOkButton, &QPushButton::clicked, this, &CSelectCertificateDlg::accept);
    connect(m_pCancelButton, &QPushButton::clicked, this, &CSelectCertificateDlg::reject);
    setTabOrder(m_pOkButton, m_pCancelButton);
    setTabOrder(m_pCancelButton, m_ctlCertificateList);

    // The template's texts in the user's language.
    if (const DialogResource* pTexts = LoadDialogResource(GetModuleHandleW(nullptr), IDD_SELECT_CERTIFICATE)) {
        setWindowTitle(QString::fromStdU16String(pTexts->pwszCaption));
        m_pOkButton->setText(QString::fromStdU16String(pTexts->pwszOk));
        m_pCancelButton->setText(QString::fromStdU16String(pTexts->pwszCancel));
    }
}

CSelectCertificateDlg::~CSelectCertificateDlg() = default;

int CSelectCertificateDlg::VisibleRowCount(int nScreenHeight, int nCertificates)
{
    // At least one row, even where the screen leaves no room: Return picks
    // the selected row, and that row must be in sight.
    const int nRows = std::max((nScreenHeight - 500) / 80, 1);
    return std::clamp(nCertificates, 0, nRows);
}

int CSelectCertificateDlg::DoModal(const SelectCertificateDlgParams* pParams)
{
    if (FAILED(OnInitDialog(pParams))) {
        // The dialog closes itself at once, which is a cancellation.
        OnCancel();
        OnDestroy();
        return IDCANCEL;
    }
    show();
    raise();
    activateWindow();
    return exec();
}

HRESULT CSelectCertificateDlg::OnInitDialog(const SelectCertificateDlgParams* pParams)
{
    TraceHelper traceHelper("CSelectCertificateDlg::OnInitDialog");
    static constexpr char16_t kFunc[] = u"CSelectCertificateDlg::OnInitDialog";
    HRESULT hResult = KVRA_OK;
    [&] {
        if (pParams == nullptr) {
            hResult = E_INVALIDARG;
            TRACE_WSTEP_FAILED(kFunc, u"Check lParam passed to InitalDialog", hResult, u"lParam == NULL");
            return;
        }
        if (pParams->hResourceModule != nullptr)
            m_hResourceModule = pParams->hResourceModule;
        if (pParams->pwszTitle != nullptr)
            setWindowTitle(QString::fromStdU16String(pParams->pwszTitle));
        if (pParams->pwszDisplayString != nullptr)
            m_szDisplayString = std::u16string(pParams->pwszDisplayString).substr(0, kMaxDisplayString);
        if (pParams->pwszOkText != nullptr)
            m_pOkButton->setText(QString::fromStdU16String(pParams->pwszOkText));
        if (pParams->pwszCancelText != nullptr)
            m_pCancelButton->setText(QString::fromStdU16String(pParams->pwszCancelText));
        if (m_hResourceModule == nullptr)
            m_hResourceModule = GetModuleHandleW(nullptr);

        if (m_szDisplayString.empty()) {
            char16_t wszHeading[kMaxDisplayString + 1] = {};
            if (LoadStringW(m_hResourceModule, IDS_SELECT_CERTIFICATE, wszHeading, kMaxDisplayString + 1) == 0) {
                hResult = LastErrorStatus();
                TRACE_WSTEP_FAILED(kFunc, u"LoadString", hResult, u"nRetCode == 0");
                return;
            }
            m_szDisplayString = wszHeading;
        }
        // Every desktop Tessera runs on has the newer look: the larger faces.
        m_bUseYaHeiFont = true;

        hResult = LoadCertificates(pParams->hCertStore);
        if (FAILED(hResult)) {
            TRACE_WSTEP_FAILED(kFunc, u"LoadCertificates", hResult, u"FAILED(hResult)");
            return;
        }
        hResult = m_ctlCertificateList->Initialize(m_hResourceModule, m_bUseYaHeiFont, m_vtrCertificateItems);
        if (FAILED(hResult)) {
            TRACE_WSTEP_FAILED(kFunc, u"CCertificateList::Initialize", hResult, u"FAILED(hResult)");
            return;
        }
        AdjustWindowSize();
        for (size_t i = 0; i < m_vtrCertificateSet.size(); ++i)
            m_ctlCertificateList->addItem(QString());
        if (m_ctlCertificateList->count() > 0)
            m_ctlCertificateList->setCurrentRow(0);
        m_ctlCertificateList->raise();
    }();
    m_nErrorCode = hResult;
    m_pOkButton->setFocus();
    return hResult;
}

HRESULT CSelectCertificateDlg::LoadCertificates(const CertStore* hCertStore)
{
    TraceHelper traceHelper("CSelectCertificateDlg::LoadCertificates");
    static constexpr char16_t kFunc[] = u"CSelectCertificateDlg::LoadCertificates";
    HRESULT hResult = ExtractCertificatesFromStore(hCertStore, m_vtrCertificateSet);
    if (FAILED(hResult)) {
        TRACE_WSTEP_FAILED(kFunc, u"ExtractCertificatesFromStore", hResult, u"FAILED(hResult)");
    }
    m_vtrCertificateItems.clear();

    char16_t wszFormat[kLineCch];
    char16_t wszLine[kLineCch];
    for (size_t i = 0; SUCCEEDED(hResult) && i < m_vtrCertificateSet.size(); ++i) {
        const CertContextRef& pCert = m_vtrCertificateSet[i];
        CertificateListItem item;
        item.pCertContext = pCert;

        // Where the key lives; opening it asks for no PIN.
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
        if (FAILED(hResult = LoadFormat(m_hResourceModule, IDS_ISSUER, wszFormat))) {
            TRACE_WSTEP_FAILED(kFunc, u"LoadString (Issuer)", hResult, u"nRetCode == 0");
            break;
        }
        std::u16string wstrOrganisation =
            wstrIssuer.find(u"O=") != std::u16string::npos ? FieldValue(wstrIssuer, u"O=") : FieldValue(wstrIssuer, u"CN=");
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
        if (FAILED(hResult = LoadFormat(m_hResourceModule, IDS_SERIAL_NUMBER, wszFormat))) {
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
        if (FAILED(hResult = LoadFormat(m_hResourceModule, IDS_VALIDITY, wszFormat))) {
            TRACE_WSTEP_FAILED(kFunc, u"LoadString (Valid date)", hResult, u"nRetCode == 0");
            break;
        }
        FormatWide(wszLine, kLineCch, wszFormat, stFrom.wMonth, stFrom.wDay, stFrom.wYear, stTo.wMonth, stTo.wDay,
                   stTo.wYear);
        item.strValidity = wszLine;
        m_vtrCertificateItems.push_back(std::move(item));
    }

    if (FAILED(hResult)) {
        m_vtrCertificateSet.clear();
        m_vtrCertificateItems.clear();
        return hResult;
    }
    // Hardware-key certificates first, then by name.
    std::sort(m_vtrCertificateItems.begin(), m_vtrCertificateItems.end(),
              [](const CertificateListItem& a, const CertificateListItem& b) {
                  if (a.bHardwareKey != b.bHardwareKey)
                      return a.bHardwareKey > b.bHardwareKey;
                  return NameLess(a.strName, b.strName);
              });
    return KVRA_OK;
}

void CSelectCertificateDlg::AdjustWindowSize()
{
    TraceHelper traceHelper("CSelectCertificateDlg::AdjustWindowSize");
    const QScreen* pScreen = QGuiApplication::primaryScreen();
    const QRect screen = pScreen != nullptr ? pScreen->geometry() : QRect(0, 0, 1024, 768);
    const int nRows = VisibleRowCount(screen.height(), static_cast<int>(m_vtrCertificateSet.size()));
    const int nFrame = m_ctlCertificateList->frameWidth();
    const int nListHeight = CERTIFICATE_ROW_HEIGHT * nRows + 2 * nFrame;
    const int nDelta = nListHeight - m_ctlCertificateList->height();

    const int nHeight = height() + nDelta;
    setFixedSize(width(), nHeight);
    move(screen.x() + (screen.width() - width()) / 2, screen.y() + (screen.height() - nHeight) / 2);
    m_ctlCertificateList->resize(m_ctlCertificateList->width(), nListHeight);
    for (QPushButton* pButton : {m_pOkButton, m_pCancelButton})
        pButton->move(pButton->x(), pButton->y() + nDelta);
}

void CSelectCertificateDlg::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    DrawTextLine(painter, m_bUseYaHeiFont ? YaHeiFaces() : ArialFaces(), m_szDisplayString, 15, 12, width() - 20, 8,
                 m_bUseYaHeiFont ? 22 : 16, QColor(0, 51, 153));
}

void CSelectCertificateDlg::accept() { OnOK(); }

void CSelectCertificateDlg::reject() { OnCancel(); }

void CSelectCertificateDlg::OnOK()
{
    TraceHelper traceHelper("CSelectCertificateDlg::OnOK");
    const int nIndex = m_ctlCertificateList->currentRow();
    if (nIndex < 0 || nIndex >= static_cast<int>(m_ctlCertificateList->Items().size())) {
        // Nothing to choose: as good as a cancel.
        OnCancel();
        return;
    }
    m_pstCertificate = CertDuplicateCertificateContext(m_ctlCertificateList->Items()[nIndex].pCertContext);
    m_nErrorCode = KVRA_OK;
    done(IDOK);
}

void CSelectCertificateDlg::OnCancel()
{
    TraceHelper traceHelper("CSelectCertificateDlg::OnCancel");
    m_nErrorCode = static_cast<HRESULT>(SELECT_CERTIFICATE_CANCELED);
    if (isVisible())
        done(IDCANCEL);
}

void CSelectCertificateDlg::done(int nResult)
{
    QDialog::done(nResult);
    OnDestroy();
}

void CSelectCertificateDlg::OnDestroy()
{
    TraceHelper traceHelper("CSelectCertificateDlg::OnDestroy");
    m_vtrCertificateSet.clear();
    m_vtrCertificateItems.clear();
}
