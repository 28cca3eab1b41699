// The Windows selection dialog: a modal dialog over template 101 in which
// the user picks one signing certificate out of several. It reads the
// candidates from a store, shows one card per certificate (hardware-key
// certificates first, then by name) and returns a reference to the chosen
// one. GDI+ runs for as long as the object lives.
#pragma once

#include <string>
#include <vector>

#include "CertificateListCtrl.h"
#include "ui/DialogParams.h"

class CSelectCertificateDlg {
public:
    CSelectCertificateDlg();
    ~CSelectCertificateDlg();
    CSelectCertificateDlg(const CSelectCertificateDlg&) = delete;
    CSelectCertificateDlg& operator=(const CSelectCertificateDlg&) = delete;

    // Runs the dialog modally over hOwner (null: unowned). Returns 1 (OK),
    // 2 (Cancel) or -1 when the dialog cannot be created.
    INT_PTR DoModal(HWND hOwner, const SelectCertificateDlgParams* pParams);

    // The certificate chosen with OK (the caller takes it), or null.
    CertContextRef GetSelectedCertificate() const { return m_pstCertificate; }
    // 0 after a choice, 0x20001002 after a cancel (also when the dialog
    // failed while starting).
    HRESULT GetErrorCode() const { return m_nErrorCode; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR ProcessMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog(const SelectCertificateDlgParams* pParams);
    HRESULT LoadCertificates(const CertStore* hCertStore);
    void BringToFront();
    // Sizes the list to the rows the screen has room for, and the dialog and
    // its buttons around it; centred on the screen's height, or left where
    // it stands.
    void AdjustWindowSize(bool bCenter = true);
    void OnDpiChanged(UINT nDpi, const RECT* pSuggested);
    void CenterWindow();
    void OnPaint();
    void OnOK();
    void OnCancel();
    void OnDestroy();

    HWND m_hWnd = nullptr;
    Gdiplus::GdiplusStartupInput m_gdiplusStartupInput;
    ULONG_PTR m_gdiplusToken = 0;
    HINSTANCE m_hResourceModule = nullptr;
    bool m_bUseYaHeiFont = false;
    std::u16string m_szDisplayString;
    std::vector<CertContextRef> m_vtrCertificateSet;
    std::vector<CertificateListItem> m_vtrCertificateItems;
    CCertificateList m_ctlCertificateList;
    HRESULT m_nErrorCode = KVRA_OK;
    CertContextRef m_pstCertificate;
    const SelectCertificateDlgParams* m_pStartupParams = nullptr;
};
