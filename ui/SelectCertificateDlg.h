// The modal dialog in which the user picks one signing certificate out of
// several: it reads the candidates from a store, shows one card per
// certificate (hardware-key certificates first, then by name) and returns a
// reference to the chosen one.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

#include "CertificateListCtrl.h"
#include "DialogParams.h"

class QPushButton;

class CSelectCertificateDlg : public QDialog {
public:
    explicit CSelectCertificateDlg(QWidget* pParent = nullptr);
    ~CSelectCertificateDlg() override;

    // Starts the dialog with its start-up record and runs it modally.
    // Returns 1 (OK) or 2 (Cancel); a dialog that fails while starting ends
    // at once as a cancellation.
    int DoModal(const SelectCertificateDlgParams* pParams);

    // The certificate chosen with OK (the caller takes it), or null.
    CertContextRef GetSelectedCertificate() const { return m_pstCertificate; }
    // 0 after a choice, 0x20001002 after a cancel, or the error of a failed
    // duplication.
    HRESULT GetErrorCode() const { return m_nErrorCode; }

    CCertificateList* CertificateList() const { return m_ctlCertificateList; }
    QPushButton* OkButton() const { return m_pOkButton; }
    QPushButton* CancelButton() const { return m_pCancelButton; }

    // OK (the OK button; Return, unless the focus is on Cancel) and Cancel
    // (Esc, the Cancel button, Return while it has the focus, the close box).
    void accept() override;
    void reject() override;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void done(int nResult) override;

private:
    HRESULT OnInitDialog(const SelectCertificateDlgParams* pParams);
    HRESULT LoadCertificates(const CertStore* hCertStore);
    void AdjustWindowSize();
    void OnOK();
    void OnCancel();
    void OnDestroy();

    HINSTANCE m_hResourceModule = nullptr;
    bool m_bUseYaHeiFont = true;
    std::u16string m_szDisplayString;
    std::vector<CertContextRef> m_vtrCertificateSet;
    std::vector<CertificateListItem> m_vtrCertificateItems;
    CCertificateList* m_ctlCertificateList = nullptr;
    QPushButton* m_pOkButton = nullptr;
    QPushButton* m_pCancelButton = nullptr;
    HRESULT m_nErrorCode = KVRA_OK;
    CertContextRef m_pstCertificate;
};
