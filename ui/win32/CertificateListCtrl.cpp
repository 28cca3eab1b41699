#include "CertificateListCtrl.h"

#include <cwchar>

#include "FoundationLibrary.h"
#include "trace/TraceHelper.h"

#define TRACE_WMODULE u"CertificateListCtrl"

namespace {

constexpr UINT_PTR kSubclassId = 1;
constexpr int kToolTipCch = 256;

struct RowColours {
    COLORREF top, bottom, border;
};
constexpr RowColours kSelected{RGB(221, 236, 253), RGB(194, 220, 253), RGB(125, 182, 206)};
constexpr RowColours kHovered{RGB(253, 254, 255), RGB(185, 215, 252), RGB(243, 248, 255)};

const wchar_t* FaceName(bool bUseYaHeiFont) { return bUseYaHeiFont ? L"Microsoft YaHei" : L"Arial"; }

TRIVERTEX Vertex(LONG x, LONG y, COLORREF cr)
{
    TRIVERTEX v{};
    v.x = x;
    v.y = y;
    v.Red = static_cast<COLOR16>(GetRValue(cr) << 8);
    v.Green = static_cast<COLOR16>(GetGValue(cr) << 8);
    v.Blue = static_cast<COLOR16>(GetBValue(cr) << 8);
    return v;
}

// The tool that shows the holder's name: the list box itself.
TOOLINFOW ToolInfo(HWND hList, wchar_t* pszText)
{
    TOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND;
    ti.hwnd = GetParent(hList);
    ti.uId = reinterpret_cast<UINT_PTR>(hList);
    ti.hinst = GetModuleHandleW(static_cast<LPCWSTR>(nullptr));
    ti.lpszText = pszText;
    return ti;
}

} // namespace

void DrawTextLine(const wchar_t* pszFaceName, HDC hDC, const std::u16string& text, int x, int y, int nRight,
                  int nCharWidth, int nCharHeight, COLORREF crText)
{
    LOGFONTW lf{};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    // A positive height asks for the cell height, internal leading included.
    lf.lfHeight = nCharHeight;
    lf.lfWidth = nCharWidth;
    lf.lfWeight = FW_NORMAL;
    if (pszFaceName != nullptr) {
        std::wmemset(lf.lfFaceName, L'\0', LF_FACESIZE);
        std::wcsncpy(lf.lfFaceName, pszFaceName, LF_FACESIZE - 1);
    }
    HFONT hFont = CreateFontIndirectW(&lf);
    HGDIOBJ hOldFont = SelectObject(hDC, hFont);
    SetTextColor(hDC, crText);
    SetBkMode(hDC, TRANSPARENT);

    const auto* pszText = reinterpret_cast<const wchar_t*>(text.c_str());
    const int cchText = static_cast<int>(text.size());
    RECT rc{0, 0, 0, 0};
    DrawTextW(hDC, pszText, cchText, &rc, DT_CALCRECT | DT_NOPREFIX);
    OffsetRect(&rc, x, y);
    if (nRight > 0 && rc.right >= nRight)
        rc.right = nRight;
    DrawTextW(hDC, pszText, cchText, &rc, DT_NOPREFIX);

    SelectObject(hDC, hOldFont);
    DeleteObject(hFont);
}

CCertificateList::~CCertificateList()
{
    if (m_hWnd != nullptr)
        RemoveWindowSubclass(m_hWnd, SubclassProc, kSubclassId);
}

bool CCertificateList::SubclassWindow(HWND hWnd)
{
    if (m_hWnd != nullptr || hWnd == nullptr)
        return m_hWnd != nullptr;
    if (!SetWindowSubclass(hWnd, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    m_hWnd = hWnd;
    return true;
}

HRESULT CCertificateList::Initialize(HINSTANCE hModule, bool bUseYaHeiFont, std::vector<CertificateListItem> vtrItems)
{
    TraceHelper traceHelper("CCertificateList::Initialize");
    static constexpr char16_t kFunc[] = u"CCertificateList::Initialize";
    m_bMouseTracking = false;
    m_bUseYaHeiFont = bUseYaHeiFont;
    struct {
        uint16_t nId;
        std::unique_ptr<Gdiplus::Image>* ppImage;
        const char16_t* pszStep;
    } const images[] = {
        {IDB_SYSTEM_CERTIFICATE, &m_pSystemCertImage, u"LoadImageFromResource (System certificate)"},
        {IDB_KEY_CERTIFICATE, &m_pKeyCertImage, u"LoadImageFromResource (Key certificate)"},
        {IDB_CERTIFICATE_FRAME, &m_pFrameImage, u"LoadImageFromResource (Certificate frame)"},
    };
    for (const auto& image : images) {
        const HRESULT hResult = LoadImageFromResource(hModule, image.nId, image.ppImage);
        if (FAILED(hResult)) {
            TRACE_WSTEP_FAILED(kFunc, image.pszStep, hResult, u"FAILED(hResult)");
            return hResult;
        }
        TRACE_WSTEP_OK(kFunc, image.pszStep);
    }
    m_vtrCertificateItems = std::move(vtrItems);

    // The tooltip belongs to the list box and goes with it. Whether it
    // could be made is not examined: the list works without hints.
    m_hToolTip = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                 CW_USEDEFAULT, m_hWnd, nullptr, GetModuleHandleW(static_cast<LPCWSTR>(nullptr)), nullptr);
    if (m_hToolTip != nullptr) {
        wchar_t szEmpty[] = L"";
        TOOLINFOW ti = ToolInfo(m_hWnd, szEmpty);
        SendMessageW(m_hToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
        SendMessageW(m_hToolTip, TTM_ACTIVATE, TRUE, 0);
    }
    return KVRA_OK;
}

void CCertificateList::ReleaseImages()
{
    m_pSystemCertImage.reset();
    m_pKeyCertImage.reset();
    m_pFrameImage.reset();
}

LRESULT CALLBACK CCertificateList::SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam,
                                                UINT_PTR uIdSubclass, DWORD_PTR dwRefData)
{
    auto* pThis = reinterpret_cast<CCertificateList*>(dwRefData);
    switch (uMsg) {
    case WM_MOUSEMOVE:
        pThis->OnMouseMove(uMsg, wParam, lParam);
        break;
    case WM_MOUSELEAVE:
        pThis->OnMouseLeave();
        break;
    case WM_LBUTTONDBLCLK:
        pThis->OnLButtonDblClk();
        break;
    case WM_NCDESTROY:
        // The list box is going: let go of it.
        RemoveWindowSubclass(hWnd, SubclassProc, uIdSubclass);
        pThis->m_hWnd = nullptr;
        pThis->m_hToolTip = nullptr;
        break;
    default:
        break;
    }
    // The list box's own handling runs in every case.
    return DefSubclassProc(hWnd, uMsg, wParam, lParam);
}

void CCertificateList::OnMeasureItem(MEASUREITEMSTRUCT* pMeasureItem)
{
    TraceHelper traceHelper("CCertificateList::OnMeasureItem");
    pMeasureItem->itemHeight = static_cast<UINT>(m_scale(CERTIFICATE_ROW_HEIGHT));
}

int CCertificateList::GetItemUnderCursor() const
{
    POINT pt{};
    if (m_hWnd == nullptr || !GetCursorPos(&pt) || !ScreenToClient(m_hWnd, &pt))
        return -1;
    const auto nCount = static_cast<int>(SendMessageW(m_hWnd, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < nCount; ++i) {
        RECT rc{};
        if (SendMessageW(m_hWnd, LB_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&rc)) != LB_ERR &&
            PtInRect(&rc, pt))
            return i;
    }
    return -1;
}

void CCertificateList::OnDrawItem(const DRAWITEMSTRUCT* pDrawItem)
{
    const int nIndex = static_cast<int>(pDrawItem->itemID);
    if (nIndex < 0 || nIndex >= static_cast<int>(m_vtrCertificateItems.size()) || m_pFrameImage == nullptr)
        return;
    const CertificateListItem& item = m_vtrCertificateItems[nIndex];
    const RECT& rcItem = pDrawItem->rcItem;
    const int w = rcItem.right - rcItem.left;
    const int h = rcItem.bottom - rcItem.top;
    if (w <= 0 || h <= 0)
        return;

    // The row is drawn off screen and copied in one step, so the redraws
    // after every mouse movement do not flicker.
    HDC hMemDC = CreateCompatibleDC(pDrawItem->hDC);
    HBITMAP hBitmap = CreateCompatibleBitmap(pDrawItem->hDC, w, h);
    if (hMemDC == nullptr || hBitmap == nullptr) {
        if (hBitmap != nullptr)
            DeleteObject(hBitmap);
        if (hMemDC != nullptr)
            DeleteDC(hMemDC);
        return;
    }
    HGDIOBJ hOldBitmap = SelectObject(hMemDC, hBitmap);
    RECT rcRow{0, 0, w, h};
    FillRect(hMemDC, &rcRow, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));

    const int nUnderCursor = GetItemUnderCursor();
    const bool bSelected = (pDrawItem->itemState & ODS_SELECTED) != 0;
    if (bSelected || nUnderCursor == nIndex) {
        const RowColours& colours = bSelected ? kSelected : kHovered;
        TRIVERTEX vertices[2] = {Vertex(1, 1, colours.top), Vertex(w - 1, h - 1, colours.bottom)};
        GRADIENT_RECT gradient{0, 1};
        GradientFill(hMemDC, vertices, 2, &gradient, 1, GRADIENT_FILL_RECT_V);
        HPEN hPen = CreatePen(PS_SOLID, 1, colours.border);
        HGDIOBJ hOldPen = SelectObject(hMemDC, hPen);
        HGDIOBJ hOldBrush = SelectObject(hMemDC, GetStockObject(HOLLOW_BRUSH));
        RoundRect(hMemDC, 0, 0, w, h, m_scale(6), m_scale(6));
        SelectObject(hMemDC, hOldBrush);
        SelectObject(hMemDC, hOldPen);
        DeleteObject(hPen);
    }

    {
        Gdiplus::Graphics graphics(hMemDC);
        Gdiplus::Image* pSymbol = item.bHardwareKey == 1 ? m_pKeyCertImage.get() : m_pSystemCertImage.get();
        // Scaled pictures are smoothed rather than left in blocks.
        if (m_scale.Dpi() != DpiScale::kBaseDpi)
            graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        graphics.DrawImage(pSymbol, Gdiplus::Rect(m_scale(14), m_scale(14), m_scale(48), m_scale(48)), 0, 0,
                           static_cast<INT>(pSymbol->GetWidth()), static_cast<INT>(pSymbol->GetHeight()),
                           Gdiplus::UnitPixel);
        const INT nFrameWidth = m_scale(static_cast<int>(m_pFrameImage->GetWidth()));
        const INT nFrameHeight = m_scale(static_cast<int>(m_pFrameImage->GetHeight()));
        const INT nFrameTop = (m_scale(CERTIFICATE_ROW_HEIGHT) - nFrameHeight) / 2;
        graphics.DrawImage(m_pFrameImage.get(), nFrameTop, nFrameTop, nFrameWidth, nFrameHeight);
    }

    const wchar_t* pszFace = FaceName(m_bUseYaHeiFont);
    const DpiScale& s = m_scale;
    const int nRight = w - s(15);
    const int nNameHeight = s(m_bUseYaHeiFont ? 20 : 16);
    const int nLineHeight = s(m_bUseYaHeiFont ? 18 : 14);
    const COLORREF crBlack = RGB(0, 0, 0);
    DrawTextLine(pszFace, hMemDC, item.strName, s(80), s(5), nRight, s(8), nNameHeight, crBlack);
    DrawTextLine(pszFace, hMemDC, item.strIssuer, s(80), s(25), nRight, s(6), nLineHeight, crBlack);
    DrawTextLine(pszFace, hMemDC, item.strSerialNumber, s(80), s(40), nRight, s(6), nLineHeight, crBlack);
    DrawTextLine(pszFace, hMemDC, item.strValidity, s(80), s(55), nRight, s(6), nLineHeight, crBlack);

    BitBlt(pDrawItem->hDC, rcItem.left, rcItem.top, w, h, hMemDC, 0, 0, SRCCOPY);
    SelectObject(hMemDC, hOldBitmap);
    DeleteObject(hBitmap);
    DeleteDC(hMemDC);

    if (nUnderCursor == nIndex)
        SetToolTipText(item.strName);
}

void CCertificateList::SetToolTipText(const std::u16string& text)
{
    if (m_hToolTip == nullptr)
        return;
    wchar_t szCurrent[kToolTipCch] = {};
    TOOLINFOW ti = ToolInfo(m_hWnd, szCurrent);
    SendMessageW(m_hToolTip, TTM_GETTEXTW, kToolTipCch, reinterpret_cast<LPARAM>(&ti));
    if (text == reinterpret_cast<const char16_t*>(szCurrent))
        return;
    std::u16string copy = text;
    ti.lpszText = reinterpret_cast<wchar_t*>(copy.data());
    SendMessageW(m_hToolTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

void CCertificateList::OnMouseMove(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (!m_bMouseTracking) {
        TRACKMOUSEEVENT tme{};
        tme.cbSize = sizeof tme;
        tme.dwFlags = TME_LEAVE;
        tme.hwndTrack = m_hWnd;
        tme.dwHoverTime = 0;
        m_bMouseTracking = TrackMouseEvent(&tme) != FALSE;
    }
    if (m_hToolTip != nullptr) {
        MSG msg{};
        msg.hwnd = m_hWnd;
        msg.message = uMsg;
        msg.wParam = wParam;
        msg.lParam = lParam;
        msg.time = static_cast<DWORD>(GetMessageTime());
        const DWORD dwPos = GetMessagePos();
        msg.pt = POINT{static_cast<short>(LOWORD(dwPos)), static_cast<short>(HIWORD(dwPos))};
        SendMessageW(m_hToolTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
    }
    InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CCertificateList::OnMouseLeave()
{
    TraceHelper traceHelper("CCertificateList::OnMouseLeave");
    m_bMouseTracking = false;
    InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CCertificateList::OnLButtonDblClk()
{
    TraceHelper traceHelper("CCertificateList::OnLButtonDblClk");
    const int nIndex = GetItemUnderCursor();
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidCertificateList, 10, static_cast<int32_t>(nIndex));
    if (nIndex < 0 || nIndex >= static_cast<int>(m_vtrCertificateItems.size()))
        return;
    CRYPTUI_VIEWCERTIFICATE_STRUCTW view{};
    view.dwSize = sizeof view;
    view.hwndParent = m_hWnd;
    view.pCertContext = Win32Cert(*m_vtrCertificateItems[nIndex].pCertContext);
    BOOL fPropertiesChanged = FALSE;
    CryptUIDlgViewCertificateW(&view, &fPropertiesChanged);
}
