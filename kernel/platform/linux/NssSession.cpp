#include "NssSession.h"

#include <nss.h>
#include <pk11pub.h>
#include <secmod.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "CardReset.h"
#include "FirefoxProfiles.h"
#include "kernel/platform/LastError.h"
#include "PinPrompt.h"

namespace {

constexpr uint32_t kStoreCannotBeOpened = 0x80070002;

bool g_bOpen = false;
SECMODModule* g_pP11KitProxy = nullptr;
std::vector<ProfileDatabase> g_profiles;
std::string g_strUserDbDir; // empty without the user's database
std::vector<void (*)()> g_vtrCloseHooks;

// A value for an NSS module specification, quoted: NSS reads a backslash
// inside quotes as taking the next character literally.
std::string QuoteSpecValue(const std::string& str)
{
    std::string out = "'";
    for (char c : str) {
        if (c == '\\' || c == '\'')
            out += '\\';
        out += c;
    }
    return out + "'";
}

// A token label holds at most 32 bytes; cut at a character boundary.
std::string TokenLabel(const std::string& strName)
{
    std::string strLabel = "Firefox " + strName;
    if (strLabel.size() > 32) {
        size_t n = 32;
        while (n > 0 && (static_cast<unsigned char>(strLabel[n]) & 0xC0) == 0x80)
            --n;
        strLabel.resize(n);
    }
    return strLabel;
}

// Opens each Firefox profile's database read-only, as an extra token of
// NSS's own module. Firefox may be running and holding the same files:
// nothing here writes to them. A profile that cannot be opened is skipped.
void OpenProfileDatabases(const std::string& strHome)
{
    for (FirefoxProfile& profile : FindFirefoxProfiles(strHome)) {
        const std::string strSpec = "configdir=" + QuoteSpecValue("sql:" + profile.strDir) +
                                    " tokenDescription=" + QuoteSpecValue(TokenLabel(profile.strName)) +
                                    " flags=readOnly";
        PK11SlotInfo* pSlot = SECMOD_OpenUserDB(strSpec.c_str());
        if (pSlot == nullptr)
            continue;
        g_profiles.push_back({std::move(profile.strName), std::move(profile.strDir), pSlot});
    }
}

void CloseProfileDatabases()
{
    for (ProfileDatabase& profile : g_profiles) {
        SECMOD_CloseUserDB(profile.pSlot);
        PK11_FreeSlot(profile.pSlot);
    }
    g_profiles.clear();
}

// p11-kit's proxy module brings in every token of the system's PKCS#11
// modules (smart cards, USB tokens, SoftHSM), with no setup by the user.
void LoadP11KitModules()
{
    static const char kSpec[] = "library=" TESSERA_P11KIT_PROXY " name=\"p11-kit-proxy\"";
    std::string strSpec(kSpec);
    SECMODModule* pModule = SECMOD_LoadUserModule(strSpec.data(), nullptr, PR_FALSE);
    if (pModule == nullptr)
        return;
    if (!pModule->loaded) {
        SECMOD_DestroyModule(pModule);
        return;
    }
    g_pP11KitProxy = pModule;
}

} // namespace

bool EnsureNssSession()
{
    if (g_bOpen)
        return true;
    const char* pszHome = std::getenv("HOME");
    const std::string strHome = pszHome != nullptr ? pszHome : "";
    bool bOpened = false;
    if (!strHome.empty()) {
        const std::string strDb = "sql:" + strHome + "/.pki/nssdb";
        bOpened = NSS_Initialize(strDb.c_str(), "", "", SECMOD_DB, NSS_INIT_READONLY) == SECSuccess;
        if (bOpened)
            g_strUserDbDir = strHome + "/.pki/nssdb";
    }
    // Without a database the p11-kit tokens still serve.
    if (!bOpened)
        bOpened = NSS_NoDB_Init(nullptr) == SECSuccess;
    if (!bOpened) {
        SetLastError(kStoreCannotBeOpened);
        return false;
    }
    g_bOpen = true;
    PK11_SetPasswordFunc(PinPromptCallback);
    OpenProfileDatabases(strHome);
    LoadP11KitModules();
    std::atexit(CloseNssSession);
    return true;
}

void CloseNssSession()
{
    if (!g_bOpen)
        return;
    for (void (*pfnRelease)() : g_vtrCloseHooks)
        pfnRelease();
    // A smart card stays logged in for as long as it is powered, whoever
    // opened it: leave none of ours logged in behind us. A card that cannot
    // log out by itself is reset once its driver has let go of it.
    const std::vector<std::string> vtrCardReaders = LoggedInCardReaders();
    PK11_LogoutAll();
    CloseProfileDatabases();
    if (g_pP11KitProxy != nullptr) {
        SECMOD_UnloadUserModule(g_pP11KitProxy);
        SECMOD_DestroyModule(g_pP11KitProxy);
        g_pP11KitProxy = nullptr;
    }
    NSS_Shutdown();
    ResetCards(vtrCardReaders);
    g_strUserDbDir.clear();
    g_bOpen = false;
}

void OnNssSessionClose(void (*pfnRelease)())
{
    if (std::find(g_vtrCloseHooks.begin(), g_vtrCloseHooks.end(), pfnRelease) == g_vtrCloseHooks.end())
        g_vtrCloseHooks.push_back(pfnRelease);
}

std::string DatabaseDir(PK11SlotInfo* pSlot)
{
    if (const ProfileDatabase* pProfile = FindProfileDatabase(pSlot))
        return pProfile->strDir;
    return pSlot != nullptr && PK11_IsInternalKeySlot(pSlot) ? g_strUserDbDir : std::string();
}

const std::vector<ProfileDatabase>& ProfileDatabases()
{
    return g_profiles;
}

const ProfileDatabase* FindProfileDatabase(const PK11SlotInfo* pSlot)
{
    for (const ProfileDatabase& profile : g_profiles) {
        if (profile.pSlot == pSlot)
            return &profile;
    }
    return nullptr;
}

bool IsOpenedDatabase(PK11SlotInfo* pSlot)
{
    if (pSlot == nullptr || !PK11_IsInternal(pSlot) || PK11_IsInternalKeySlot(pSlot))
        return false;
    // NSS's own module also has its crypto slot, which holds no database.
    PK11SlotInfo* pCryptoSlot = PK11_GetInternalSlot();
    const bool bCryptoSlot = pCryptoSlot == pSlot;
    if (pCryptoSlot != nullptr)
        PK11_FreeSlot(pCryptoSlot);
    return !bCryptoSlot;
}
