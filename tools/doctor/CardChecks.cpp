// PC/SC (pcscd and its readers, through libpcsclite when it is installed)
// and the PKCS#11 modules p11-kit registers, with their slots and tokens.
#include <PCSC/winscard.h>
#include <dirent.h>
#include <dlfcn.h>
#include <p11-kit/p11-kit.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Checks.h"

namespace {

std::string Hex(unsigned long n)
{
    char sz[24];
    std::snprintf(sz, sizeof sz, "0x%08lX", n);
    return sz;
}

// A PKCS#11 text field: fixed length, padded with blanks.
std::string Padded(const unsigned char* p, size_t n)
{
    std::string s(reinterpret_cast<const char*>(p), n);
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

void CheckPcsc(Report& report)
{
    cJSON* pPcsc = cJSON_CreateObject();
    report.Set("pcsc", pPcsc);
    // Loaded only here, and only if installed: the doctor needs no PC/SC.
    std::unique_ptr<void, int (*)(void*)> pLibrary(dlopen("libpcsclite.so.1", RTLD_NOW | RTLD_LOCAL), dlclose);
    if (!pLibrary) {
        AddString(pPcsc, "status", "not-installed");
        report.Line(0, report.Text(DoctorTextId::PcscNotInstalled));
        return;
    }
    using Establish = LONG (*)(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT);
    using Release = LONG (*)(SCARDCONTEXT);
    using ListReaders = LONG (*)(SCARDCONTEXT, LPCSTR, LPSTR, LPDWORD);
    using StatusChange = LONG (*)(SCARDCONTEXT, DWORD, SCARD_READERSTATE*, DWORD);
    const auto pEstablish = reinterpret_cast<Establish>(dlsym(pLibrary.get(), "SCardEstablishContext"));
    const auto pRelease = reinterpret_cast<Release>(dlsym(pLibrary.get(), "SCardReleaseContext"));
    const auto pList = reinterpret_cast<ListReaders>(dlsym(pLibrary.get(), "SCardListReaders"));
    const auto pStatus = reinterpret_cast<StatusChange>(dlsym(pLibrary.get(), "SCardGetStatusChange"));
    if (pEstablish == nullptr || pRelease == nullptr || pList == nullptr || pStatus == nullptr) {
        AddString(pPcsc, "status", "not-installed");
        report.Line(0, report.Text(DoctorTextId::PcscNotInstalled));
        return;
    }
    SCARDCONTEXT hContext = 0;
    const LONG rv = pEstablish(SCARD_SCOPE_USER, nullptr, nullptr, &hContext);
    if (rv != SCARD_S_SUCCESS) {
        AddString(pPcsc, "status", "no-service");
        AddString(pPcsc, "code", Hex(static_cast<unsigned long>(rv)));
        report.Line(0, report.Text(DoctorTextId::PcscNoService, {Hex(static_cast<unsigned long>(rv))}));
        return;
    }
    AddString(pPcsc, "status", "answers");
    cJSON* pReaders = cJSON_AddArrayToObject(pPcsc, "readers");
    DWORD cchReaders = 0;
    std::string strReaders;
    if (pList(hContext, nullptr, nullptr, &cchReaders) == SCARD_S_SUCCESS && cchReaders > 0) {
        strReaders.resize(cchReaders);
        if (pList(hContext, nullptr, strReaders.data(), &cchReaders) != SCARD_S_SUCCESS)
            strReaders.clear();
    }
    std::vector<std::string> vtrNames;
    for (size_t i = 0; i < strReaders.size() && strReaders[i] != '\0'; i += vtrNames.back().size() + 1)
        vtrNames.emplace_back(strReaders.c_str() + i);
    if (vtrNames.empty())
        report.Line(0, report.Text(DoctorTextId::PcscNoReaders));
    for (const std::string& name : vtrNames) {
        SCARD_READERSTATE state{};
        state.szReader = name.c_str();
        state.dwCurrentState = SCARD_STATE_UNAWARE;
        const bool bCard = pStatus(hContext, 0, &state, 1) == SCARD_S_SUCCESS && (state.dwEventState & SCARD_STATE_PRESENT) != 0;
        cJSON* pReader = cJSON_CreateObject();
        cJSON_AddItemToArray(pReaders, pReader);
        AddString(pReader, "name", name);
        AddBool(pReader, "card", bCard);
        report.Line(0, report.Text(DoctorTextId::PcscReader,
                                   {name, report.Text(bCard ? DoctorTextId::CardPresent : DoctorTextId::CardAbsent)}));
    }
    pRelease(hContext);
}

struct ModuleConfig {
    std::string strName; // the file's name without .module
    std::string strPath; // its "module:" value
};

// The modules p11-kit's configuration registers: the system's, the
// administrator's and the user's, a later one of a name replacing an
// earlier one, as p11-kit reads them.
std::vector<ModuleConfig> RegisteredModules()
{
    std::vector<ModuleConfig> vtr;
    const std::string strUser = UserFolder(".config/pkcs11/modules");
    for (const std::string& strDir : {std::string(P11_SYSTEM_MODULES_DIR), std::string("/etc/pkcs11/modules"), strUser}) {
        std::unique_ptr<DIR, int (*)(DIR*)> pDir(opendir(strDir.c_str()), closedir);
        if (!pDir)
            continue;
        std::vector<std::string> vtrFiles;
        while (const dirent* pEntry = readdir(pDir.get())) {
            const std::string name = pEntry->d_name;
            if (name.size() > 7 && name.ends_with(".module"))
                vtrFiles.push_back(name);
        }
        std::sort(vtrFiles.begin(), vtrFiles.end());
        for (const std::string& file : vtrFiles) {
            std::ifstream config(strDir + "/" + file);
            ModuleConfig module{file.substr(0, file.size() - 7), ""};
            for (std::string line; std::getline(config, line);) {
                if (line.rfind("module:", 0) == 0) {
                    module.strPath = line.substr(7);
                    module.strPath.erase(0, module.strPath.find_first_not_of(" \t"));
                    module.strPath.erase(module.strPath.find_last_not_of(" \t\r") + 1);
                }
            }
            std::erase_if(vtr, [&](const ModuleConfig& m) { return m.strName == module.strName; });
            if (!module.strPath.empty())
                vtr.push_back(module);
        }
    }
    return vtr;
}

void CheckModules(Report& report)
{
    const std::vector<ModuleConfig> vtrModules = RegisteredModules();
    if (vtrModules.empty())
        report.Line(0, report.Text(DoctorTextId::NoModules));
    report.Array("modules");
    for (const ModuleConfig& config : vtrModules) {
        cJSON* pEntry = report.Entry("modules");
        AddString(pEntry, "name", config.strName);
        AddString(pEntry, "path", config.strPath);
        CK_FUNCTION_LIST* pModule = p11_kit_module_load(config.strPath.c_str(), 0);
        const CK_RV rv = pModule != nullptr ? p11_kit_module_initialize(pModule) : CKR_GENERAL_ERROR;
        if (rv != CKR_OK) {
            const std::string problem =
                pModule == nullptr ? std::string(p11_kit_message() != nullptr ? p11_kit_message() : "?") : Hex(rv);
            AddBool(pEntry, "loads", false);
            AddString(pEntry, "problem", problem);
            report.Line(0, report.Text(DoctorTextId::ModuleFailed, {config.strName, config.strPath, problem}));
            if (pModule != nullptr)
                p11_kit_module_release(pModule);
            continue;
        }
        AddBool(pEntry, "loads", true);
        report.Line(0, report.Text(DoctorTextId::ModuleLoaded, {config.strName, config.strPath}));
        cJSON* pSlots = cJSON_AddArrayToObject(pEntry, "slots");
        CK_ULONG nSlots = 0;
        std::vector<CK_SLOT_ID> vtrSlots;
        if (pModule->C_GetSlotList(CK_FALSE, nullptr, &nSlots) == CKR_OK) {
            vtrSlots.resize(nSlots);
            if (pModule->C_GetSlotList(CK_FALSE, vtrSlots.data(), &nSlots) != CKR_OK)
                nSlots = 0;
            vtrSlots.resize(nSlots);
        }
        for (CK_SLOT_ID slot : vtrSlots) {
            CK_SLOT_INFO slotInfo{};
            CK_TOKEN_INFO tokenInfo{};
            const bool bToken = pModule->C_GetSlotInfo(slot, &slotInfo) == CKR_OK &&
                                (slotInfo.flags & CKF_TOKEN_PRESENT) != 0 &&
                                pModule->C_GetTokenInfo(slot, &tokenInfo) == CKR_OK;
            const std::string strSlot = Padded(slotInfo.slotDescription, sizeof slotInfo.slotDescription);
            cJSON* pSlot = cJSON_CreateObject();
            cJSON_AddItemToArray(pSlots, pSlot);
            AddString(pSlot, "slot", strSlot);
            if (bToken) {
                const std::string strLabel = Padded(tokenInfo.label, sizeof tokenInfo.label);
                AddString(pSlot, "token", strLabel);
                report.Line(1, report.Text(DoctorTextId::TokenLine, {strSlot, strLabel}));
            } else {
                cJSON_AddNullToObject(pSlot, "token");
                report.Line(1, report.Text(DoctorTextId::SlotEmpty, {strSlot}));
            }
        }
        p11_kit_module_finalize(pModule);
        p11_kit_module_release(pModule);
    }
}

} // namespace

void CheckCards(Report& report)
{
    report.Heading(DoctorTextId::SectionCards);
    CheckPcsc(report);
    CheckModules(report);
}
