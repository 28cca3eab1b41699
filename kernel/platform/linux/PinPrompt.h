// PIN entry for tokens that need a login, through `pinentry`, the standard
// PIN-entry program, spoken to over the Assuan protocol.
#pragma once

#include <pk11pub.h>

#include <memory>
#include <string>

#include "CertContextData.h"

// A notice on screen while a reader's PIN pad waits for the PIN.
class PadNotice;

// What one key operation knows about its PIN prompts. NSS hands it back to
// the callback as its window context; an operation that passes none (such
// as listing certificates) is never prompted.
struct PinPromptContext {
    PinPromptContext();
    PinPromptContext(const PinPromptContext&) = delete;
    PinPromptContext& operator=(const PinPromptContext&) = delete;
    ~PinPromptContext();

    // Overwrites and drops the PIN typed in this operation, and closes the
    // PIN pad's notice if it is still up: both are done with once the
    // operation's logins have returned.
    void ForgetPin();
    // Closes the PIN pad's notice, once the login it stood for has returned,
    // whatever its outcome.
    void CloseNotice();

    std::string strCertName; // shown in the prompt
    // The PIN typed in this operation. A key that wants its PIN before every
    // signature asks again right after the token's login; the PIN just typed
    // answers that too, so one signature asks once. Kept only until the
    // operation ends.
    std::string strPin;
    int nWrongPins = 0;
    bool bCancelled = false; // the user cancelled: no further prompt
    bool bBlocked = false;   // the token has locked its PIN
    bool bGaveUp = false;    // too many wrong PINs in this operation
    // The token, once a login has gone to its reader's PIN pad. NSS reports
    // a Cancel on the pad only as a library failure, and a key's own login
    // that failed not at all; the token's flags then tell a PIN the pad has
    // locked from a cancel.
    std::unique_ptr<PK11SlotInfo, SlotDeleter> pPadSlot;
    std::unique_ptr<PadNotice> pNotice; // while the pad waits
};

// The NSS password callback. Returns a PIN (allocated with PORT_Strdup) or
// null when the operation must not go on.
char* PinPromptCallback(PK11SlotInfo* pSlot, PRBool bRetry, void* pvContext);

// Asks pinentry for a PIN. Returns false when the user cancelled or
// pinentry could not be run.
bool AskPinentry(const std::string& strTitle, const std::string& strDescription, const std::string& strPrompt,
                 const std::string& strError, std::string& strPin);
