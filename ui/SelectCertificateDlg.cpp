#include "SelectCertificateDlg.h"

#include <QFrame>
#include <QGuiApplication>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

#include "trace/TraceHelper.h"
#include "ui/LastErrorStatus.h"

#define TRACE_WMODULE u"SelectCertificateDlg"

namespace {

constexpr uint32_t IDD_SELECT_CERTIFICATE = 101;
constexpr uint32_t IDS_SELECT_CERTIFICATE = 203;
constexpr size_t kMaxDisplayString = 127;

// The layout of the dialog template, in pixels of dialog units at the usual
// base units (6 x 13: 1.5 pixels a unit across, 1.625 down).
constexpr int DuX(int nUnits) { return (nUnits * 6 + 2) / 4; }
constexpr int DuY(int nUnits) { return (nUnits * 13 + 4) / 8; }

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
    return LoadCertificateListItems(m_hResourceModule, hCertStore, m_vtrCertificateSet, m_vtrCertificateItems);
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
