// A CNG key through the platform's crypto seam: hashed with CNG's hashes and
// signed with NCryptSignHash, each signature checked by BCrypt against the
// key's exported public half. The key is a fresh ephemeral one of the
// software key storage provider (Wine can attach no CNG key to a
// certificate).
#include "kernel/platform/windows/CngKeyProvider.h"

#include <bcrypt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

bool RunningUnderWine()
{
    HMODULE hNtdll = GetModuleHandleW(L"ntdll.dll");
    return hNtdll != nullptr && GetProcAddress(hNtdll, "wine_get_version") != nullptr;
}

struct AlgorithmCase {
    uint32_t dwAlgId;
    const wchar_t* pszHash;
};

// The digest of data, by BCrypt on its own.
std::vector<uint8_t> Digest(const wchar_t* pszHash, const std::string& data)
{
    BCRYPT_ALG_HANDLE hAlg = nullptr;
    if (BCryptOpenAlgorithmProvider(&hAlg, pszHash, nullptr, 0) < 0)
        return {};
    DWORD cbDigest = 0, cb = 0;
    BCryptGetProperty(hAlg, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&cbDigest), sizeof cbDigest, &cb, 0);
    std::vector<uint8_t> digest(cbDigest);
    BCRYPT_HASH_HANDLE hHash = nullptr;
    BCryptCreateHash(hAlg, &hHash, nullptr, 0, nullptr, 0, 0);
    BCryptHashData(hHash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())), static_cast<ULONG>(data.size()), 0);
    BCryptFinishHash(hHash, digest.data(), cbDigest, 0);
    BCryptDestroyHash(hHash);
    BCryptCloseAlgorithmProvider(hAlg, 0);
    return digest;
}

class CngKey : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(NCryptOpenStorageProvider(&m_hStorage, MS_KEY_STORAGE_PROVIDER, 0), ERROR_SUCCESS);
        ASSERT_EQ(NCryptCreatePersistedKey(m_hStorage, &m_hKey, NCRYPT_RSA_ALGORITHM, nullptr, 0, 0), ERROR_SUCCESS);
        DWORD dwBits = 2048;
        ASSERT_EQ(NCryptSetProperty(m_hKey, NCRYPT_LENGTH_PROPERTY, reinterpret_cast<PBYTE>(&dwBits), sizeof dwBits, 0),
                  ERROR_SUCCESS);
        ASSERT_EQ(NCryptFinalizeKey(m_hKey, 0), ERROR_SUCCESS);
        DWORD cbBlob = 0;
        ASSERT_EQ(NCryptExportKey(m_hKey, 0, BCRYPT_RSAPUBLIC_BLOB, nullptr, nullptr, 0, &cbBlob, 0), ERROR_SUCCESS);
        std::vector<uint8_t> blob(cbBlob);
        ASSERT_EQ(NCryptExportKey(m_hKey, 0, BCRYPT_RSAPUBLIC_BLOB, nullptr, blob.data(), cbBlob, &cbBlob, 0),
                  ERROR_SUCCESS);
        ASSERT_GE(BCryptOpenAlgorithmProvider(&m_hRsa, BCRYPT_RSA_ALGORITHM, nullptr, 0), 0);
        ASSERT_GE(BCryptImportKeyPair(m_hRsa, nullptr, BCRYPT_RSAPUBLIC_BLOB, &m_hPublic, blob.data(), cbBlob, 0), 0);
    }
    void TearDown() override
    {
        if (m_hPublic != nullptr)
            BCryptDestroyKey(m_hPublic);
        if (m_hRsa != nullptr)
            BCryptCloseAlgorithmProvider(m_hRsa, 0);
        if (m_hKey != 0)
            NCryptFreeObject(m_hKey);
        if (m_hStorage != 0)
            NCryptFreeObject(m_hStorage);
    }

    // Signs data in pieces of at most nPiece bytes through the seam; the
    // signature most significant byte first, or empty with the status in
    // hr.
    std::vector<uint8_t> Sign(uint32_t dwAlgId, const std::string& data, size_t nPiece, HRESULT& hr)
    {
        hr = S_OK;
        HCRYPTPROV hProv;
        HCRYPTHASH hHash;
        uint32_t cbSignature = 0;
        std::vector<uint8_t> signature;
        bool bOk = CryptProviderForCngKey(m_hKey, false, hProv) && CryptCreateHash(*hProv, dwAlgId, hHash);
        for (size_t n = 0; bOk && n < data.size(); n += nPiece)
            bOk = CryptHashData(*hHash, reinterpret_cast<const uint8_t*>(data.data()) + n,
                                static_cast<uint32_t>(std::min(nPiece, data.size() - n)));
        bOk = bOk && CryptSignHashW(*hHash, CERT_NCRYPT_KEY_SPEC, nullptr, &cbSignature);
        if (bOk) {
            signature.resize(cbSignature);
            bOk = CryptSignHashW(*hHash, CERT_NCRYPT_KEY_SPEC, signature.data(), &cbSignature);
        }
        if (!bOk) {
            hr = static_cast<HRESULT>(GetLastError());
            return {};
        }
        std::reverse(signature.begin(), signature.end());
        return signature;
    }

    bool Verifies(const wchar_t* pszHash, const std::string& data, std::vector<uint8_t> signature)
    {
        std::vector<uint8_t> digest = Digest(pszHash, data);
        BCRYPT_PKCS1_PADDING_INFO padding{pszHash};
        return BCryptVerifySignature(m_hPublic, &padding, digest.data(), static_cast<ULONG>(digest.size()),
                                     signature.data(), static_cast<ULONG>(signature.size()), BCRYPT_PAD_PKCS1) >= 0;
    }

    NCRYPT_PROV_HANDLE m_hStorage = 0;
    NCRYPT_KEY_HANDLE m_hKey = 0;
    BCRYPT_ALG_HANDLE m_hRsa = nullptr;
    BCRYPT_KEY_HANDLE m_hPublic = nullptr;
};

} // namespace

// Every hash an RSA key signs with, hashed in one piece and in pieces, gives
// a PKCS#1 signature of the key that verifies; a signature of other data
// does not.
TEST_F(CngKey, AnRsaKeySignsEveryHashAsPkcs1)
{
    const std::string data(40000, 'x');
    for (const AlgorithmCase& algorithm : {AlgorithmCase{CALG_MD5, BCRYPT_MD5_ALGORITHM},
                                           AlgorithmCase{CALG_SHA1, BCRYPT_SHA1_ALGORITHM},
                                           AlgorithmCase{CALG_SHA_256, BCRYPT_SHA256_ALGORITHM},
                                           AlgorithmCase{CALG_SHA_384, BCRYPT_SHA384_ALGORITHM},
                                           AlgorithmCase{CALG_SHA_512, BCRYPT_SHA512_ALGORITHM}}) {
        for (size_t nPiece : {data.size(), size_t{16384}, size_t{7}}) {
            HRESULT hr = S_OK;
            const std::vector<uint8_t> signature = Sign(algorithm.dwAlgId, data, nPiece, hr);
            ASSERT_EQ(hr, S_OK) << std::hex << algorithm.dwAlgId;
            EXPECT_EQ(signature.size(), 256u);
            // Wine's BCrypt (GnuTLS) verifies no MD5 signature, right or
            // wrong; Windows' does.
            if (algorithm.dwAlgId == CALG_MD5 && RunningUnderWine())
                continue;
            EXPECT_TRUE(Verifies(algorithm.pszHash, data, signature)) << std::hex << algorithm.dwAlgId << " " << nPiece;
            EXPECT_FALSE(Verifies(algorithm.pszHash, data + "y", signature)) << std::hex << algorithm.dwAlgId;
        }
    }
}

// A hash the seam does not know is refused before anything is signed, and
// the key's provider and kind read as a software key's.
TEST_F(CngKey, AnUnknownHashIsRefusedAndTheKeyReadsAsSoftware)
{
    HRESULT hr = S_OK;
    EXPECT_TRUE(Sign(0x6801 /* RC4, a cipher */, "abc", 3, hr).empty());
    EXPECT_EQ(hr, NTE_BAD_ALGID);

    HCRYPTPROV hProv;
    ASSERT_TRUE(CryptProviderForCngKey(m_hKey, false, hProv));
    // Wine's key storage provider has neither property; Windows' has both.
    uint32_t dwImpl = 0, cb = sizeof dwImpl;
    if (CryptGetProvParam(*hProv, PP_IMPTYPE, reinterpret_cast<uint8_t*>(&dwImpl), &cb))
        EXPECT_EQ(dwImpl & (CRYPT_IMPL_HARDWARE | CRYPT_IMPL_SOFTWARE), CRYPT_IMPL_SOFTWARE);
    else
        EXPECT_TRUE(RunningUnderWine()) << std::hex << GetLastError();
    uint32_t cbName = 0;
    if (CryptGetProvParam(*hProv, PP_NAME, nullptr, &cbName)) {
        std::string name(cbName, '\0');
        ASSERT_TRUE(CryptGetProvParam(*hProv, PP_NAME, reinterpret_cast<uint8_t*>(name.data()), &cbName));
        EXPECT_EQ(name.c_str(), std::string("Microsoft Software Key Storage Provider"));
    } else {
        EXPECT_TRUE(RunningUnderWine()) << std::hex << GetLastError();
    }
}
