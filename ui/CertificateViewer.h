// A modal window showing one certificate's details: subject, issuer, serial
// number, validity, key usage, fingerprints, signature algorithm and its
// PEM text.
#pragma once

#include <QDialog>

#include "kernel/platform/CertContext.h"

class CCertificateViewer : public QDialog {
public:
    CCertificateViewer(const CertContextRef& pCert, QWidget* pParent);
};
