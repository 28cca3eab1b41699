#include "CardReset.h"

#include <dlfcn.h>

#include <memory>

namespace {

// The PC/SC calls used, with pcsclite's types on Linux (winscard.h).
using PcscLong = long;
using PcscDword = unsigned long;
using PcscHandle = long;
constexpr PcscDword kScopeSystem = 2;
constexpr PcscDword kShareShared = 2;
constexpr PcscDword kProtocolAny = 3; // T=0 or T=1
constexpr PcscDword kResetCard = 1;

struct LibraryCloser {
    void operator()(void* p) const { dlclose(p); }
};

// A reader-named slot description, without the blank padding.
std::string SlotDescription(const CK_SLOT_INFO& info)
{
    std::string str(reinterpret_cast<const char*>(info.slotDescription), sizeof info.slotDescription);
    str.erase(str.find_last_not_of(' ') + 1);
    return str;
}

} // namespace

std::vector<std::string> LoggedInCardReaders()
{
    std::vector<std::string> vtrReaders;
    PK11SlotList* pSlots = PK11_GetAllTokens(CKM_INVALID_MECHANISM, PR_FALSE, PR_FALSE, nullptr);
    if (pSlots == nullptr)
        return vtrReaders;
    for (PK11SlotListElement* pElement = pSlots->head; pElement != nullptr; pElement = pElement->next) {
        PK11SlotInfo* pSlot = pElement->slot;
        CK_SLOT_INFO info{};
        if (PK11_IsInternal(pSlot) || !PK11_IsHW(pSlot) || !PK11_IsRemovable(pSlot) || !PK11_NeedLogin(pSlot) ||
            !PK11_IsLoggedIn(pSlot, nullptr) || PK11_GetSlotInfo(pSlot, &info) != SECSuccess)
            continue;
        const std::string strReader = SlotDescription(info);
        if (!strReader.empty())
            vtrReaders.push_back(strReader);
    }
    PK11_FreeSlotList(pSlots);
    return vtrReaders;
}

void ResetCards(const std::vector<std::string>& vtrReaders)
{
    if (vtrReaders.empty())
        return;
    const std::unique_ptr<void, LibraryCloser> pLibrary(dlopen("libpcsclite.so.1", RTLD_NOW | RTLD_LOCAL));
    if (!pLibrary)
        return;
    auto pfnEstablish = reinterpret_cast<PcscLong (*)(PcscDword, const void*, const void*, PcscHandle*)>(
        dlsym(pLibrary.get(), "SCardEstablishContext"));
    auto pfnRelease = reinterpret_cast<PcscLong (*)(PcscHandle)>(dlsym(pLibrary.get(), "SCardReleaseContext"));
    auto pfnConnect = reinterpret_cast<PcscLong (*)(PcscHandle, const char*, PcscDword, PcscDword, PcscHandle*,
                                                    PcscDword*)>(dlsym(pLibrary.get(), "SCardConnect"));
    auto pfnDisconnect =
        reinterpret_cast<PcscLong (*)(PcscHandle, PcscDword)>(dlsym(pLibrary.get(), "SCardDisconnect"));
    PcscHandle hContext = 0;
    if (pfnEstablish == nullptr || pfnRelease == nullptr || pfnConnect == nullptr || pfnDisconnect == nullptr ||
        pfnEstablish(kScopeSystem, nullptr, nullptr, &hContext) != 0)
        return;
    for (const std::string& strReader : vtrReaders) {
        PcscHandle hCard = 0;
        PcscDword dwProtocol = 0;
        if (pfnConnect(hContext, strReader.c_str(), kShareShared, kProtocolAny, &hCard, &dwProtocol) == 0)
            pfnDisconnect(hCard, kResetCard);
    }
    pfnRelease(hContext);
}
