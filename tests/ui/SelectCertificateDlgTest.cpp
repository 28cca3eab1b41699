// The certificate selection dialog, in-process under Qt's offscreen
// platform: rows, drawing, sizing, and how each way of ending it reports.
#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>
#include <QtTest>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <array>
#include <cstring>
#include <functional>

#include "kernel/CertificateFilters.h"
#include "kernel/CertificateProperties.h"
#include "kernel/platform/CertName.h"
#include "kernel/platform/CertStore.h"
#include "kernel/platform/LastError.h"
#include "tests/support/FixtureStore.h"
#include "ui/CertificateViewer.h"
#include "ui/DialogLauncher.h"
#include "ui/SelectCertificateDlg.h"

namespace {

struct NameEntry {
    const char* pszField;
    const char* pszValue;
};

// A certificate made on the spot: names in encoded order, serial given as
// its DER content, validity as UTC times "YYYYMMDDHHMMSSZ".
CertContextRef MakeCertificate(std::initializer_list<NameEntry> subject, std::initializer_list<NameEntry> issuer,
                               std::vector<uint8_t> serialContent = {0x01},
                               const char* pszNotBefore = "20200301000000Z", const char* pszNotAfter = "20250228000000Z")
{
    EVP_PKEY* pKey = EVP_EC_gen("P-256");
    X509* pX509 = X509_new();
    X509_set_version(pX509, 2);
    std::vector<uint8_t> der = {0x02, static_cast<uint8_t>(serialContent.size())};
    der.insert(der.end(), serialContent.begin(), serialContent.end());
    const unsigned char* p = der.data();
    ASN1_INTEGER* pSerial = d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(der.size()));
    X509_set_serialNumber(pX509, pSerial);
    ASN1_INTEGER_free(pSerial);
    auto fillName = [](X509_NAME* pName, std::initializer_list<NameEntry> entries) {
        for (const auto& e : entries) {
            // OpenSSL holds a value whose string type it picks itself to the
            // attribute's upper bound (64 for a CN); a value typed as a
            // UTF8String goes in as it is, however long.
            const int nType = std::strlen(e.pszValue) > 64 ? V_ASN1_UTF8STRING : MBSTRING_UTF8;
            X509_NAME_add_entry_by_txt(pName, e.pszField, nType, reinterpret_cast<const unsigned char*>(e.pszValue), -1,
                                       -1, 0);
        }
    };
    fillName(X509_get_subject_name(pX509), subject);
    fillName(X509_get_issuer_name(pX509), issuer);
    ASN1_TIME_set_string(X509_getm_notBefore(pX509), pszNotBefore);
    ASN1_TIME_set_string(X509_getm_notAfter(pX509), pszNotAfter);
    X509_set_pubkey(pX509, pKey);
    X509_sign(pX509, pKey, EVP_sha256());
    unsigned char* pDer = nullptr;
    const int nDer = i2d_X509(pX509, &pDer);
    CertContextRef pCert = CreateCertificateContext(pDer, static_cast<size_t>(nDer));
    OPENSSL_free(pDer);
    X509_free(pX509);
    EVP_PKEY_free(pKey);
    return pCert;
}

const std::initializer_list<NameEntry> kIssuer = {{"C", "CN"}, {"O", "Issuing Org"}, {"CN", "Issuing CA"}};

HCERTSTORE StoreOf(const std::vector<CertContextRef>& certs)
{
    HCERTSTORE hStore = CertOpenMemoryStore();
    for (const auto& pCert : certs)
        hStore->AddCertificate(pCert);
    return hStore;
}

SelectCertificateDlgParams ParamsFor(const CertStore* pStore)
{
    SelectCertificateDlgParams params{};
    params.hCertStore = pStore;
    return params;
}

// Runs fn once the modal dialog is up.
void WhenModalIsUp(std::function<void(QWidget*)> fn)
{
    QTimer::singleShot(0, [fn] {
        QWidget* pModal = QApplication::activeModalWidget();
        QVERIFY(pModal != nullptr);
        fn(pModal);
    });
}

QPushButton* ButtonWithText(QWidget* pWidget, const QString& strText)
{
    for (QPushButton* pButton : pWidget->findChildren<QPushButton*>()) {
        if (pButton->text() == strText)
            return pButton;
    }
    return nullptr;
}

// The text a label shows: its text as it is, or what remains of it once
// rendered when the label takes it for rich text.
QString DisplayedText(const QLabel* pLabel)
{
    const bool bRich = pLabel->textFormat() == Qt::RichText ||
                       (pLabel->textFormat() == Qt::AutoText && Qt::mightBeRichText(pLabel->text()));
    if (!bRich)
        return pLabel->text();
    QTextDocument document;
    document.setHtml(pLabel->text());
    return document.toPlainText();
}

bool Near(QRgb pixel, const QColor& colour, int nTolerance = 6)
{
    return std::abs(qRed(pixel) - colour.red()) <= nTolerance && std::abs(qGreen(pixel) - colour.green()) <= nTolerance &&
           std::abs(qBlue(pixel) - colour.blue()) <= nTolerance;
}

} // namespace

class SelectCertificateDlgTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("LANG", "C");
        qunsetenv("LANGUAGE");
        qunsetenv("LC_ALL");
        qunsetenv("LC_MESSAGES");
    }

    void rowsAreSortedAndFormattedFromTheCertificates()
    {
        const auto pCarol = MakeCertificate({{"C", "CN"}, {"O", "Org"}, {"CN", "carol"}}, kIssuer);
        const auto pBob = MakeCertificate({{"C", "CN"}, {"O", "Org"}, {"CN", "Bob"}}, kIssuer);
        const auto pAlice = MakeCertificate({{"C", "CN"}, {"O", "Org"}, {"CN", "alice"}}, kIssuer, {0xFF, 0x2A, 0x01});
        const auto pNoCn = MakeCertificate({{"C", "CN"}, {"O", "Nameless"}}, {{"CN", "Only A CN"}});
        const auto pComma = MakeCertificate({{"C", "CN"}, {"CN", "Smith, John"}}, {{"C", "CN"}});
        const HCERTSTORE hStore = StoreOf({pCarol, pBob, pAlice, pNoCn, pComma});
        const SelectCertificateDlgParams params = ParamsFor(hStore.get());

        CSelectCertificateDlg dialog;
        WhenModalIsUp([](QWidget* pModal) { static_cast<QDialog*>(pModal)->reject(); });
        dialog.DoModal(&params);
        // The dialog's rows are gone with it; the list kept its own copy.
        const auto& items = dialog.CertificateList()->Items();
        QCOMPARE(items.size(), size_t{5});
        std::vector<std::u16string> names;
        for (const auto& item : items)
            names.push_back(item.strName);
        // alice, Bob, carol: case-insensitive for A to Z; the empty name first.
        QVERIFY(names == (std::vector<std::u16string>{u"", u"alice", u"Bob", u"carol", u"Smith"}));
        const CertificateListItem& alice = items[1];
        QCOMPARE(QString::fromStdU16String(alice.strIssuer), QStringLiteral("Issuer: Issuing Org"));
        QCOMPARE(QString::fromStdU16String(alice.strSerialNumber), QStringLiteral("SN: ff2a01"));
        QCOMPARE(QString::fromStdU16String(alice.strValidity), QStringLiteral("Valid From: 03/01/2020 to 02/28/2025"));
        QCOMPARE(alice.bHardwareKey, 0);
        // No O in the issuer: its CN; neither: nothing.
        QCOMPARE(QString::fromStdU16String(items[0].strIssuer), QStringLiteral("Issuer: Only A CN"));
        QCOMPARE(QString::fromStdU16String(items[4].strIssuer), QStringLiteral("Issuer: "));
    }

    void hardwareKeyCertificatesComeFirst()
    {
        const tessera::test::FixtureStore& store = tessera::test::FixtureStore::Get();
        (void)store;
        CertList all;
        QCOMPARE(ExtractCertificatesFromLocalStore(u"MY", all), KVRA_OK);
        const HCERTSTORE hStore = StoreOf(all);
        const SelectCertificateDlgParams params = ParamsFor(hStore.get());
        CSelectCertificateDlg dialog;
        WhenModalIsUp([](QWidget* pModal) {
            // Return is OK, and row 0 is selected from the start.
            QTest::keyClick(pModal, Qt::Key_Return);
        });
        QCOMPARE(dialog.DoModal(&params), IDOK);
        QCOMPARE(dialog.GetErrorCode(), KVRA_OK);
        const auto& items = dialog.CertificateList()->Items();
        QVERIFY(items.size() >= 3);
        // The token's two keys, in order of name, then the software keys.
        QCOMPARE(QString::fromStdU16String(items[0].strName), QStringLiteral("Hardware Elliptic"));
        QCOMPARE(QString::fromStdU16String(items[1].strName), QStringLiteral("Hardware Signer"));
        QCOMPARE(items[0].bHardwareKey, 1);
        QCOMPARE(items[1].bHardwareKey, 1);
        QCOMPARE(items[2].bHardwareKey, 0);
        QVERIFY(dialog.GetSelectedCertificate() == items[0].pCertContext);
    }

    void rowsAreEightyPixelsAndTheListFitsTheScreen()
    {
        QCOMPARE(VisibleRowCount(1080, 20), 7);
        QCOMPARE(VisibleRowCount(768, 20), 3);
        QCOMPARE(VisibleRowCount(1080, 2), 2);
        // Screens with no room for a whole row still show one.
        QCOMPARE(VisibleRowCount(579, 20), 1);
        QCOMPARE(VisibleRowCount(500, 20), 1);
        QCOMPARE(VisibleRowCount(421, 2), 1);
        QCOMPARE(VisibleRowCount(400, 2), 1);
        QCOMPARE(VisibleRowCount(0, 2), 1);
        QCOMPARE(VisibleRowCount(400, 0), 0);
        QCOMPARE(VisibleRowCount(1080, 0), 0);

        std::vector<CertContextRef> certs;
        for (const char* pszName : {"one", "two", "three", "four", "five", "six", "seven", "eight", "nine", "ten"})
            certs.push_back(MakeCertificate({{"CN", pszName}}, kIssuer));
        const HCERTSTORE hStore = StoreOf(certs);
        const SelectCertificateDlgParams params = ParamsFor(hStore.get());
        CSelectCertificateDlg dialog;
        WhenModalIsUp([&dialog](QWidget*) {
            CCertificateList* pList = dialog.CertificateList();
            QCOMPARE(pList->visualItemRect(pList->item(0)).height(), 80);
            const QRect screen = QGuiApplication::primaryScreen()->geometry();
            const int nRows = VisibleRowCount(screen.height(), 10);
            QCOMPARE(pList->height(), 80 * nRows + 2 * pList->frameWidth());
            // Centred vertically on the screen.
            QVERIFY(std::abs(dialog.y() - (screen.height() - dialog.height()) / 2) <= 1);
            QCOMPARE(pList->currentRow(), 0);
            dialog.reject();
        });
        QCOMPARE(dialog.DoModal(&params), IDCANCEL);
    }

    void selectedAndHoveredRowsAreDrawnWithTheirColours()
    {
        const auto pCert = MakeCertificate({{"CN", std::string(200, 'W').c_str()}}, kIssuer);
        CCertificateList list;
        QCOMPARE(list.Initialize(nullptr, true, {CertificateListItem{pCert, std::u16string(200, u'W'), u"Issuer: x",
                                                                     u"SN: 01", u"Valid", 0}}),
                 KVRA_OK);
        const int w = 383, h = 80;
        auto render = [&](bool bSelected, bool bHovered) {
            QImage image(w, h, QImage::Format_RGB32);
            image.fill(Qt::magenta);
            QPainter painter(&image);
            list.DrawItem(painter, QRect(0, 0, w, h), 0, bSelected, bHovered);
            return image;
        };
        const QImage plain = render(false, false);
        QCOMPARE(QColor(plain.pixel(w - 5, h - 5)), QColor(Qt::white));
        QCOMPARE(QColor(plain.pixel(w / 2, 0)), QColor(Qt::white));

        const QImage selected = render(true, false);
        QVERIFY(Near(selected.pixel(w - 30, 2), QColor(221, 236, 253)));
        QVERIFY(Near(selected.pixel(w - 30, h - 3), QColor(194, 220, 253)));
        QCOMPARE(QColor(selected.pixel(w / 2, 0)), QColor(125, 182, 206));
        QCOMPARE(QColor(selected.pixel(w / 2, h - 1)), QColor(125, 182, 206));
        QCOMPARE(QColor(selected.pixel(0, h / 2)), QColor(125, 182, 206));
        // The selected colours win over the hover colours.
        QCOMPARE(render(true, true), selected);

        const QImage hovered = render(false, true);
        QVERIFY(Near(hovered.pixel(w - 30, 2), QColor(253, 254, 255)));
        QVERIFY(Near(hovered.pixel(w - 30, h - 3), QColor(185, 215, 252)));
        QCOMPARE(QColor(hovered.pixel(w / 2, 0)), QColor(243, 248, 255));

        // The long name stops 15 pixels before the right edge, without an
        // ellipsis: nothing but background right of it.
        for (int x = w - 15; x < w - 1; ++x) {
            for (int y = 5; y < 25; ++y)
                QCOMPARE(plain.pixel(x, y), plain.pixel(w - 5, h - 5));
        }
        bool bInked = false;
        for (int x = w - 40; x < w - 15 && !bInked; ++x) {
            for (int y = 5; y < 25 && !bInked; ++y)
                bInked = plain.pixel(x, y) != plain.pixel(w - 5, h - 5);
        }
        QVERIFY(bInked);
    }

    // Every face is sized by its cell (ascent plus descent), so that the
    // four lines of a card keep apart: no row of dark pixels in the text
    // area may join two lines, in English or in Chinese.
    void theFourTextLinesOfACardKeepApart()
    {
        for (const QStringList& faces : {YaHeiFaces(), ArialFaces()}) {
            for (int nCell : {14, 16, 18, 20, 22}) {
                const QFont font = CellFont(faces, 0, nCell);
                const QFontMetricsF metrics(font);
                QVERIFY2(metrics.ascent() + metrics.descent() <= nCell + 0.02, qPrintable(faces.first()));
                QFont larger = font;
                larger.setPixelSize(font.pixelSize() + 1);
                const QFontMetricsF largerMetrics(larger);
                QVERIFY2(largerMetrics.ascent() + largerMetrics.descent() > nCell, qPrintable(faces.first()));
            }
        }

        const auto pCert = MakeCertificate({{"CN", "x"}}, kIssuer);
        const std::array<std::array<const char16_t*, 4>, 2> cards = {{
            {u"Gregory Quigley", u"Issuer: Tessera Test", u"SN: 0a1b2c3d4e5f", u"Valid From: 11/07/2026 to 11/07/2036"},
            {u"张三丰", u"颁发者: 测试机构", u"序列号: 0a1b2c3d4e5f", u"有效期: 11/07/2026 至 11/07/2036"},
        }};
        const int w = 383, h = 80;
        for (bool bYaHei : {true, false}) {
            for (const auto& lines : cards) {
                CCertificateList list;
                QCOMPARE(list.Initialize(nullptr, bYaHei,
                                         {CertificateListItem{pCert, lines[0], lines[1], lines[2], lines[3], 0}}),
                         KVRA_OK);
                QImage image(w, h, QImage::Format_RGB32);
                QPainter painter(&image);
                list.DrawItem(painter, QRect(0, 0, w, h), 0, false, false);
                painter.end();
                // The bands of consecutive rows holding ink, right of the frame.
                std::vector<std::pair<int, int>> bands;
                for (int y = 0; y < h; ++y) {
                    bool bInk = false;
                    for (int x = 80; x < w - 15 && !bInk; ++x)
                        bInk = qGray(image.pixel(x, y)) < 128;
                    if (!bInk)
                        continue;
                    if (!bands.empty() && bands.back().second == y - 1)
                        bands.back().second = y;
                    else
                        bands.emplace_back(y, y);
                }
                QString strBands;
                for (const auto& [nTop, nBottom] : bands)
                    strBands += QStringLiteral(" %1-%2").arg(nTop).arg(nBottom);
                const QString strWhat = QString::fromStdU16String(lines[0]) +
                                        (bYaHei ? QStringLiteral(" (YaHei faces):") : QStringLiteral(" (Arial faces):"));
                QVERIFY2(bands.size() == 4, qPrintable(strWhat + strBands));
            }
        }
    }

    // A name longer than a line holds is cut to its first 127 characters
    // rather than dropped, and the cut keeps a surrogate pair whole.
    void longNamesAreCutNotBlanked()
    {
        std::string strLong;
        for (int i = 0; i < 200; ++i)
            strLong += static_cast<char>('a' + i % 26);
        // U+1F600 takes the 127th and 128th UTF-16 units.
        std::string strStraddling(126, 'p');
        strStraddling += "\xF0\x9F\x98\x80";
        strStraddling += "tail";
        const HCERTSTORE hStore =
            StoreOf({MakeCertificate({{"CN", strLong.c_str()}}, {{"C", "CN"}, {"O", strLong.c_str()}, {"CN", "CA"}}),
                     MakeCertificate({{"CN", strStraddling.c_str()}}, {{"C", "CN"}, {"CN", strLong.c_str()}})});
        const SelectCertificateDlgParams params = ParamsFor(hStore.get());
        CSelectCertificateDlg dialog;
        WhenModalIsUp([](QWidget* pModal) { static_cast<QDialog*>(pModal)->reject(); });
        dialog.DoModal(&params);
        const auto& items = dialog.CertificateList()->Items();
        QCOMPARE(items.size(), size_t{2});
        const QString strCut = QString::fromStdString(strLong.substr(0, 127));
        QCOMPARE(QString::fromStdU16String(items[0].strName), strCut);
        QCOMPARE(QString::fromStdU16String(items[0].strIssuer), QStringLiteral("Issuer: ") + strCut);
        QCOMPARE(QString::fromStdU16String(items[1].strName), QString(126, u'p'));
        QCOMPARE(QString::fromStdU16String(items[1].strIssuer), QStringLiteral("Issuer: ") + strCut);
    }

    void okReturnsAReferenceThatOutlivesTheStore()
    {
        CertContextRef pChosen;
        {
            const HCERTSTORE hStore = StoreOf({MakeCertificate({{"CN", "zed"}}, kIssuer),
                                               MakeCertificate({{"CN", "amy"}}, kIssuer)});
            const SelectCertificateDlgParams params = ParamsFor(hStore.get());
            CSelectCertificateDlg dialog;
            WhenModalIsUp([&dialog](QWidget*) {
                dialog.CertificateList()->setCurrentRow(1);
                dialog.OkButton()->click();
            });
            QCOMPARE(dialog.DoModal(&params), IDOK);
            QCOMPARE(dialog.GetErrorCode(), KVRA_OK);
            pChosen = dialog.GetSelectedCertificate();
        }
        QVERIFY(pChosen != nullptr);
        std::u16string wstrSubject;
        QCOMPARE(GetCertSubject(pChosen, &wstrSubject, nullptr, CERT_X500_NAME_STR), KVRA_OK);
        QCOMPARE(QString::fromStdU16String(wstrSubject), QStringLiteral("CN=zed"));
    }

    void cancelEscapeAndCloseAllCancel()
    {
        const HCERTSTORE hStore = StoreOf({MakeCertificate({{"CN", "a"}}, kIssuer), MakeCertificate({{"CN", "b"}}, kIssuer)});
        const SelectCertificateDlgParams params = ParamsFor(hStore.get());
        const std::vector<std::function<void(QWidget*)>> endings = {
            [](QWidget* p) { static_cast<CSelectCertificateDlg*>(p)->CancelButton()->click(); },
            [](QWidget* p) { QTest::keyClick(p, Qt::Key_Escape); },
            [](QWidget* p) { p->close(); },
        };
        for (const auto& end : endings) {
            CSelectCertificateDlg dialog;
            WhenModalIsUp(end);
            QCOMPARE(dialog.DoModal(&params), IDCANCEL);
            QCOMPARE(dialog.GetErrorCode(), static_cast<HRESULT>(SELECT_CERTIFICATE_CANCELED));
            QVERIFY(dialog.GetSelectedCertificate() == nullptr);
        }
    }

    void aPictureThatFailsToLoadEndsTheDialogAsACancel()
    {
        // A resource module with the string tables but no pictures.
        const HINSTANCE hOwn = GetModuleHandleW(nullptr);
        const ResourceModule noPictures{hOwn->english, hOwn->chinese, hOwn->dialogsEnglish, hOwn->dialogsChinese, {}};
        const HCERTSTORE hStore = StoreOf({MakeCertificate({{"CN", "a"}}, kIssuer), MakeCertificate({{"CN", "b"}}, kIssuer)});
        SelectCertificateDlgParams params = ParamsFor(hStore.get());
        params.hResourceModule = &noPictures;
        CSelectCertificateDlg dialog;
        QCOMPARE(dialog.DoModal(&params), IDCANCEL);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.GetErrorCode(), static_cast<HRESULT>(SELECT_CERTIFICATE_CANCELED));
        QVERIFY(dialog.GetSelectedCertificate() == nullptr);
        // Without a start-up record, the same.
        CSelectCertificateDlg noRecord;
        QCOMPARE(noRecord.DoModal(nullptr), IDCANCEL);
        QCOMPARE(noRecord.GetErrorCode(), static_cast<HRESULT>(SELECT_CERTIFICATE_CANCELED));
    }

    void doubleClickOpensTheViewerAndHoverShowsTheName()
    {
        // A name that looks like markup is shown as the text it is.
        const HCERTSTORE hStore = StoreOf({MakeCertificate({{"C", "CN"}, {"CN", "Viewer <b>Test</b><img src=x>"}}, kIssuer),
                                           MakeCertificate({{"CN", "b"}}, kIssuer)});
        const SelectCertificateDlgParams params = ParamsFor(hStore.get());
        CSelectCertificateDlg dialog;
        QString strViewerSubject, strTip;
        QStringList viewerTexts;
        WhenModalIsUp([&](QWidget*) {
            CCertificateList* pList = dialog.CertificateList();
            const QRect rowRect = pList->visualItemRect(pList->item(1));
            QHelpEvent help(QEvent::ToolTip, rowRect.center(), pList->viewport()->mapToGlobal(rowRect.center()));
            QApplication::sendEvent(pList->viewport(), &help);
            for (QWidget* pWidget : QApplication::topLevelWidgets()) {
                if (auto* pTip = qobject_cast<QLabel*>(pWidget); pTip && pTip->objectName() == QStringLiteral("qtooltip_label"))
                    strTip = DisplayedText(pTip);
            }
            QTimer::singleShot(0, [&] {
                CCertificateViewer* pViewer = nullptr;
                for (QWidget* pWidget : QApplication::topLevelWidgets()) {
                    if (auto* pCandidate = dynamic_cast<CCertificateViewer*>(pWidget); pCandidate && pCandidate->isVisible())
                        pViewer = pCandidate;
                }
                QVERIFY(pViewer != nullptr);
                for (QLabel* pLabel : pViewer->findChildren<QLabel*>()) {
                    if (strViewerSubject.isEmpty() && pLabel->text().startsWith(QStringLiteral("CN=")))
                        strViewerSubject = DisplayedText(pLabel); // the subject comes first
                    viewerTexts << pLabel->text();
                }
                pViewer->reject();
                QTimer::singleShot(0, [&dialog] { dialog.reject(); });
            });
            QTest::mouseClick(pList->viewport(), Qt::LeftButton, {}, rowRect.center());
            QTest::mouseDClick(pList->viewport(), Qt::LeftButton, {}, rowRect.center());
        });
        QCOMPARE(dialog.DoModal(&params), IDCANCEL);
        // Row 1 is "Viewer Test": "b" sorts first.
        QCOMPARE(strTip, QStringLiteral("Viewer <b>Test</b><img src=x>"));
        QCOMPARE(strViewerSubject, QStringLiteral("CN=Viewer <b>Test</b><img src=x>, C=CN"));
        // The key's type and size; these certificates' keys are P-256.
        QVERIFY(viewerTexts.contains(QStringLiteral("Public key:")));
        QVERIFY(viewerTexts.contains(QStringLiteral("EC P-256")));
    }

    void theLauncherChecksItsRecordAndRunsTheModule()
    {
        const HCERTSTORE hStore = StoreOf({MakeCertificate({{"CN", "one"}}, kIssuer), MakeCertificate({{"CN", "two"}}, kIssuer)});
        const int nWindows = QApplication::topLevelWidgets().size();
        SetLastError(0);
        QVERIFY(CustomCryptUIDlgSelectCertificateFromStore(hStore.get(), nullptr) == nullptr);
        QCOMPARE(GetLastError(), 87u);
        SelectCertificateUIParams params{2, nullptr, nullptr, nullptr, nullptr};
        QVERIFY(CustomCryptUIDlgSelectCertificateFromStore(hStore.get(), &params) == nullptr);
        QCOMPARE(GetLastError(), 87u);
        QCOMPARE(QApplication::topLevelWidgets().size(), nWindows);

        // Kind 1 shows the caller's texts; two runs in a row behave alike.
        params = {1, nullptr, u"Pick one", u"Use", u"Never mind"};
        for (int nRun = 0; nRun < 2; ++nRun) {
            QString strTitle;
            WhenModalIsUp([&strTitle](QWidget* pModal) {
                strTitle = pModal->windowTitle();
                QVERIFY(ButtonWithText(pModal, QStringLiteral("Never mind")) != nullptr);
                ButtonWithText(pModal, QStringLiteral("Use"))->click();
            });
            const CertContextRef pCert = CustomCryptUIDlgSelectCertificateFromStore(hStore.get(), &params);
            QVERIFY(pCert != nullptr);
            QCOMPARE(GetLastError(), 0u);
            QCOMPARE(strTitle, QStringLiteral("Pick one"));
        }
        // Kind 0 uses the template's texts; Cancel reports the cancel code.
        params = {0, nullptr, u"ignored", u"ignored", u"ignored"};
        QString strTitle;
        WhenModalIsUp([&strTitle](QWidget* pModal) {
            strTitle = pModal->windowTitle();
            ButtonWithText(pModal, QStringLiteral("Cancel"))->click();
        });
        QVERIFY(CustomCryptUIDlgSelectCertificateFromStore(hStore.get(), &params) == nullptr);
        QCOMPARE(GetLastError(), SELECT_CERTIFICATE_CANCELED);
        QCOMPARE(strTitle, QStringLiteral("Windows Security"));
    }

    void chineseUserInterface()
    {
        qputenv("LANG", "zh_CN.UTF-8");
        const HCERTSTORE hStore = StoreOf({MakeCertificate({{"CN", "张三"}}, kIssuer, {0x0A}),
                                           MakeCertificate({{"CN", "b"}}, kIssuer)});
        const SelectCertificateDlgParams params = ParamsFor(hStore.get());
        CSelectCertificateDlg dialog;
        QString strTitle, strOk, strCancel;
        WhenModalIsUp([&](QWidget*) {
            strTitle = dialog.windowTitle();
            strOk = dialog.OkButton()->text();
            strCancel = dialog.CancelButton()->text();
            dialog.reject();
        });
        dialog.DoModal(&params);
        qputenv("LANG", "C");
        QCOMPARE(strTitle, QStringLiteral("Windows 安全"));
        QCOMPARE(strOk, QStringLiteral("确定"));
        QCOMPARE(strCancel, QStringLiteral("取消"));
        const auto& items = dialog.CertificateList()->Items();
        QCOMPARE(QString::fromStdU16String(items[1].strIssuer), QStringLiteral("颁发者: Issuing Org"));
        QCOMPARE(QString::fromStdU16String(items[1].strSerialNumber), QStringLiteral("序列号: 0a"));
        QCOMPARE(QString::fromStdU16String(items[1].strValidity), QStringLiteral("有效期: 03/01/2020 至 02/28/2025"));
    }
};

QTEST_MAIN(SelectCertificateDlgTest)
#include "SelectCertificateDlgTest.moc"
