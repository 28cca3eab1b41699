#include "CertificateViewer.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <openssl/objects.h>

#include "kernel/CertificateProperties.h"
#include "kernel/platform/CertFields.h"
#include "kernel/platform/CertName.h"
#include "kernel/Encodings.h"
#include "kernel/platform/Language.h"

namespace {

QString Hex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(':')).toUpper(); }

QString DateText(const SYSTEMTIME& st)
{
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d UTC", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                             st.wSecond);
}

QString KeyUsageText(const CertContextRef& pCert, bool bChinese)
{
    uint32_t dwUsage = 0;
    if (FAILED(GetCertKeyUsage(pCert, &dwUsage, nullptr)))
        return bChinese ? QStringLiteral("(无)") : QStringLiteral("(none)");
    static const char* const kNames[] = {"Digital Signature", "Non-Repudiation", "Key Encipherment",
                                         "Data Encipherment", "Key Agreement",   "Certificate Signing",
                                         "CRL Signing",       "Encipher Only"};
    QStringList names;
    for (int bit = 0; bit < 8; ++bit) {
        if (dwUsage & (0x80u >> bit))
            names << QString::fromLatin1(kNames[bit]);
    }
    return names.join(QStringLiteral(", ")) + QString::asprintf(" (%02x)", dwUsage);
}

QString SignatureAlgorithmText(const CERT_CONTEXT& cert)
{
    const std::string strOid = GetSignatureAlgorithmOid(cert);
    const int nNid = OBJ_txt2nid(strOid.c_str());
    const char* pszName = nNid != NID_undef ? OBJ_nid2ln(nNid) : nullptr;
    return pszName != nullptr ? QStringLiteral("%1 (%2)").arg(QString::fromLatin1(pszName), QString::fromStdString(strOid))
                              : QString::fromStdString(strOid);
}

} // namespace

CCertificateViewer::CCertificateViewer(const CertContextRef& pCert, QWidget* pParent) : QDialog(pParent)
{
    const bool bChinese = GetUserUiLanguage() == UiLanguage::Chinese;
    setWindowTitle(bChinese ? QStringLiteral("证书") : QStringLiteral("Certificate"));
    setModal(true);
    auto* pLayout = new QVBoxLayout(this);
    auto* pForm = new QFormLayout;
    pLayout->addLayout(pForm);
    auto addRow = [&](const char* pszEnglish, const char* pszChinese, const QString& value) {
        auto* pValue = new QLabel(this);
        // Certificate data, never markup, however much it looks like some.
        pValue->setTextFormat(Qt::PlainText);
        pValue->setText(value);
        pValue->setTextInteractionFlags(Qt::TextSelectableByMouse);
        pValue->setWordWrap(true);
        pForm->addRow(QString::fromUtf8(bChinese ? pszChinese : pszEnglish), pValue);
    };

    std::u16string wstrText;
    GetCertSubject(pCert, &wstrText, nullptr, CERT_X500_NAME_STR);
    addRow("Subject:", "使用者：", QString::fromStdU16String(wstrText));
    GetCertIssuer(pCert, &wstrText, nullptr);
    addRow("Issuer:", "颁发者：", QString::fromStdU16String(wstrText));
    std::vector<uint8_t> vtrSerial;
    GetCertSerialNumber(pCert, &vtrSerial, nullptr);
    std::u16string wstrSerial;
    ConvertBinaryDataToString(vtrSerial.data(), static_cast<uint32_t>(vtrSerial.size()), wstrSerial);
    addRow("Serial number:", "序列号：", QString::fromStdU16String(wstrSerial));
    SYSTEMTIME stFrom{}, stTo{};
    GetCertFromDate(pCert, &stFrom, nullptr);
    GetCertToDate(pCert, &stTo, nullptr);
    addRow("Valid from:", "有效期从：", DateText(stFrom));
    addRow("Valid to:", "有效期到：", DateText(stTo));
    addRow("Key usage:", "密钥用法：", KeyUsageText(pCert, bChinese));
    addRow("Signature algorithm:", "签名算法：", SignatureAlgorithmText(*pCert));
    addRow("Public key:", "公钥：", QString::fromStdString(DescribePublicKey(GetPublicKeyInfo(*pCert))));
    const CRYPT_DATA_BLOB encoded = GetEncodedCertificate(*pCert);
    const QByteArray der(reinterpret_cast<const char*>(encoded.pbData), static_cast<qsizetype>(encoded.cbData));
    addRow("SHA-1 fingerprint:", "SHA-1 指纹：", Hex(QCryptographicHash::hash(der, QCryptographicHash::Sha1)));
    addRow("SHA-256 fingerprint:", "SHA-256 指纹：", Hex(QCryptographicHash::hash(der, QCryptographicHash::Sha256)));

    QString strPem = QStringLiteral("-----BEGIN CERTIFICATE-----\n");
    const QByteArray base64 = der.toBase64();
    for (qsizetype i = 0; i < base64.size(); i += 64)
        strPem += QString::fromLatin1(base64.mid(i, 64)) + QLatin1Char('\n');
    strPem += QStringLiteral("-----END CERTIFICATE-----\n");
    auto* pPem = new QPlainTextEdit(strPem, this);
    pPem->setReadOnly(true);
    pPem->setObjectName(QStringLiteral("pem"));
    QFont fixed(QStringLiteral("monospace"));
    fixed.setStyleHint(QFont::Monospace);
    pPem->setFont(fixed);
    pLayout->addWidget(pPem);

    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    pLayout->addWidget(pButtons);
    resize(560, 520);
}
