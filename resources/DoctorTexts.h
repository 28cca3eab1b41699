// The texts of tessera-doctor's readable report, in English and Chinese.
// "{0}", "{1}"... stand for the values DoctorText's caller fills in.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "kernel/platform/Language.h"

enum class DoctorTextId {
    Title,
    SectionBrowsers,
    SectionHost,
    SectionCertificates,
    SectionCards,
    SectionSandboxes,
    ManifestMissing,
    ManifestUnreadable,
    ManifestWrongName,
    ManifestNoExtension,
    ManifestNoHost,
    ManifestGood,
    ExtensionExternal,
    ExtensionInProfile,
    ExtensionNowhere,
    HostAnswered,
    HostMissing,
    HostNotExecutable,
    HostNoAnswer,
    HostBadAnswer,
    CertificateLine,
    CertificateDetail,
    Offered,
    OfferedExpired,
    NoPrivateKey,
    CaOnToken,
    Duplicate,
    NoSigningUsage,
    KeyUnobtainable,
    NoCertificates,
    StoreFailed,
    PcscNotInstalled,
    PcscNoService,
    PcscNoReaders,
    PcscReader,
    CardPresent,
    CardAbsent,
    ModuleLoaded,
    ModuleFailed,
    NoModules,
    TokenLine,
    SlotEmpty,
    SnapFirefox,
    SnapChromium,
    Flatpak,
    NoSandboxes,
    VerdictGood,
    VerdictNoBrowser,
    VerdictNoCertificate,
    MoreInReadme,
};

// The text in that language with {0}, {1}... replaced by the values.
std::string DoctorText(UiLanguage language, DoctorTextId id, std::initializer_list<std::string_view> values = {});
