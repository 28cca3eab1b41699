// The NSS session behind the certificate store: opened on the first
// operation that needs it and closed at process exit.
#pragma once

#include <pk11pub.h>

#include <string>
#include <vector>

// Opens NSS if it is not open yet: the user's database
// (sql:$HOME/.pki/nssdb) read-only, or no database at all when it is
// missing; then, also read-only, the certificate database of every Firefox
// profile found (FindFirefoxProfiles); and every PKCS#11 module that p11-kit
// registers system-wide. Installs the PIN callback. Returns false, with the
// last error set, when NSS cannot be started at all.
bool EnsureNssSession();

// A Firefox profile's database, opened as a token of its own.
struct ProfileDatabase {
    std::string strName; // the profile's name
    std::string strDir;
    PK11SlotInfo* pSlot; // owned by the session
};

// The profile databases open in this session, in the order they are offered.
const std::vector<ProfileDatabase>& ProfileDatabases();

// The profile database a token is, or null for any other token. Knows only
// the databases this module opened: the dialog's module, which has a copy
// of this code, shares NSS but not these records.
const ProfileDatabase* FindProfileDatabase(const PK11SlotInfo* pSlot);

// Whether a token is a certificate database opened after NSS started (a
// Firefox profile's), told from NSS's own state so that every module that
// shares the NSS session gives the same answer.
bool IsOpenedDatabase(PK11SlotInfo* pSlot);

// The folder of the certificate database a token is (Chromium's or a
// Firefox profile's), or empty for any other token.
std::string DatabaseDir(PK11SlotInfo* pSlot);

// Has pfnRelease called when the session closes, before NSS itself, to let
// go of what keeps NSS busy. Once per function.
void OnNssSessionClose(void (*pfnRelease)());

// Closes NSS (and the p11-kit modules). Certificate references still held
// keep NSS busy, so callers release theirs first. Safe to call when NSS was
// never opened.
void CloseNssSession();
