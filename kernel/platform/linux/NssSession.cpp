#include "NssSession.h"

#include <nss.h>
#include <pk11pub.h>
#include <secmod.h>

#include <cstdlib>
#include <string>

#include "kernel/platform/LastError.h"
#include "PinPrompt.h"

namespace {

constexpr uint32_t kStoreCannotBeOpened = 0x80070002;

bool g_bOpen = false;
SECMODModule* g_pP11KitProxy = nullptr;

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
    bool bOpened = false;
    if (pszHome != nullptr && *pszHome != '\0') {
        const std::string strDb = std::string("sql:") + pszHome + "/.pki/nssdb";
        bOpened = NSS_Initialize(strDb.c_str(), "", "", SECMOD_DB, NSS_INIT_READONLY) == SECSuccess;
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
    LoadP11KitModules();
    std::atexit(CloseNssSession);
    return true;
}

void CloseNssSession()
{
    if (!g_bOpen)
        return;
    // A smart card stays logged in for as long as it is powered, whoever
    // opened it: leave none of ours logged in behind us.
    PK11_LogoutAll();
    if (g_pP11KitProxy != nullptr) {
        SECMOD_UnloadUserModule(g_pP11KitProxy);
        SECMOD_DestroyModule(g_pP11KitProxy);
        g_pP11KitProxy = nullptr;
    }
    NSS_Shutdown();
    g_bOpen = false;
}
