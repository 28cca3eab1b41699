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
std::vector<FirefoxProfile> FindFirefoxProfiles(const std::string& strHome);
