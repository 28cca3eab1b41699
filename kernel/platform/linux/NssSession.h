// The NSS session behind the certificate store: opened on the first
// operation that needs it and closed at process exit.
#pragma once

// Opens NSS if it is not open yet: the user's database
// (sql:$HOME/.pki/nssdb) read-only, or no database at all when it is
// missing, plus every PKCS#11 module that p11-kit registers system-wide.
// Installs the PIN callback. Returns false, with the last error set, when
// NSS cannot be started at all.
bool EnsureNssSession();

// Closes NSS (and the p11-kit modules). Certificate references still held
// keep NSS busy, so callers release theirs first. Safe to call when NSS was
// never opened.
void CloseNssSession();
