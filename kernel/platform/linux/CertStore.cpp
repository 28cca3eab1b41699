#include "kernel/platform/CertStore.h"
#include "kernel/platform/CertSurvey.h"

#include <pk11pub.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <new>
#include <set>
#include <string>
#include <utility>

#include "CertContextData.h"
#include "CryptoProviderData.h"
#include "kernel/platform/LastError.h"
#include "NssSession.h"

namespace {

constexpr uint32_t kOutOfMemory = 0x8007000E;

struct SlotListDeleter {
    void operator()(PK11SlotList* p) const { PK11_FreeSlotList(p); }
};
struct CertListDeleter {
    void operator()(CERTCertList* p) const { CERT_DestroyCertList(p); }
};
struct GenericObjectsDeleter {
    void operator()(PK11GenericObject* p) const { PK11_DestroyGenericObjects(p); }
};
struct ItemContentsDeleter {
    void operator()(SECItem* p) const { SECITEM_FreeItem(p, PR_FALSE); }
};
struct PrivateKeyListDeleter {
    void operator()(SECKEYPrivateKeyList* p) const { SECKEY_DestroyPrivateKeyList(p); }
};
using CertificatePtr = std::unique_ptr<CERTCertificate, CertificateDeleter>;

bool IsStoreName(const char16_t* pwsz, const char16_t* pwszName)
{
    for (; *pwsz != u'\0' && *pwszName != u'\0'; ++pwsz, ++pwszName) {
        const char16_t a = (*pwsz >= u'a' && *pwsz <= u'z') ? *pwsz - 32 : *pwsz;
        if (a != *pwszName)
            return false;
    }
    return *pwsz == *pwszName;
}

// Which certificates have been offered so far.
struct Offered {
    // Per token: a token reached twice (in the database's module list and
    // through p11-kit) is listed once, so a certificate counts once per
    // token serial number and name.
    std::set<std::pair<std::string, std::vector<uint8_t>>> perToken;
    // From a certificate database, Chromium's or a Firefox profile's: a
    // certificate imported into several of them is offered once. (Bytes
    // kept as a string: GCC 12 misjudges the bounds of comparing byte vectors.)
    std::set<std::string> fromDatabases;
};

// The certificate objects a token shows without a login, read from the
// token itself. NSS keeps its own copy of a hardware token's objects and,
// unless it believes the token shows its certificates publicly, lists none
// of them before login, although the token answers for them to anyone: so
// smart cards are asked directly when NSS lists nothing.
void ReadCertificateObjects(PK11SlotInfo* pSlot, std::vector<CertificatePtr>& vtrCerts)
{
    const std::unique_ptr<PK11GenericObject, GenericObjectsDeleter> pObjects(
        PK11_FindGenericObjects(pSlot, CKO_CERTIFICATE));
    for (PK11GenericObject* pObject = pObjects.get(); pObject != nullptr;
         pObject = PK11_GetNextGenericObject(pObject)) {
        SECItem value{siBuffer, nullptr, 0};
        if (PK11_ReadRawAttribute(PK11_TypeGeneric, pObject, CKA_VALUE, &value) != SECSuccess)
            continue;
        const std::unique_ptr<SECItem, ItemContentsDeleter> pValue(&value);
        // A certificate NSS already knows by these bytes comes back as that one.
        CertificatePtr pCert(CERT_NewTempCertificate(CERT_GetDefaultCertDB(), &value, nullptr, PR_FALSE, PR_TRUE));
        if (pCert)
            vtrCerts.push_back(std::move(pCert));
    }
}

// The certificates on one token, found without a login or a prompt.
std::vector<CertificatePtr> ListTokenCertificates(PK11SlotInfo* pSlot)
{
    std::vector<CertificatePtr> vtrCerts;
    const std::unique_ptr<CERTCertList, CertListDeleter> pCerts(PK11_ListCertsInSlot(pSlot));
    if (pCerts) {
        for (CERTCertListNode* pNode = CERT_LIST_HEAD(pCerts); !CERT_LIST_END(pNode, pCerts);
             pNode = CERT_LIST_NEXT(pNode))
            vtrCerts.emplace_back(CERT_DupCertificate(pNode->cert));
    }
    // NSS's own databases list all they hold; only a device may hide its
    // certificates from NSS's listing.
    if (vtrCerts.empty() && !PK11_IsInternal(pSlot))
        ReadCertificateObjects(pSlot, vtrCerts);
    return vtrCerts;
}

// An attribute of a token object, as bytes; empty when it cannot be read.
std::string ReadAttribute(PK11GenericObject* pObject, CK_ATTRIBUTE_TYPE type)
{
    SECItem value{siBuffer, nullptr, 0};
    if (PK11_ReadRawAttribute(PK11_TypeGeneric, pObject, type, &value) != SECSuccess)
        return {};
    const std::unique_ptr<SECItem, ItemContentsDeleter> pValue(&value);
    return std::string(reinterpret_cast<const char*>(value.data), value.len);
}

// The certificates of the keys in a certificate database that needs no
// login: those whose CKA_ID is a key's, as NSS pairs them, each made from
// the token's bytes with its key kept beside it. A database also keeps the
// certificates of other people and of authorities, often many of them:
// asking each for its identifier alone costs a fraction of what NSS spends
// on listing it, and the user's own need no NSS certificate at all, since
// their key is already found.
std::vector<CertContextRef> KeyedDatabaseCandidates(PK11SlotInfo* pSlot)
{
    std::vector<CertContextRef> vtrCandidates;
    const std::unique_ptr<SECKEYPrivateKeyList, PrivateKeyListDeleter> pKeys(
        PK11_ListPrivKeysInSlot(pSlot, nullptr, nullptr));
    if (!pKeys)
        return vtrCandidates;
    std::map<std::string, SECKEYPrivateKey*> keys; // the list holds them
    for (SECKEYPrivateKeyListNode* pNode = PRIVKEY_LIST_HEAD(pKeys); !PRIVKEY_LIST_END(pNode, pKeys);
         pNode = PRIVKEY_LIST_NEXT(pNode)) {
        if (SECItem* pId = PK11_GetLowLevelKeyIDForPrivateKey(pNode->key)) {
            keys.emplace(std::string(reinterpret_cast<const char*>(pId->data), pId->len), pNode->key);
            SECITEM_FreeItem(pId, PR_TRUE);
        }
    }
    if (keys.empty())
        return vtrCandidates;
    const std::unique_ptr<PK11GenericObject, GenericObjectsDeleter> pObjects(
        PK11_FindGenericObjects(pSlot, CKO_CERTIFICATE));
    for (PK11GenericObject* pObject = pObjects.get(); pObject != nullptr;
         pObject = PK11_GetNextGenericObject(pObject)) {
        const auto itKey = keys.find(ReadAttribute(pObject, CKA_ID));
        if (itKey == keys.end())
            continue;
        const std::string strDer = ReadAttribute(pObject, CKA_VALUE);
        CertContextRef pContext =
            CreateTokenCertificateContext(reinterpret_cast<const uint8_t*>(strDer.data()), strDer.size(), nullptr,
                                          PK11_ReferenceSlot(pSlot));
        if (!pContext)
            continue;
        pContext->pDatabaseKey.reset(SECKEY_CopyPrivateKey(itKey->second));
        if (pContext->pDatabaseKey)
            vtrCandidates.push_back(std::move(pContext));
    }
    return vtrCandidates;
}

// The certificates of one token that the token may hold the private key of
// (TokenMayHoldKey): a token that hides its keys until login still has its
// certificates offered, and nothing here logs in.
std::vector<CertContextRef> CandidateCertificates(PK11SlotInfo* pSlot)
{
    if (!DatabaseDir(pSlot).empty() && !PK11_NeedLogin(pSlot))
        return KeyedDatabaseCandidates(pSlot);
    std::vector<CertContextRef> vtrCandidates;
    for (CertificatePtr& pCert : ListTokenCertificates(pSlot)) {
        if (!TokenMayHoldKey(pSlot, pCert.get()))
            continue;
        const SECItem& der = pCert->derCert;
        CertContextRef pContext =
            CreateTokenCertificateContext(der.data, der.len, pCert.release(), PK11_ReferenceSlot(pSlot));
        if (pContext)
            vtrCandidates.push_back(std::move(pContext));
    }
    return vtrCandidates;
}

// What a certificate database's files and login look like now: anything
// written to the database changes one of its files.
std::string DatabaseStamp(PK11SlotInfo* pSlot, const std::string& strDir)
{
    std::string strStamp = PK11_IsLoggedIn(pSlot, nullptr) ? "in" : "out";
    for (const char* pszFile : {"cert9.db", "key4.db", "cert9.db-journal", "key4.db-journal", "cert9.db-wal",
                                "key4.db-wal"}) {
        struct stat st {};
        if (stat((strDir + "/" + pszFile).c_str(), &st) != 0) {
            strStamp += "|-";
            continue;
        }
        strStamp += '|' + std::to_string(st.st_ino) + ',' + std::to_string(st.st_size) + ',' +
                    std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
    }
    return strStamp;
}

// The candidates of each certificate database as last listed, kept for as
// long as the database stays as it was. Listing a database costs NSS a few
// SQLite queries for every certificate it holds, and parsing each one costs
// about as much again, so a host that selects again lists only what changed
// since: a database written meanwhile (a certificate imported into it) is
// listed anew.
struct DatabaseListing {
    std::string strStamp;
    std::vector<CertContextRef> vtrCandidates;
};
std::map<PK11SlotInfo*, DatabaseListing> g_databaseListings;

void ForgetDatabaseListings()
{
    g_databaseListings.clear();
}

const std::vector<CertContextRef>& DatabaseCandidates(PK11SlotInfo* pSlot, const std::string& strDir)
{
    static const bool bRegistered = (OnNssSessionClose(ForgetDatabaseListings), true);
    (void)bRegistered;
    DatabaseListing& listing = g_databaseListings[pSlot];
    std::string strStamp = DatabaseStamp(pSlot, strDir);
    if (strStamp != listing.strStamp) {
        listing.vtrCandidates = CandidateCertificates(pSlot);
        listing.strStamp = std::move(strStamp);
    }
    return listing.vtrCandidates;
}

// Appends one token's candidates to the store, each certificate once.
bool AppendTokenCertificates(CertStore& store, PK11SlotInfo* pSlot, Offered& offered)
{
    if (!PK11_IsPresent(pSlot))
        return true;
    CK_TOKEN_INFO info{};
    std::string strSerial;
    if (PK11_GetTokenInfo(pSlot, &info) == SECSuccess)
        strSerial.assign(reinterpret_cast<const char*>(info.serialNumber), sizeof info.serialNumber);
    strSerial += '/';
    strSerial += PK11_GetTokenName(pSlot);
    const std::string strDatabase = DatabaseDir(pSlot);
    std::vector<CertContextRef> vtrListed;
    if (strDatabase.empty())
        vtrListed = CandidateCertificates(pSlot);
    const std::vector<CertContextRef>& vtrCandidates =
        strDatabase.empty() ? vtrListed : DatabaseCandidates(pSlot, strDatabase);
    for (const CertContextRef& pContext : vtrCandidates) {
        const std::vector<uint8_t>& vtrDer = pContext->vtrEncoded;
        if (!strDatabase.empty() && !offered.fromDatabases.emplace(vtrDer.begin(), vtrDer.end()).second)
            continue;
        if (!offered.perToken.emplace(strSerial, vtrDer).second)
            continue;
        if (!store.AddCertificate(pContext, false))
            return false;
    }
    return true;
}

// Appends the certificates of every token: the devices and Chromium's
// database first, then the Firefox profiles in the order they were found,
// so that of a certificate in several databases Chromium's copy is the one
// offered.
bool AppendUserCertificates(CertStore& store)
{
    Offered offered;
    std::unique_ptr<PK11SlotList, SlotListDeleter> pSlots(
        PK11_GetAllTokens(CKM_INVALID_MECHANISM, PR_FALSE, PR_FALSE, nullptr));
    for (PK11SlotListElement* pElement = pSlots ? pSlots->head : nullptr; pElement != nullptr;
         pElement = pElement->next) {
        if (FindProfileDatabase(pElement->slot) == nullptr &&
            !AppendTokenCertificates(store, pElement->slot, offered))
            return false;
    }
    for (const ProfileDatabase& profile : ProfileDatabases()) {
        if (!AppendTokenCertificates(store, profile.pSlot, offered))
            return false;
    }
    return true;
}

// One token's certificates for the survey, with the store's verdict on
// each: the candidates as AppendTokenCertificates takes them, every other
// certificate the token lists with the reason it is left out.
// A certificate's bytes as a set key (see Offered on why not a vector).
std::string Bytes(const std::vector<uint8_t>& vtr)
{
    return std::string(vtr.begin(), vtr.end());
}

bool SurveyToken(PK11SlotInfo* pSlot, Offered& offered, std::vector<SurveyedCertificate>& vtrOut)
{
    if (!PK11_IsPresent(pSlot))
        return true;
    const ProfileDatabase* pProfile = FindProfileDatabase(pSlot);
    const std::string strDatabase = DatabaseDir(pSlot);
    SurveyedCertificate entry;
    entry.strKind = pProfile != nullptr ? "firefox-profile" : !strDatabase.empty() ? "database" : "token";
    entry.strLocation = !strDatabase.empty() ? strDatabase : std::string("token ") + PK11_GetTokenName(pSlot);

    CertStore candidates;
    Offered fresh = offered;
    if (!AppendTokenCertificates(candidates, pSlot, fresh))
        return false;
    std::set<std::string> taken;
    for (const CertContextRef& pCert : candidates.Certificates())
        taken.insert(Bytes(pCert->vtrEncoded));
    std::set<std::string> seen;
    const auto add = [&](CertContextRef pCert, StoreVerdict verdict) {
        if (!seen.insert(Bytes(pCert->vtrEncoded)).second)
            return;
        entry.pCert = std::move(pCert);
        entry.verdict = verdict;
        vtrOut.push_back(entry);
    };
    for (const CertContextRef& pCert : candidates.Certificates())
        add(pCert, StoreVerdict::Candidate);
    // What the token lists but the store did not take, and why.
    std::vector<CertContextRef> vtrMine = CandidateCertificates(pSlot);
    std::set<std::string> mine;
    for (const CertContextRef& pCert : vtrMine)
        mine.insert(Bytes(pCert->vtrEncoded));
    for (CertificatePtr& pNss : ListTokenCertificates(pSlot)) {
        const std::string vtrDer(reinterpret_cast<const char*>(pNss->derCert.data), pNss->derCert.len);
        if (taken.count(vtrDer) != 0 || seen.count(vtrDer) != 0)
            continue;
        const StoreVerdict verdict = mine.count(vtrDer) != 0 ? StoreVerdict::Duplicate
                                     : !PK11_IsInternal(pSlot) && CERT_IsCACert(pNss.get(), nullptr)
                                         ? StoreVerdict::CaOnToken
                                         : StoreVerdict::NoPrivateKey;
        const SECItem& der = pNss->derCert;
        CertContextRef pContext =
            CreateTokenCertificateContext(der.data, der.len, pNss.release(), PK11_ReferenceSlot(pSlot));
        if (pContext)
            add(std::move(pContext), verdict);
    }
    offered = std::move(fresh);
    return true;
}

} // namespace

bool SurveyUserCertificates(std::vector<SurveyedCertificate>& vtrOut)
{
    if (!EnsureNssSession())
        return false;
    try {
        Offered offered;
        std::unique_ptr<PK11SlotList, SlotListDeleter> pSlots(
            PK11_GetAllTokens(CKM_INVALID_MECHANISM, PR_FALSE, PR_FALSE, nullptr));
        for (PK11SlotListElement* pElement = pSlots ? pSlots->head : nullptr; pElement != nullptr;
             pElement = pElement->next) {
            if (FindProfileDatabase(pElement->slot) == nullptr && !SurveyToken(pElement->slot, offered, vtrOut))
                return false;
        }
        for (const ProfileDatabase& profile : ProfileDatabases()) {
            if (!SurveyToken(profile.pSlot, offered, vtrOut))
                return false;
        }
        return true;
    } catch (const std::bad_alloc&) {
        SetLastError(kOutOfMemory);
        return false;
    }
}

bool CertStore::AddCertificate(const CertContextRef& pCert, bool bUseExisting)
{
    const bool bPresent = bUseExisting && std::any_of(m_vtrCerts.begin(), m_vtrCerts.end(), [&](const CertContextRef& p) {
        return p->vtrEncoded == pCert->vtrEncoded;
    });
    if (bPresent)
        return true;
    try {
        m_vtrCerts.push_back(pCert);
    } catch (const std::bad_alloc&) {
        SetLastError(kOutOfMemory);
        return false;
    }
    return true;
}

HCERTSTORE CertOpenSystemStore(const char16_t* pwszStoreName)
{
    if (pwszStoreName == nullptr || !IsStoreName(pwszStoreName, u"MY")) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (!EnsureNssSession())
        return nullptr;
    try {
        auto pStore = std::make_unique<CertStore>();
        if (!AppendUserCertificates(*pStore))
            return nullptr;
        return pStore;
    } catch (const std::bad_alloc&) {
        SetLastError(kOutOfMemory);
        return nullptr;
    }
}

HCERTSTORE CertOpenMemoryStore()
{
    try {
        return std::make_unique<CertStore>();
    } catch (const std::bad_alloc&) {
        SetLastError(kOutOfMemory);
        return nullptr;
    }
}
