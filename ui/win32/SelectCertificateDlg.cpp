#include "SelectCertificateDlg.h"

#include "trace/TraceHelper.h"
#include "ui/LastErrorStatus.h"

#define TRACE_WMODULE u"SelectCertificateDlg"

namespace {

constexpr WORD IDD_SELECT_CERTIFICATE = 101;
constexpr WORD IDI_DIALOG_ICON = 102;
constexpr int IDC_CERTIFICATE_LIST = 1001;
constexpr uint32_t IDS_SELECT_CERTIFICATE = 203;
constexpr size_t kMaxDisplayString = 127;
// Posted to itself after a DPI change, once the dialog manager has scaled
// the dialog: the list and the buttons are then laid out anew.
constexpr UINT WM_APP_RELAYOUT = WM_APP + 1;

RECT WindowRect(HWND hWnd)
{
    RECT rc{};
    GetWindowRect(hWnd, &rc);
    return rc;
}

} // namespace

CSelectCertificateDlg::CSelectCertificateDlg()
{
    // Whether GDI+ started is seen when the pictures load.
    Gdiplus::GdiplusStartup(&m_gdiplusToken, &m_gdiplusStartupInput, nullptr);
}

CSelectCertificateDlg::~CSelectCertificateDlg()
{
    // The pictures are GDI+ objects: they go before GDI+ does.
    m_ctlCertificateList.ReleaseImages();
    if (m_gdiplusToken != 0)
        Gdiplus::GdiplusShutdown(m_gdiplusToken);
}

INT_PTR CSelectCertificateDlg::DoModal(HWND hOwner, const SelectCertificateDlgParams* pParams)
{
    m_pStartupParams = pParams;
    return DialogBoxParamW(GetModuleHandleW(static_cast<LPCWSTR>(nullptr)), MAKEINTRESOURCEW(IDD_SELECT_CERTIFICATE), hOwner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CSelectCertificateDlg::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CSelectCertificateDlg* pThis;
    if (uMsg == WM_INITDIALOG) {
        pThis = reinterpret_cast<CSelectCertificateDlg*>(lParam);
        SetWindowLongPtrW(hWnd, DWLP_USER, reinterpret_cast<LONG_PTR>(pThis));
        pThis->m_hWnd = hWnd;
    } else {
        pThis = reinterpret_cast<CSelectCertificateDlg*>(GetWindowLongPtrW(hWnd, DWLP_USER));
    }
    return pThis != nullptr ? pThis->ProcessMessage(uMsg, wParam, lParam) : FALSE;
}

INT_PTR CSelectCertificateDlg::ProcessMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        return OnInitDialog(m_pStartupParams);
    case WM_PAINT:
        OnPaint();
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
        return FALSE;
    // The list box's owner-draw requests go to the list control.
    case WM_MEASUREITEM:
        if (wParam == IDC_CERTIFICATE_LIST) {
            m_ctlCertificateList.OnMeasureItem(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
            return TRUE;
        }
        return FALSE;
    case WM_DRAWITEM:
        if (wParam == IDC_CERTIFICATE_LIST) {
            m_ctlCertificateList.OnDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        }
        return FALSE;
    case WM_DPICHANGED:
        OnDpiChanged(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return FALSE; // the dialog manager scales the template's controls and font
    case WM_APP_RELAYOUT:
        AdjustWindowSize(false);
        InvalidateRect(m_hWnd, nullptr, TRUE);
        return TRUE;
    default:
        return FALSE;
    }
}

// The dialog went to a monitor of another DPI (or the user changed the
// scaling): it takes the size Windows suggests, and its rows the new height.
void CSelectCertificateDlg::OnDpiChanged(UINT nDpi, const RECT* pSuggested)
{
    TraceHelper traceHelper("CSelectCertificateDlg::OnDpiChanged");
    const DpiScale scale(nDpi);
    m_ctlCertificateList.SetScale(scale);
    HWND hList = GetDlgItem(m_hWnd, IDC_CERTIFICATE_LIST);
    const auto nCount = static_cast<int>(SendMessageW(hList, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < nCount; ++i)
        SendMessageW(hList, LB_SETITEMHEIGHT, static_cast<WPARAM>(i), scale(CERTIFICATE_ROW_HEIGHT));
    if (pSuggested != nullptr)
        SetWindowPos(m_hWnd, nullptr, pSuggested->left, pSuggested->top, pSuggested->right - pSuggested->left,
                     pSuggested->bottom - pSuggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    PostMessageW(m_hWnd, WM_APP_RELAYOUT, 0, 0);
}

void CSelectCertificateDlg::CenterWindow()
{
    // Over a visible, not minimised owner; otherwise in the work area of
    // the nearest monitor. Either way inside that work area.
    const RECT rcDlg = WindowRect(m_hWnd);
    HWND hOwner = GetWindow(m_hWnd, GW_OWNER);
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    GetMonitorInfoW(MonitorFromWindow(hOwner != nullptr ? hOwner : m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
    const RECT rcArea = mi.rcWork;
    const RECT rcCenter =
        hOwner != nullptr && IsWindowVisible(hOwner) && !IsIconic(hOwner) ? WindowRect(hOwner) : rcArea;
    const int w = rcDlg.right - rcDlg.left, h = rcDlg.bottom - rcDlg.top;
    int x = (rcCenter.left + rcCenter.right) / 2 - w / 2;
    int y = (rcCenter.top + rcCenter.bottom) / 2 - h / 2;
    if (x + w > rcArea.right)
        x = rcArea.right - w;
    if (x < rcArea.left)
        x = rcArea.left;
    if (y + h > rcArea.bottom)
        y = rcArea.bottom - h;
    if (y < rcArea.top)
        y = rcArea.top;
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CSelectCertificateDlg::OnInitDialog(const SelectCertificateDlgParams* pParams)
{
    TraceHelper traceHelper("CSelectCertificateDlg::OnInitDialog");
    static constexpr char16_t kFunc[] = u"CSelectCertificateDlg::OnInitDialog";
    CenterWindow();
    HINSTANCE hProgram = GetModuleHandleW(static_cast<LPCWSTR>(nullptr));
    auto hIcon = static_cast<HICON>(LoadImageW(hProgram, MAKEINTRESOURCEW(IDI_DIALOG_ICON), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hIcon));
    auto hSmallIcon = static_cast<HICON>(LoadImageW(hProgram, MAKEINTRESOURCEW(IDI_DIALOG_ICON), IMAGE_ICON,
                                                     GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                     LR_SHARED));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hSmallIcon));
    m_ctlCertificateList.SubclassWindow(GetDlgItem(m_hWnd, IDC_CERTIFICATE_LIST));
    m_ctlCertificateList.SetScale(DpiScale::ForWindow(m_hWnd));

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
            SetWindowTextW(m_hWnd, AsWide(pParams->pwszTitle));
        if (pParams->pwszDisplayString != nullptr)
            m_szDisplayString = std::u16string(pParams->pwszDisplayString).substr(0, kMaxDisplayString);
        if (pParams->pwszOkText != nullptr)
            SetDlgItemTextW(m_hWnd, IDOK, AsWide(pParams->pwszOkText));
        if (pParams->pwszCancelText != nullptr)
            SetDlgItemTextW(m_hWnd, IDCANCEL, AsWide(pParams->pwszCancelText));
        if (m_hResourceModule == nullptr)
            m_hResourceModule = hProgram;

        if (m_szDisplayString.empty()) {
            char16_t wszHeading[kMaxDisplayString + 1] = {};
            if (LoadStringW(m_hResourceModule, IDS_SELECT_CERTIFICATE, wszHeading, kMaxDisplayString + 1) == 0) {
                hResult = LastErrorStatus();
                TRACE_WSTEP_FAILED(kFunc, u"LoadString", hResult, u"nRetCode == 0");
                return;
            }
            m_szDisplayString = wszHeading;
        }
        TRACE_WSTEP_OK(kFunc, u"LoadString");

        OSVERSIONINFOW osvi{};
        osvi.dwOSVersionInfoSize = sizeof osvi;
        m_bUseYaHeiFont = GetVersionExW(&osvi) && osvi.dwMajorVersion >= 6;

        hResult = LoadCertificates(pParams->hCertStore);
        if (FAILED(hResult)) {
            TRACE_WSTEP_FAILED(kFunc, u"LoadCertificates", hResult, u"FAILED(hResult)");
            return;
        }
        TRACE_WSTEP_OK(kFunc, u"LoadCertificates");
        hResult = m_ctlCertificateList.Initialize(m_hResourceModule, m_bUseYaHeiFont, m_vtrCertificateItems);
        if (FAILED(hResult)) {
            TRACE_WSTEP_FAILED(kFunc, u"CCertificateList::Initialize", hResult, u"FAILED(hResult)");
            return;
        }
        TRACE_WSTEP_OK(kFunc, u"CCertificateList::Initialize");
        AdjustWindowSize();
        HWND hList = GetDlgItem(m_hWnd, IDC_CERTIFICATE_LIST);
        for (size_t i = 0; i < m_vtrCertificateSet.size(); ++i)
            SendMessageW(hList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L""));
        SendMessageW(hList, LB_SETCURSEL, 0, 0);
        // Above the separator, but after the buttons: the order of the
        // children is the tab order, and OK is to have the focus first.
        SetWindowPos(hList, GetDlgItem(m_hWnd, IDCANCEL), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }();
    m_nErrorCode = hResult;
    if (FAILED(hResult))
        SendMessageW(m_hWnd, WM_CLOSE, 0, 0); // ends as a cancellation
    else
        BringToFront();
    return TRUE;
}

// Shows the dialog and asks for the foreground. Windows grants it to a
// process the foreground process started, or one it allowed with
// AllowSetForegroundWindow; the browser that started the host is the
// foreground process while the page asks. When Windows refuses (a host
// started through cmd.exe, or the user went to another window meanwhile),
// the dialog still stands above its owner, the browser window, and its
// taskbar button flashes until the user comes to it.
void CSelectCertificateDlg::BringToFront()
{
    ShowWindow(m_hWnd, SW_SHOW);
    if (!SetForegroundWindow(m_hWnd) && GetForegroundWindow() != m_hWnd) {
        FLASHWINFO flash{};
        flash.cbSize = sizeof flash;
        flash.hwnd = m_hWnd;
        flash.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;
        FlashWindowEx(&flash);
    }
}

HRESULT CSelectCertificateDlg::LoadCertificates(const CertStore* hCertStore)
{
    return LoadCertificateListItems(m_hResourceModule, hCertStore, m_vtrCertificateSet, m_vtrCertificateItems);
}

void CSelectCertificateDlg::AdjustWindowSize(bool bCenter)
{
    TraceHelper traceHelper("CSelectCertificateDlg::AdjustWindowSize");
    // The rows the screen has room for are counted in 96-DPI pixels, the
    // ones the row height and the room kept free are given in.
    const DpiScale& scale = m_ctlCertificateList.Scale();
    const int nScreenHeight = GetSystemMetrics(SM_CYSCREEN);
    const int nFrame = scale.SystemMetric(SM_CYDLGFRAME);
    const int nRows = VisibleRowCount(scale.Unscaled(nScreenHeight), static_cast<int>(m_vtrCertificateSet.size()));

    HWND hList = GetDlgItem(m_hWnd, IDC_CERTIFICATE_LIST);
    HWND hButtons[] = {GetDlgItem(m_hWnd, IDOK), GetDlgItem(m_hWnd, IDCANCEL)};
    const RECT rcDialog = WindowRect(m_hWnd);
    const RECT rcList = WindowRect(hList);
    // The buttons' places in the dialog, taken before anything moves.
    POINT ptButtons[2];
    for (int i = 0; i < 2; ++i) {
        const RECT rc = WindowRect(hButtons[i]);
        ptButtons[i] = POINT{rc.left, rc.top};
        ScreenToClient(m_hWnd, &ptButtons[i]);
    }

    const int nListHeight = scale(CERTIFICATE_ROW_HEIGHT) * nRows + 2 * nFrame;
    const int nDelta = nListHeight - (rcList.bottom - rcList.top);
    const int nHeight = rcDialog.bottom - rcDialog.top + nDelta;
    SetWindowPos(m_hWnd, nullptr, rcDialog.left, bCenter ? (nScreenHeight - nHeight) / 2 : rcDialog.top,
                 rcDialog.right - rcDialog.left, nHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(hList, nullptr, 0, 0, rcList.right - rcList.left, nListHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (int i = 0; i < 2; ++i)
        SetWindowPos(hButtons[i], nullptr, ptButtons[i].x, ptButtons[i].y + nDelta, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CSelectCertificateDlg::OnPaint()
{
    PAINTSTRUCT ps{};
    HDC hDC = BeginPaint(m_hWnd, &ps);
    RECT rcClient{};
    GetClientRect(m_hWnd, &rcClient);
    FillRect(hDC, &rcClient, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const DpiScale& s = m_ctlCertificateList.Scale();
    DrawTextLine(m_bUseYaHeiFont ? L"Microsoft YaHei" : L"Arial", hDC, m_szDisplayString, s(15), s(12),
                 rcClient.right - s(20), s(8), s(m_bUseYaHeiFont ? 22 : 16), RGB(0, 51, 153));
    EndPaint(m_hWnd, &ps);
}

void CSelectCertificateDlg::OnOK()
{
    TraceHelper traceHelper("CSelectCertificateDlg::OnOK");
    const auto nIndex = static_cast<int>(SendDlgItemMessageW(m_hWnd, IDC_CERTIFICATE_LIST, LB_GETCURSEL, 0, 0));
    const auto& items = m_ctlCertificateList.Items();
    if (nIndex < 0 || nIndex >= static_cast<int>(items.size())) {
        // Nothing to choose: as good as a cancel.
        OnCancel();
        return;
    }
    m_pstCertificate = CertDuplicateCertificateContext(items[nIndex].pCertContext);
    m_nErrorCode = KVRA_OK;
    EndDialog(m_hWnd, IDOK);
}

void CSelectCertificateDlg::OnCancel()
{
    TraceHelper traceHelper("CSelectCertificateDlg::OnCancel");
    m_nErrorCode = static_cast<HRESULT>(SELECT_CERTIFICATE_CANCELED);
    EndDialog(m_hWnd, IDCANCEL);
}

void CSelectCertificateDlg::OnDestroy()
{
    TraceHelper traceHelper("CSelectCertificateDlg::OnDestroy");
    m_vtrCertificateSet.clear();
    m_vtrCertificateItems.clear();
}
