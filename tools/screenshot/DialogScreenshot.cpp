// Renders the certificate selection dialog into a PNG, as a user sees it:
// the signing certificates of the user's store (HOME and SOFTHSM2_CONF
// pointing at a store made by tests/fixtures/make-store), the second row
// selected and the third under the mouse.
//
//   tessera-dialog-screenshot OUT.png
#include <QApplication>
#include <QImage>
#include <QListWidget>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include "kernel/CertificateFilters.h"
#include "ui/SelectCertificateDlg.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);

    CertList all, signing;
    CertFilter filter;
    filter.pwszSubjectDN = u"Hardware Signer#Alice Signer#Bob Nonrepudiation#张三#Frank Multi";
    filter.dwKeyUsage = 0x80; // digital signature
    filter.bCheckPrivateKey = 1;
    if (ExtractCertificatesFromLocalStore(u"MY", all) != KVRA_OK ||
        FilterCertificates(&filter, signing, all) != KVRA_OK || signing.size() < 3) {
        std::fprintf(stderr, "the store holds too few signing certificates\n");
        return 1;
    }
    HCERTSTORE hStore = CertOpenMemoryStore();
    for (const CertContextRef& pCert : signing)
        hStore->AddCertificate(pCert);

    SelectCertificateDlgParams params{};
    params.hCertStore = hStore.get();
    CSelectCertificateDlg dialog;
    bool bSaved = false;
    QTimer::singleShot(0, [&] {
        CCertificateList* pList = dialog.CertificateList();
        pList->setCurrentRow(1);
        QWidget* pViewport = pList->viewport();
        QTest::mouseMove(pViewport, pList->visualItemRect(pList->item(2)).center());
        QTimer::singleShot(200, [&] {
            bSaved = dialog.grab().toImage().save(QString::fromLocal8Bit(argv[1]), "PNG");
            dialog.reject();
        });
    });
    dialog.DoModal(&params);
    if (!bSaved) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
