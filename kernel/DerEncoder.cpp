#include "DerEncoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "HashAndSign.h"
#include "trace/TraceHelper.h"
#include "kernel/platform/StructureEncoder.h"

namespace {
constexpr uint8_t kAcceptedTags[] = {0x02, 0x04, 0x06, 0x0C, 0x13, 0x16, 0x1E, 0x30, 0x31, 0x80, 0xA0};
}

HRESULT CalculateASNValueLength(uint32_t dwValueLength, std::vector<uint8_t>& vtrLength)
{
    TRACE_SCOPE();
    if (dwValueLength == 0) {
        TraceWideStatus(u"Check Parameters(dwValueLength)", E_FAIL);
        return E_FAIL;
    }
    try {
        if (dwValueLength < 0x80) {
            vtrLength.assign(1, static_cast<uint8_t>(dwValueLength));
            return KVRA_OK;
        }
        uint8_t k = 1;
        while (k < 4 && (dwValueLength >> (8 * k)) != 0)
            ++k;
        vtrLength.assign(1, static_cast<uint8_t>(0x80 | k));
        for (int i = k - 1; i >= 0; --i)
            vtrLength.push_back(static_cast<uint8_t>(dwValueLength >> (8 * i)));
    } catch (const std::bad_alloc&) {
        TraceWideStatus(u"New Memory", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    return KVRA_OK;
}

uint64_t DerElementLength(uint64_t cbValue)
{
    uint64_t cbHeader = 2;
    if (cbValue >= 0x80) {
        for (uint64_t n = cbValue; n != 0; n >>= 8)
            ++cbHeader;
    }
    return cbHeader + cbValue;
}

HRESULT ASN1Encode(uint32_t dwTag, const uint8_t* pbValue, uint32_t cbValue, std::vector<uint8_t>& vtrElement)
{
    TRACE_SCOPE();
    const auto bTag = static_cast<uint8_t>(dwTag & 0xFF);
    if (std::find(std::begin(kAcceptedTags), std::end(kAcceptedTags), bTag) == std::end(kAcceptedTags)) {
        TraceWideStatus(u"Check Parameters(nTag)", E_FAIL);
        return E_FAIL;
    }
    std::vector<uint8_t> vtrLength;
    const HRESULT hr = CalculateASNValueLength(cbValue, vtrLength);
    if (FAILED(hr))
        return hr;
    if (pbValue == nullptr) {
        TraceWideStatus(u"Check Parameters(pbValue)", E_POINTER);
        return E_POINTER;
    }
    try {
        std::vector<uint8_t> vtrOut;
        vtrOut.reserve(1 + vtrLength.size() + cbValue);
        vtrOut.push_back(bTag);
        vtrOut.insert(vtrOut.end(), vtrLength.begin(), vtrLength.end());
        vtrOut.insert(vtrOut.end(), pbValue, pbValue + cbValue);
        vtrElement = std::move(vtrOut);
    } catch (const std::bad_alloc&) {
        TraceWideStatus(u"New Memory", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    return KVRA_OK;
}

HRESULT EncodeObject(uintptr_t lpszStructType, const void* pvStructInfo, std::vector<uint8_t>& vtrEncoded)
{
    TRACE_SCOPE();
    constexpr uint32_t dwEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    uint32_t cbEncoded = 0;
    if (!CryptEncodeObject(dwEncoding, lpszStructType, pvStructInfo, nullptr, &cbEncoded)) {
        const HRESULT hr = LastErrorStatus();
        TraceWideStatus(u"CryptEncodeObject - get length", hr);
        return hr;
    }
    try {
        vtrEncoded.assign(cbEncoded, 0);
    } catch (const std::bad_alloc&) {
        TraceWideStatus(u"New Memory", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    if (!CryptEncodeObject(dwEncoding, lpszStructType, pvStructInfo, vtrEncoded.data(), &cbEncoded)) {
        const HRESULT hr = LastErrorStatus();
        TraceWideStatus(u"CryptEncodeObject - get value", hr);
        return hr;
    }
    vtrEncoded.resize(cbEncoded);
    return KVRA_OK;
}
