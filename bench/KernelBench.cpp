// Kernel benchmarks, each against a reference measured in the same run:
//  - hashing 64 MiB through CalculateHashandSign against `openssl dgst`;
//  - one signature through CalculateHashandSign with the NSS database key
//    against `openssl pkeyutl -sign` with the same key, plus where the time
//    goes (key lookup, the key's attributes, the RSA operation) and OpenSSL's
//    own RSA operation in-process for scale;
//  - ExtractCertificatesFromLocalStore plus FilterCertificates over a store
//    of 201 certificates, all the user's or mostly other people's: the first
//    listing (NSS opened with it), and again, as a host selects a second
//    time.
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <pk11pub.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "kernel/CertificateFilters.h"
#include "kernel/HashAndSign.h"
#include "kernel/platform/linux/CryptoProviderData.h"
#include "kernel/platform/linux/NssSession.h"
#include "tests/support/FixtureStore.h"

using namespace tessera::test;
using Clock = std::chrono::steady_clock;

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Median wall time of fn in microseconds.
double TimeMedian(int nRuns, const std::function<void()>& fn)
{
    std::vector<double> times;
    for (int i = 0; i < nRuns; ++i) {
        const auto start = Clock::now();
        fn();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return Median(times);
}

void MustRun(const std::string& command)
{
    if (RunShell(command) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(2);
    }
}

CertContextRef FindCert(const char16_t* pwszSubject)
{
    CertList all, found;
    CertFilter filter;
    filter.pwszSubjectDN = pwszSubject;
    if (ExtractCertificatesFromLocalStore(u"MY", all) != KVRA_OK ||
        FilterCertificates(&filter, found, all) != KVRA_OK || found.size() != 1) {
        std::fprintf(stderr, "no single certificate for the benchmark\n");
        std::exit(2);
    }
    return found[0];
}

void BenchHashing(const CertContextRef& pAlice, const std::string& strDir)
{
    std::vector<uint8_t> data(64 << 20);
    std::mt19937_64 random(42);
    for (auto& b : data)
        b = static_cast<uint8_t>(random());
    const std::string strFile = strDir + "/bench-64m.bin";
    WriteFileBytes(strFile, std::string(data.begin(), data.end()));
    MustRun("cat " + strFile + " > /dev/null"); // into the page cache

    struct Case {
        uint32_t dwAlgId;
        const char* pszName;
    };
    for (const Case& c : {Case{CALG_SHA_256, "sha256"}, Case{CALG_SHA1, "sha1"}}) {
        const double kernel = TimeMedian(5, [&] {
            std::vector<uint8_t> vtrSignature;
            CalculateHashandSign(pAlice, data.data(), static_cast<uint32_t>(data.size()), c.dwAlgId, vtrSignature);
        });
        const double openssl = TimeMedian(5, [&] { MustRun(std::string("openssl dgst -") + c.pszName + " " + strFile +
                                                           " > /dev/null"); });
        // OpenSSL's own hashing speed in 16 KiB blocks, without a process
        // start or a file to read.
        const std::string strSpeed = strDir + "/bench-speed.txt";
        MustRun(std::string("openssl speed -seconds 1 -bytes 16384 -evp ") + c.pszName +
                " 2>/dev/null | tail -1 | awk '{print $NF}' | tr -d k > " + strSpeed);
        const double speedMiB = std::atof(ReadFileBytes(strSpeed).c_str()) * 1000 / (1 << 20);
        const double mib = static_cast<double>(data.size()) / (1 << 20);
        std::printf("hash 64 MiB %-6s kernel %.0f MiB/s, openssl dgst %.0f MiB/s: ratio %.2f (goal >= 0.9); "
                    "openssl speed %.0f MiB/s: ratio %.2f\n",
                    c.pszName, mib / (kernel / 1e6), mib / (openssl / 1e6), openssl / kernel, speedMiB,
                    mib / (kernel / 1e6) / speedMiB);
    }
    std::remove(strFile.c_str());
}

void BenchSigning(const CertContextRef& pAlice, const FixtureStore& store)
{
    const std::string strDir = store.Dir();
    const uint8_t abMessage[] = {'a', 'b', 'c'};
    const double kernel = TimeMedian(200, [&] {
        std::vector<uint8_t> vtrSignature;
        CalculateHashandSign(pAlice, abMessage, 3, CALG_SHA_256, vtrSignature);
    });

    WriteFileBytes(strDir + "/bench-digest.bin", std::string(32, '\x5a'));
    const std::string strPkeyutl = "openssl pkeyutl -sign -inkey " + store.KeyPem("alice") +
                                   " -pkeyopt digest:sha256 -in " + strDir + "/bench-digest.bin -out /dev/null";
    const double pkeyutl = TimeMedian(30, [&] { MustRun(strPkeyutl); });

    // Where the kernel's time goes.
    // The store's certificate of a database key carries the key and no NSS
    // certificate; the look-up is timed on NSS's own.
    SECItem der{siBuffer, const_cast<uint8_t*>(pAlice->vtrEncoded.data()),
                static_cast<unsigned int>(pAlice->vtrEncoded.size())};
    const std::unique_ptr<CERTCertificate, CertificateDeleter> pOwnedNssCert(
        CERT_FindCertByDERCert(CERT_GetDefaultCertDB(), &der));
    CERTCertificate* pNssCert = pOwnedNssCert.get();
    const double lookup = TimeMedian(200, [&] { SECKEY_DestroyPrivateKey(PK11_FindKeyByAnyCert(pNssCert, nullptr)); });
    SECKEYPrivateKey* pKey = PK11_FindKeyByAnyCert(pNssCert, nullptr);
    PK11SlotInfo* pInternalSlot = PK11_GetInternalSlot();
    SECKEYPrivateKey* pSessionKey = PK11_CopyTokenPrivKeyToSessionPrivKey(pInternalSlot, pKey);
    PK11_FreeSlot(pInternalSlot);
    uint8_t abDigestInfo[51] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04,
                                0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    auto nssSign = [&](SECKEYPrivateKey* pWhich) {
        uint8_t abSignature[512];
        SECItem signature{siBuffer, abSignature, sizeof abSignature};
        SECItem digestInfo{siBuffer, abDigestInfo, sizeof abDigestInfo};
        PK11_SignWithMechanism(pWhich, CKM_RSA_PKCS, nullptr, &signature, &digestInfo);
    };
    const double tokenKeySign = TimeMedian(200, [&] { nssSign(pKey); });
    const double sessionKeySign = pSessionKey != nullptr ? TimeMedian(200, [&] { nssSign(pSessionKey); }) : 0;
    SECKEY_DestroyPrivateKey(pSessionKey);
    SECKEY_DestroyPrivateKey(pKey);

    FILE* pPem = std::fopen(store.KeyPem("alice").c_str(), "r");
    EVP_PKEY* pOpensslKey = pPem != nullptr ? PEM_read_PrivateKey(pPem, nullptr, nullptr, nullptr) : nullptr;
    if (pPem != nullptr)
        std::fclose(pPem);
    double opensslInProcess = 0;
    if (pOpensslKey != nullptr) {
        opensslInProcess = TimeMedian(200, [&] {
            EVP_PKEY_CTX* pCtx = EVP_PKEY_CTX_new(pOpensslKey, nullptr);
            EVP_PKEY_sign_init(pCtx);
            EVP_PKEY_CTX_set_signature_md(pCtx, EVP_sha256());
            uint8_t abSignature[512];
            size_t cbSignature = sizeof abSignature;
            EVP_PKEY_sign(pCtx, abSignature, &cbSignature, abDigestInfo + 19, 32);
            EVP_PKEY_CTX_free(pCtx);
        });
        EVP_PKEY_free(pOpensslKey);
    }

    std::printf("one signature, NSS database key: CalculateHashandSign %.0f us, openssl pkeyutl -sign %.0f us, "
                "ratio %.2f (goal <= 2.0)\n",
                kernel, pkeyutl, kernel / pkeyutl);
    std::printf("  where it goes: key lookup %.0f us; RSA through NSS with the database key %.0f us, "
                "with an in-memory copy %.0f us; OpenSSL's RSA in-process %.0f us (%.1fx faster than NSS's)\n",
                lookup, tokenKeySign, sessionKeySign, opensslInProcess,
                opensslInProcess > 0 ? sessionKeySign / opensslInProcess : 0.0);
}

// Lists and filters a store of 201 certificates: all of them the user's,
// or (bOthers) one the user's and 200 other people's, whose keys the
// database does not hold. The first listing opens NSS with it, as a host's
// first selection does; selecting again lists only what changed.
void BenchStore(const std::string& strDir, bool bOthers)
{
    const std::string strStore = strDir + (bOthers ? "/bench-store-others" : "/bench-store");
    MustRun(std::string(TESSERA_SOURCE_DIR) + "/bench/make-bench-store " + strStore + " 201" +
            (bOthers ? " others" : "") + " >/dev/null");
    constexpr double kCertificates = 201;
    setenv("HOME", (strStore + "/home").c_str(), 1);
    size_t nListed = 0, nPassed = 0;
    const double first = TimeMedian(5, [&] {
        CloseNssSession();
        CertList all;
        ExtractCertificatesFromLocalStore(u"MY", all);
        nListed = all.size();
    });
    const double both = TimeMedian(20, [&] {
        CertList all, passed;
        CertFilter filter;
        filter.pwszSubjectDN = u"bench user#bench key#nobody";
        filter.dwKeyUsage = 0x80;
        filter.bCheckPrivateKey = 1;
        ExtractCertificatesFromLocalStore(u"MY", all);
        FilterCertificates(&filter, passed, all);
        nPassed = passed.size();
    });
    std::printf("store of 201 certificates, %s: first listing, NSS opened, %.1f ms (%.0f us per certificate); "
                "selecting again, extract + filter %.1f ms, %.1f us per certificate (goal <= 150; %zu listed, "
                "%zu passed)\n",
                bOthers ? "1 the user's and 200 other people's" : "all the user's", first / 1000,
                first / kCertificates, both / 1000, both / kCertificates, nListed, nPassed);
    CloseNssSession();
}

} // namespace

int main()
{
    const FixtureStore& store = FixtureStore::Get();
    {
        const CertContextRef pAlice = FindCert(u"CN=Alice Signer");
        BenchHashing(pAlice, store.Dir());
        BenchSigning(pAlice, store);
    }
    CloseNssSession();
    BenchStore(store.Dir(), false);
    BenchStore(store.Dir(), true);
    return 0;
}
