// The user's store, property queries and filters, against the fixture
// store: an NSS database and a SoftHSM token reached through p11-kit.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "kernel/CertificateFilters.h"
#include "kernel/CertificateProperties.h"
#include "kernel/platform/CertName.h"
#include "kernel/platform/CertStore.h"
#include "kernel/platform/CryptoProvider.h"
#include "kernel/platform/TextConversion.h"
#include "tests/support/FixtureStore.h"

using namespace tessera::test;

namespace {

std::string Subject(const CertContextRef& pCert)
{
    std::u16string wstr;
    EXPECT_EQ(GetCertSubject(pCert, &wstr, nullptr, CERT_X500_NAME_STR), KVRA_OK);
    return ConvertUtf16ToUtf8(wstr);
}

class KernelStore : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        FixtureStore::Get();
        ASSERT_EQ(ExtractCertificatesFromLocalStore(u"MY", s_store), KVRA_OK);
        for (const auto& pCert : s_store) {
            const std::string strSubject = Subject(pCert);
            const std::string strCn = strSubject.substr(3, strSubject.find(", O=") - 3);
            s_byName[strCn] = pCert;
        }
    }
    static void TearDownTestSuite()
    {
        s_byName.clear();
        s_store.clear();
    }
    static CertContextRef Cert(const std::string& strCn)
    {
        const auto it = s_byName.find(strCn);
        return it == s_byName.end() ? nullptr : it->second;
    }
    static std::vector<std::string> Names(const CertList& list)
    {
        std::vector<std::string> names;
        for (const auto& pCert : list)
            names.push_back(Subject(pCert));
        return names;
    }
    static CertList Filter(const CertFilter& filter)
    {
        CertList out;
        EXPECT_EQ(FilterCertificates(&filter, out, s_store), KVRA_OK);
        return out;
    }

    static inline CertList s_store;
    static inline std::map<std::string, CertContextRef> s_byName;
};

} // namespace

TEST_F(KernelStore, ListsEveryCertificateWithAKeyOnceAndNeverPrompts)
{
    FixtureStore::Get().SetPinAnswers({});
    std::vector<std::string> subjects = Names(s_store);
    std::sort(subjects.begin(), subjects.end());
    const std::vector<std::string> expected = {
        "CN=Alice Signer, O=Tessera Test, C=CN",
        "CN=Bob Nonrepudiation, O=Tessera Test, C=CN",
        "CN=Carol Encipher, O=Tessera Test, C=CN",
        "CN=Dave Plain, O=Tessera Test, C=CN",
        "CN=Elena Elliptic, O=Tessera Test, C=CN",
        "CN=Erin Expired, O=Tessera Test, C=CN",
        "CN=Fiona Fox, O=Tessera Fox, C=CN",
        "CN=Frank Multi + UID=frank, O=Tessera Test, C=CN",
        "CN=Grace Plain Issuer, O=Tessera Test, C=CN",
        "CN=Gus Guarded, O=Tessera Fox, C=CN",
        "CN=Hardware Elliptic, O=Tessera Test, C=CN",
        "CN=Hardware Signer, O=Tessera Test, C=CN",
        "CN=Smith, John, O=Tessera Test, C=CN",
        "CN=张三, O=测试机构, C=CN",
    };
    EXPECT_EQ(subjects, expected);

    // A second listing finds the same certificates, and none of it asked
    // the token for a PIN.
    CertList again;
    ASSERT_EQ(ExtractCertificatesFromLocalStore(u"my", again), KVRA_OK);
    EXPECT_EQ(again.size(), s_store.size());
    EXPECT_EQ(FixtureStore::Get().PinentryLog(), "");

    CertList none = {s_store.front()};
    EXPECT_EQ(ExtractCertificatesFromLocalStore(u"CA", none), MakeStatus(0x80070002));
    EXPECT_TRUE(none.empty());
    none = {s_store.front()};
    EXPECT_EQ(ExtractCertificatesFromLocalStore(nullptr, none), E_INVALIDARG);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(ExtractCertificatesFromStore(nullptr, none), E_INVALIDARG);
}

TEST_F(KernelStore, NamesReadLastRelativeNameFirstWithoutQuoting)
{
    std::u16string wstr;
    uint32_t dwSize = 0;
    ASSERT_EQ(QueryCertContextInfo(Cert("Alice Signer"), CERT_QUERY_SUBJECT_X500, &wstr, &dwSize), KVRA_OK);
    EXPECT_EQ(wstr, u"CN=Alice Signer, O=Tessera Test, C=CN");
    EXPECT_EQ(dwSize, wstr.size() + 1);
    ASSERT_EQ(QueryCertContextInfo(Cert("Alice Signer"), CERT_QUERY_SUBJECT_SIMPLE, &wstr, &dwSize), KVRA_OK);
    EXPECT_EQ(wstr, u"Alice Signer, Tessera Test, CN");
    EXPECT_EQ(dwSize, wstr.size() + 1);
    ASSERT_EQ(QueryCertContextInfo(Cert("Alice Signer"), CERT_QUERY_ISSUER, &wstr, &dwSize), KVRA_OK);
    EXPECT_EQ(wstr, u"CN=Tessera Test CA, O=Tessera Test, C=CN");
    EXPECT_EQ(dwSize, wstr.size() + 1);
    ASSERT_EQ(GetCertIssuer(Cert("Grace Plain Issuer"), &wstr, nullptr), KVRA_OK);
    EXPECT_EQ(wstr, u"CN=Tessera Plain CA");
    ASSERT_EQ(GetCertSubject(Cert("张三"), &wstr, nullptr, CERT_SIMPLE_NAME_STR), KVRA_OK);
    EXPECT_EQ(wstr, u"张三, 测试机构, CN");

    for (int nKind : {0, 11, -1}) {
        EXPECT_EQ(QueryCertContextInfo(Cert("Alice Signer"), nKind, &wstr, nullptr), KVRA_E_QUERY_TYPE_NOT_SUPPORTED);
    }
}

TEST_F(KernelStore, ByteAndBitPropertiesComeInThePlatformsOrder)
{
    std::vector<uint8_t> vtr;
    uint32_t dwSize = 0;
    ASSERT_EQ(QueryCertContextInfo(Cert("Alice Signer"), CERT_QUERY_SERIAL_NUMBER, &vtr, &dwSize), KVRA_OK);
    EXPECT_EQ(vtr, (std::vector<uint8_t>{0x03, 0x02, 0x01}));
    EXPECT_EQ(dwSize, 3u);
    // DER content 00 8A 0B 0C keeps its sign byte.
    ASSERT_EQ(GetCertSerialNumber(Cert("Frank Multi + UID=frank"), &vtr, nullptr), KVRA_OK);
    EXPECT_EQ(vtr, (std::vector<uint8_t>{0x0C, 0x0B, 0x8A, 0x00}));

    uint32_t dwUsage = 0;
    ASSERT_EQ(QueryCertContextInfo(Cert("Bob Nonrepudiation"), CERT_QUERY_KEY_USAGE, &dwUsage, &dwSize), KVRA_OK);
    EXPECT_EQ(dwUsage, 0xC0u);
    EXPECT_EQ(dwSize, 4u);
    ASSERT_EQ(GetCertKeyUsage(Cert("Carol Encipher"), &dwUsage, nullptr), KVRA_OK);
    EXPECT_EQ(dwUsage, 0x20u);
    EXPECT_EQ(GetCertKeyUsage(Cert("Dave Plain"), &dwUsage, nullptr), KVRA_E_NO_KEY_USAGE);

    // The key identifier is the SHA-1 of the public key, as openssl says.
    ASSERT_EQ(QueryCertContextInfo(Cert("Alice Signer"), CERT_QUERY_SUBJECT_KEY_ID, &vtr, &dwSize), KVRA_OK);
    EXPECT_EQ(dwSize, 20u);
    const std::string strOut = FixtureStore::Get().Dir() + "/ski.txt";
    ASSERT_EQ(RunShell("openssl x509 -noout -ext subjectKeyIdentifier -in " + FixtureStore::Get().CertPem("alice") +
                       " | tail -1 | tr -d ' :\\n' > " + strOut),
              0);
    char szHex[3];
    std::string strHex;
    for (uint8_t b : vtr) {
        std::snprintf(szHex, sizeof szHex, "%02X", b);
        strHex += szHex;
    }
    EXPECT_EQ(strHex, ReadFileBytes(strOut));
    EXPECT_EQ(GetCertSubjectKeyID(Cert("Alice Signer"), nullptr, nullptr), KVRA_OK);
    EXPECT_EQ(GetCertSubjectKeyID(Cert("Dave Plain"), nullptr, nullptr), KVRA_E_NO_SUBJECT_KEY_ID);
}

TEST_F(KernelStore, ValidityDatesAreUtcWithTheDayOfTheWeek)
{
    SYSTEMTIME st{};
    uint32_t dwSize = 0;
    ASSERT_EQ(QueryCertContextInfo(Cert("Erin Expired"), CERT_QUERY_TO_DATE, &st, &dwSize), KVRA_OK);
    EXPECT_EQ(dwSize, 16u);
    // openssl prints the same moment; its weekday comes from date(1).
    const std::string strOut = FixtureStore::Get().Dir() + "/enddate.txt";
    ASSERT_EQ(RunShell("d=$(openssl x509 -noout -enddate -in " + FixtureStore::Get().CertPem("erin") +
                       " | cut -d= -f2); date -u -d \"$d\" '+%Y %m %d %H %M %S %w' > " + strOut),
              0);
    char szExpected[64];
    std::snprintf(szExpected, sizeof szExpected, "%04d %02d %02d %02d %02d %02d %d\n", st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute, st.wSecond, st.wDayOfWeek);
    EXPECT_EQ(ReadFileBytes(strOut), szExpected);

    SYSTEMTIME from{};
    ASSERT_EQ(QueryCertContextInfo(Cert("Erin Expired"), CERT_QUERY_FROM_DATE, &from, nullptr), KVRA_OK);
    EXPECT_LT(SystemTimeToFileTime(from), SystemTimeToFileTime(st));
}

TEST_F(KernelStore, ProviderAndContainerNamesNeedNoPin)
{
    FixtureStore::Get().SetPinAnswers({});
    std::u16string wstr;
    uint32_t dwSize = 0;
    ASSERT_EQ(QueryCertContextInfo(Cert("Hardware Signer"), CERT_QUERY_CONTAINER_NAME, &wstr, &dwSize), KVRA_OK);
    EXPECT_EQ(wstr, u"Tessera Token:hw-signer");
    EXPECT_EQ(dwSize, wstr.size());
    ASSERT_EQ(QueryCertContextInfo(Cert("Hardware Signer"), CERT_QUERY_PROVIDER_NAME, &wstr, &dwSize), KVRA_OK);
    EXPECT_FALSE(wstr.empty());
    EXPECT_EQ(dwSize, wstr.size());
    ASSERT_EQ(GetCertProviderName(Cert("Alice Signer"), &wstr, nullptr), KVRA_OK);
    EXPECT_FALSE(wstr.empty());
    EXPECT_EQ(FixtureStore::Get().PinentryLog(), "");
}

TEST_F(KernelStore, FirefoxProfileKeysAreSoftwareKeysNamedAfterTheirProfile)
{
    FixtureStore::Get().SetPinAnswers({});
    const std::string home = FixtureStore::Get().Dir() + "/home";
    const struct {
        const char* pszCn;
        std::string strProvider;
    } cases[] = {
        {"Fiona Fox", "Firefox profile \"default-esr\" (" + home + "/.config/mozilla/firefox/k3x9tq2b.default-esr)"},
        {"Gus Guarded", "Firefox profile \"guarded\" (" + home + "/firefox-profiles/guarded)"},
    };
    for (const auto& c : cases) {
        std::u16string wstr;
        ASSERT_EQ(GetCertProviderName(Cert(c.pszCn), &wstr, nullptr), KVRA_OK) << c.pszCn;
        EXPECT_EQ(ConvertUtf16ToUtf8(wstr), c.strProvider);
        // NSS counts a database opened after start-up as removable; its keys
        // are not on a device all the same.
        HCRYPTPROV hProv;
        uint32_t dwKeySpec = 0, dwType = 0, cbType = sizeof dwType;
        ASSERT_TRUE(CryptAcquireCertificatePrivateKey(Cert(c.pszCn), hProv, dwKeySpec)) << c.pszCn;
        ASSERT_TRUE(CryptGetProvParam(*hProv, PP_IMPTYPE, reinterpret_cast<uint8_t*>(&dwType), &cbType));
        EXPECT_EQ(dwType, CRYPT_IMPL_SOFTWARE) << c.pszCn;
    }
    // The copy of Alice's certificate that is offered is Chromium's.
    std::u16string wstr;
    ASSERT_EQ(GetCertProviderName(Cert("Alice Signer"), &wstr, nullptr), KVRA_OK);
    EXPECT_EQ(ConvertUtf16ToUtf8(wstr).find("Firefox"), std::string::npos);
    EXPECT_EQ(FixtureStore::Get().PinentryLog(), "");
}

TEST_F(KernelStore, NameFiltersTakeAlternativesCaseInsensitively)
{
    EXPECT_EQ(Filter({}).size(), s_store.size());
    CertList all;
    ASSERT_EQ(FilterCertificates(nullptr, all, s_store), KVRA_OK);
    EXPECT_EQ(Names(all), Names(s_store)); // store order kept

    CertFilter filter;
    filter.pwszSubjectDN = u"nobody#ALICE signer";
    EXPECT_EQ(Names(Filter(filter)), std::vector<std::string>{"CN=Alice Signer, O=Tessera Test, C=CN"});
    filter.pwszSubjectDN = u"nobody#";
    EXPECT_EQ(Filter(filter).size(), s_store.size()); // the empty alternative passes all
    filter.pwszSubjectDN = u"";
    EXPECT_EQ(Filter(filter).size(), s_store.size());
    filter.pwszSubjectDN = u"张三";
    EXPECT_EQ(Filter(filter).size(), 1u);
    filter.pwszSubjectDN = u"smith, john";
    EXPECT_EQ(Filter(filter).size(), 1u);
    filter.pwszSubjectDN = u"nobody";
    EXPECT_TRUE(Filter(filter).empty());
    filter.pwszSubjectDN = nullptr;
    filter.pwszIssuerDN = u"plain ca";
    EXPECT_EQ(Names(Filter(filter)), std::vector<std::string>{"CN=Grace Plain Issuer, O=Tessera Test, C=CN"});

    std::vector<std::u16string> alternatives;
    ParseFilters((u"a##" + std::u16string(300, u'x') + u"#").c_str(), alternatives);
    ASSERT_EQ(alternatives.size(), 4u);
    EXPECT_EQ(alternatives[0], u"a");
    EXPECT_EQ(alternatives[1], u"");
    EXPECT_EQ(alternatives[2], std::u16string(255, u'x'));
    EXPECT_EQ(alternatives[3], u"");
    alternatives.clear();
    ParseFilters(nullptr, alternatives);
    EXPECT_TRUE(alternatives.empty());
    EXPECT_TRUE(ContainsIgnoringCase(u"CN=ÉLODIE Žák", u"élodie žÁK"));
    EXPECT_FALSE(ContainsIgnoringCase(u"CN=abc", u"abd"));
    // Letter case across Unicode: Latin-1's ÿ against Latin Extended-A's Ÿ,
    // a digraph, Greek accents and final sigma, fullwidth forms, and a pair
    // of surrogates (Deseret).
    const std::u16string wstrName = u"CN=ÉCOLE Ÿvonne Ǆemal Σίσυφος Ａlpha \U00010400x";
    for (const char16_t* pwszAlternative : {u"école", u"ÿvonne", u"ǆemal", u"ǅEMAL", u"ΣΊΣΥΦΟΣ", u"ａlpha", u"ａLPHA",
                                            u"\U00010428X"}) {
        NameFilter nameFilter;
        ASSERT_EQ(nameFilter.Assign(pwszAlternative), KVRA_OK);
        EXPECT_TRUE(nameFilter.Matches(wstrName)) << ConvertUtf16ToUtf8(pwszAlternative);
    }
    EXPECT_FALSE(ContainsIgnoringCase(wstrName, u"alpha")); // fullwidth is not ASCII
    EXPECT_FALSE(ContainsIgnoringCase(u"a\xD800" u"b", u"A\xDC00" u"B"));
    EXPECT_TRUE(ContainsIgnoringCase(u"a\xD800" u"b", u"A\xD800" u"B")); // unpaired surrogates kept

    // A filter is bounded by its distinct alternatives, not by its length:
    // repeats (in any case) and empty alternatives cost nothing more, the
    // 1025th distinct one is refused, and a refused filter selects nothing.
    std::u16string wstrMany;
    for (int i = 0; i < 1023; ++i)
        wstrMany += u"nobody" + std::u16string(1, static_cast<char16_t>(u'\x4e00' + i)) + u"#";
    std::u16string wstrRepeated;
    for (int i = 0; i < 5000; ++i)
        wstrRepeated += i % 2 ? u"ALICE SIGNER#" : u"alice signer#";
    filter = {};
    const std::u16string wstrAtLimit = wstrMany + u"Alice Signer";
    filter.pwszSubjectDN = wstrAtLimit.c_str();
    EXPECT_EQ(Names(Filter(filter)), std::vector<std::string>{"CN=Alice Signer, O=Tessera Test, C=CN"});
    filter.pwszSubjectDN = wstrRepeated.c_str(); // two distinct; it ends in "#", so everything matches
    EXPECT_EQ(Filter(filter).size(), s_store.size());
    const std::u16string wstrOverLimit = wstrMany + u"one more#Alice Signer";
    filter.pwszSubjectDN = wstrOverLimit.c_str();
    CertList refused = {s_store.front()};
    EXPECT_EQ(FilterCertificates(&filter, refused, s_store), E_INVALIDARG);
    EXPECT_TRUE(refused.empty());
    filter.pwszSubjectDN = nullptr;
    filter.pwszIssuerDN = wstrOverLimit.c_str();
    EXPECT_EQ(FilterCertificates(&filter, refused, s_store), E_INVALIDARG);
}

TEST_F(KernelStore, UsageKeyIdSerialTimeAndAlgorithmFilters)
{
    CertFilter filter;
    filter.dwKeyUsage = 0x80;
    std::vector<std::string> names = Names(Filter(filter));
    EXPECT_EQ(std::count(names.begin(), names.end(), "CN=Carol Encipher, O=Tessera Test, C=CN"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "CN=Dave Plain, O=Tessera Test, C=CN"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "CN=Bob Nonrepudiation, O=Tessera Test, C=CN"), 1);
    EXPECT_EQ(names.size(), s_store.size() - 2);
    EXPECT_EQ(CheckCertKeyUsage(Cert("Carol Encipher"), 0x80), KVRA_E_INVALID_CERT_USAGE);
    EXPECT_EQ(CheckCertKeyUsage(Cert("Dave Plain"), 0x80), KVRA_E_NO_KEY_USAGE);

    std::vector<uint8_t> vtrKeyId;
    ASSERT_EQ(GetCertSubjectKeyID(Cert("Bob Nonrepudiation"), &vtrKeyId, nullptr), KVRA_OK);
    filter = {};
    filter.pbSubjectKeyID = vtrKeyId.data();
    filter.cbSubjectKeyID = static_cast<uint32_t>(vtrKeyId.size());
    EXPECT_EQ(Names(Filter(filter)), std::vector<std::string>{"CN=Bob Nonrepudiation, O=Tessera Test, C=CN"});
    // Bytes that stop short of the certificate's value are never read past.
    filter.cbSubjectKeyID = 19;
    EXPECT_TRUE(Filter(filter).empty());

    const uint8_t abSerial[] = {0x03, 0x02, 0x01};
    filter = {};
    filter.pbSerialNumber = abSerial;
    filter.cbSerialNumber = 3;
    EXPECT_EQ(Names(Filter(filter)), std::vector<std::string>{"CN=Alice Signer, O=Tessera Test, C=CN"});
    filter.cbSerialNumber = 2;
    EXPECT_TRUE(Filter(filter).empty());

    SYSTEMTIME stEnd{};
    ASSERT_EQ(GetCertToDate(Cert("Erin Expired"), &stEnd, nullptr), KVRA_OK);
    const FILETIME ftEnd = SystemTimeToFileTime(stEnd);
    EXPECT_EQ(CheckCertTimeValidity(Cert("Erin Expired"), &ftEnd), KVRA_OK);
    const FILETIME ftAfter = ftEnd + 10000000; // one second later
    EXPECT_NE(CheckCertTimeValidity(Cert("Erin Expired"), &ftAfter), KVRA_OK);
    const FILETIME ftNow = GetSystemTimeAsFileTime();
    filter = {};
    filter.pftValidityTime = &ftNow;
    EXPECT_EQ(Filter(filter).size(), s_store.size() - 1);

    filter = {};
    filter.pszSignatureAlgOID = "1.2.840.113549.1.1"; // the PKCS #1 family
    EXPECT_EQ(Filter(filter).size(), s_store.size());
    filter.pszSignatureAlgOID = "1.2.840.113549.1.1.11";
    EXPECT_EQ(Filter(filter).size(), s_store.size());
    filter.pszSignatureAlgOID = "1.2.840.113549.1.1.5";
    EXPECT_TRUE(Filter(filter).empty());
}

TEST_F(KernelStore, PrivateKeyProbeRejectsCertificatesWithoutAKey)
{
    FixtureStore::Get().SetPinAnswers({});
    // "nokey" is in the database without its key; a certificate known only
    // by its encoding has no key either.
    const std::string strPem = FixtureStore::Get().CertPem("nokey");
    const std::string strDer = FixtureStore::Get().Dir() + "/nokey.der";
    ASSERT_EQ(RunShell("openssl x509 -in " + strPem + " -outform DER -out " + strDer), 0);
    const std::string der = ReadFileBytes(strDer);
    const CertContextRef pNoKey = CreateCertificateContext(reinterpret_cast<const uint8_t*>(der.data()), der.size());
    ASSERT_TRUE(pNoKey);

    CertList in = s_store;
    in.push_back(pNoKey);
    CertFilter filter;
    filter.bCheckPrivateKey = 1;
    CertList out;
    ASSERT_EQ(FilterCertificates(&filter, out, in), KVRA_OK);
    EXPECT_EQ(Names(out), Names(s_store)); // every store certificate has its key, the token's too
    filter.bCheckPrivateKey = 2;           // anything but 1 does not test
    out.clear();
    ASSERT_EQ(FilterCertificates(&filter, out, in), KVRA_OK);
    EXPECT_EQ(out.size(), in.size());
    // Probing the token's key asked for no PIN.
    EXPECT_EQ(FixtureStore::Get().PinentryLog(), "");
}

// The explanation of a rejection agrees with the filter itself for every
// certificate, and names the first criterion failed in the filter's order.
TEST_F(KernelStore, ExplainedRejectionsAgreeWithTheFilterAndNameTheFirstCriterionFailed)
{
    const uint8_t abSerial[] = {0x03, 0x02, 0x01};
    const FILETIME ftNow = GetSystemTimeAsFileTime();
    std::vector<CertFilter> filters(6);
    filters[0].pwszSubjectDN = u"Alice#Carol";
    filters[1].pwszIssuerDN = u"CN=Nobody";
    filters[2].dwKeyUsage = 0x80;
    filters[3].pbSerialNumber = abSerial;
    filters[3].cbSerialNumber = 3;
    filters[4].pftValidityTime = &ftNow;
    filters[5].pwszSubjectDN = u"Carol#Erin#Dave";
    filters[5].dwKeyUsage = 0x80;
    filters[5].pftValidityTime = &ftNow;
    filters[5].pszSignatureAlgOID = "1.2.840.113549.1.1";
    for (size_t i = 0; i < filters.size(); ++i) {
        SCOPED_TRACE("filter " + std::to_string(i));
        const CertList kept = Filter(filters[i]);
        for (const auto& pCert : s_store) {
            FilterRejection rejection = FilterRejection::SubjectName;
            ASSERT_EQ(ExplainCertificateRejection(&filters[i], pCert, rejection), KVRA_OK);
            EXPECT_EQ(rejection == FilterRejection::None,
                      std::find(kept.begin(), kept.end(), pCert) != kept.end())
                << Subject(pCert);
        }
    }
    const auto why = [&](const CertFilter& filter, const char* pszCn) {
        FilterRejection rejection = FilterRejection::None;
        EXPECT_EQ(ExplainCertificateRejection(&filter, Cert(pszCn), rejection), KVRA_OK);
        return rejection;
    };
    EXPECT_EQ(why(filters[5], "Alice Signer"), FilterRejection::SubjectName);
    EXPECT_EQ(why(filters[5], "Carol Encipher"), FilterRejection::KeyUsage);
    EXPECT_EQ(why(filters[5], "Dave Plain"), FilterRejection::KeyUsage);
    EXPECT_EQ(why(filters[1], "Alice Signer"), FilterRejection::Issuer);
    EXPECT_EQ(why(filters[3], "Bob Nonrepudiation"), FilterRejection::SerialNumber);
    EXPECT_EQ(why(filters[4], "Erin Expired"), FilterRejection::Validity);
    CertFilter signature;
    signature.pszSignatureAlgOID = "1.2.840.113549.1.1.5";
    EXPECT_EQ(why(signature, "Alice Signer"), FilterRejection::SignatureAlg);
    EXPECT_EQ(why(CertFilter{}, "Alice Signer"), FilterRejection::None);

    // A name filter with too many alternatives is refused as the filter refuses it.
    std::u16string wstrMany;
    for (int i = 0; i < 1100; ++i)
        wstrMany += u"nobody" + std::u16string(1, static_cast<char16_t>(u'\x4e00' + i)) + u"#";
    CertFilter many;
    many.pwszSubjectDN = wstrMany.c_str();
    FilterRejection rejection = FilterRejection::None;
    CertList refused;
    EXPECT_EQ(FilterCertificates(&many, refused, s_store), E_INVALIDARG);
    EXPECT_EQ(ExplainCertificateRejection(&many, Cert("Alice Signer"), rejection), E_INVALIDARG);
}
