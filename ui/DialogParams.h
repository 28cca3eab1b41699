// The records of the certificate selection dialog: what its caller passes to
// the launcher, and what the launcher hands the dialog.
#pragma once

#include <cstdint>

#include "kernel/platform/StatusCodes.h"
#include "kernel/platform/CertContext.h"
#include "kernel/platform/CertStore.h"
#include "kernel/platform/ResourceModule.h"

// The caller's parameter record.
struct SelectCertificateUIParams {
    uint32_t dwKind;                  // 0: default texts; 1: the texts below
    HINSTANCE hResourceModule;        // strings and pictures; null: the program's own
    const char16_t* pwszTitle;        // kind 1 only
    const char16_t* pwszOkText;       // kind 1 only
    const char16_t* pwszCancelText;   // kind 1 only
};

// The dialog's start-up record.
struct SelectCertificateDlgParams {
    HINSTANCE hResourceModule;
    const CertStore* hCertStore;
    const char16_t* pwszTitle;
    const char16_t* pwszDisplayString; // null: the heading is string 203
    const void* pvReserved;
    const char16_t* pwszOkText;
    const char16_t* pwszCancelText;
};

// How a dialog run ended when the user cancelled, or the dialog failed while
// starting (the customer bit marks it as Tessera's: the agent reports
// 0xA0071002).
constexpr uint32_t SELECT_CERTIFICATE_CANCELED = 0x20001002;

// Last error when the dialog cannot be created at all: no display to show
// it on, or its module cannot be loaded. Windows' invalid-window-handle
// error, so that a page sees 0x80070578 rather than a cancellation.
#ifndef ERROR_INVALID_WINDOW_HANDLE
constexpr uint32_t ERROR_INVALID_WINDOW_HANDLE = 1400;
#endif

// End codes of a modal run (Windows' own headers define them already, with
// the same values).
#ifndef IDOK
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
#endif

// The dialog module's entry: runs the dialog modally on the calling thread,
// with an application object of its own unless one exists, and stores its
// error code and chosen certificate. Returns the end code, or -1 when the
// dialog cannot be created.
using RunSelectCertificateDialogFn = int (*)(const SelectCertificateDlgParams* pParams,
                                              int32_t* pnErrorCode, CertContextRef* ppCertificate);
#define TESSERA_UI_MODULE "tessera-ui"
#define TESSERA_UI_ENTRY "tessera_ui_run_select_certificate_dialog"
