// The certificate list of the Windows selection dialog: the dialog's
// owner-drawn list box, subclassed. One card per certificate, 80 pixels high
// at 96 DPI, with a key-location symbol, a frame and four lines of text; a
// blue gradient for the selected and the hovered row, the holder's name as a
// tooltip, and the system's certificate viewer on a double click.
#pragma once

#include <memory>
#include <vector>

#include "kernel/platform/windows/WindowsApi.h"
#include "ui/win32/DpiScale.h"
#include "ui/CertificateListItems.h"

// Draws one line of text with its top-left corner at (x, y), in the face
// (null: the default GUI font's) at nCharHeight pixels of cell height and an
// average character width of nCharWidth, cut (never ellipsised) at nRight
// when nRight > 0. The text is drawn as it is: an ampersand is no mnemonic.
void DrawTextLine(const wchar_t* pszFaceName, HDC hDC, const std::u16string& text, int x, int y, int nRight,
                  int nCharWidth, int nCharHeight, COLORREF crText);

class CCertificateList {
public:
    CCertificateList() = default;
    ~CCertificateList();
    CCertificateList(const CCertificateList&) = delete;
    CCertificateList& operator=(const CCertificateList&) = delete;

    // Takes over the list box's messages until it is destroyed.
    bool SubclassWindow(HWND hWnd);
    HWND GetHwnd() const { return m_hWnd; }

    // Loads the three pictures, keeps a copy of the rows and makes the
    // tooltip. The first picture that fails to load stops it with that
    // status.
    HRESULT Initialize(HINSTANCE hModule, bool bUseYaHeiFont, std::vector<CertificateListItem> vtrItems);
    // Lets go of the pictures; GDI+ must still be running.
    void ReleaseImages();

    const std::vector<CertificateListItem>& Items() const { return m_vtrCertificateItems; }

    // The DPI the rows are measured and drawn at (96 until set). Rows
    // measured before a change keep their height: the dialog sets them anew.
    void SetScale(const DpiScale& scale) { m_scale = scale; }
    const DpiScale& Scale() const { return m_scale; }

    // The owner-draw requests the dialog passes on for the list box.
    void OnMeasureItem(MEASUREITEMSTRUCT* pMeasureItem);
    void OnDrawItem(const DRAWITEMSTRUCT* pDrawItem);

private:
    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                         DWORD_PTR dwRefData);
    void OnMouseMove(UINT uMsg, WPARAM wParam, LPARAM lParam);
    void OnMouseLeave();
    void OnLButtonDblClk();
    int GetItemUnderCursor() const;
    void SetToolTipText(const std::u16string& text);

    HWND m_hWnd = nullptr;
    bool m_bMouseTracking = false;
    bool m_bUseYaHeiFont = true;
    DpiScale m_scale;
    std::unique_ptr<Gdiplus::Image> m_pSystemCertImage;
    std::unique_ptr<Gdiplus::Image> m_pKeyCertImage;
    std::unique_ptr<Gdiplus::Image> m_pFrameImage;
    std::vector<CertificateListItem> m_vtrCertificateItems;
    HWND m_hToolTip = nullptr;
};
