// Where a user's Firefox profiles are: Firefox keeps the certificates and
// keys imported with its certificate manager in each profile's own NSS
// database (cert9.db, key4.db), which Tessera offers beside ~/.pki/nssdb.
#pragma once

#include <string>
#include <vector>

struct FirefoxProfile {
    std::string strName; // the profile's name in profiles.ini, or its folder's
    std::string strDir;  // absolute, with symbolic links resolved
};

// The profiles under a home folder that hold a certificate database, each
// once, in the order they are offered. The places Firefox keeps its
// profiles are read in turn: ~/.config/mozilla/firefox (new profiles since
// Firefox 153), ~/.mozilla/firefox, the snap's and the flatpak's. In each,
// the installs' default profiles (installs.ini, and the [Install…] sections
// of profiles.ini) come first, then every profile profiles.ini lists.
//
// Nothing found there is trusted: an ini file is read only if it is a
// regular file (no link followed at the last step, no FIFO waited on) of at
// most 1 MiB, and a profile is used only if its folder is the user's own and
// writable by nobody else, and its cert9.db and key4.db are regular files
// not in SQLite's WAL mode (reading one writes files beside it). Anything
// else is skipped without a word.
std::vector<FirefoxProfile> FindFirefoxProfiles(const std::string& strHome);
