// The way into the certificate selection dialog. It runs Tessera's own
// dialog, in a module loaded the first time a dialog is needed, so that a
// host that never shows one never loads the window toolkit.
#pragma once

#include "DialogParams.h"

// Shows the dialog over the store and returns the certificate the user
// picked, a reference of its own that outlives the store. Returns null with
// the last error set: 0x20001002 on cancel (and when the dialog fails while
// starting), 87 for a null record or a kind other than 0 and 1 (no window),
// 1400 when the dialog cannot be created at all, or the error of a failed
// duplication. Sets the last error to 0 after a choice.
CertContextRef CustomCryptUIDlgSelectCertificateFromStore(const CertStore* hCertStore,
                                                          const SelectCertificateUIParams* pParams);

// Runs the dialog modally and stores its error code and certificate.
// Returns the end code (1 OK, 2 Cancel), or -1 when it cannot be created.
int RunSelectCertificateDialog(int32_t* pnErrorCode, const SelectCertificateDlgParams* pParams,
                               CertContextRef* ppCertificate);
