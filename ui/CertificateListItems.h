// The rows of the certificate selection dialog, whatever draws them: one
// card per certificate with four text lines and where its key lives, in
// display order, and how many of them the dialog shows at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel/platform/StatusCodes.h"
#include "kernel/platform/CertContext.h"
#include "kernel/platform/CertStore.h"
#include "kernel/platform/ResourceModule.h"

struct CertificateListItem {
    CertContextRef pCertContext;
    std::u16string strName;         // line 1: the holder's common name
    std::u16string strIssuer;       // line 2, formatted
    std::u16string strSerialNumber; // line 3, formatted
    std::u16string strValidity;     // line 4, formatted
    int32_t bHardwareKey = 0;       // the key is on a hardware or removable device
};

// Every row is a card this many pixels high.
constexpr int CERTIFICATE_ROW_HEIGHT = 80;

// Reads every certificate of the store into vtrCertificateSet (one reference
// each, in store order) and builds one row per certificate into vtrItems,
// with the line formats of hResourceModule's string table: hardware-key
// certificates first, then by name (A to Z without regard to case, other
// characters by code unit). On failure both vectors are left empty and the
// step that failed is traced.
HRESULT LoadCertificateListItems(HINSTANCE hResourceModule, const CertStore* hCertStore,
                                 std::vector<CertContextRef>& vtrCertificateSet,
                                 std::vector<CertificateListItem>& vtrItems);

// How many rows the list shows: as many as there are certificates, but no
// more than the screen leaves room for after 500 pixels, and never fewer
// than one while there is a certificate (Return picks the selected row, and
// that row must be in sight).
int VisibleRowCount(int nScreenHeight, int nCertificates);
