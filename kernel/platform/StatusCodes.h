// Status codes shared by every layer of Tessera. They sit at the bottom,
// beside the platform seam, so that the platform layer needs nothing from
// the layers above it to report a status.
//
// A status is a signed 32-bit value in the Windows result layout: 0 is
// success, negative is failure. Tessera's own codes carry the customer bit
// (bit 29) and facility 7, so they read 0xA007xxxx; their low 16 bits name
// their description in the string table. Web pages compare these numbers,
// so none of them may ever change.
#pragma once

#include <cstdint>

using HRESULT = int32_t;

constexpr HRESULT MakeStatus(uint32_t v) { return static_cast<HRESULT>(v); }

constexpr HRESULT KVRA_OK = 0;

// Tessera's own codes.
constexpr HRESULT KVRA_E_NO_AVAILABLE_CERT = MakeStatus(0xA0071001);
constexpr HRESULT KVRA_E_USER_CANCELED = MakeStatus(0xA0071002);
constexpr HRESULT KVRA_E_QUERY_TYPE_NOT_SUPPORTED = MakeStatus(0xA0071003);
constexpr HRESULT KVRA_E_NO_KEY_USAGE = MakeStatus(0xA0071020);
constexpr HRESULT KVRA_E_NO_SUBJECT_KEY_ID = MakeStatus(0xA0071021);
constexpr HRESULT KVRA_E_CERT_NOT_READY = MakeStatus(0xA0072001);
constexpr HRESULT KVRA_E_INVALID_HASH_ALG = MakeStatus(0xA0072020);
constexpr HRESULT KVRA_E_INVALID_CERT_USAGE = MakeStatus(0xA0072021);
constexpr HRESULT KVRA_E_INVALID_SIGN_TYPE = MakeStatus(0xA0072022);
constexpr HRESULT KVRA_E_SEND_MSG_TOO_LONG = MakeStatus(0xA0073201);
constexpr HRESULT KVRA_E_CREATE_RESPONSE = MakeStatus(0xA0073202);
constexpr HRESULT KVRA_E_PARAM_NOT_STRING = MakeStatus(0xA0073204);

// System codes, with the values Windows gives them.
constexpr HRESULT ERROR_INVALID_PARAMETER = 87;
constexpr HRESULT E_POINTER = MakeStatus(0x80004003);
constexpr HRESULT E_FAIL = MakeStatus(0x80004005);
constexpr HRESULT E_OUTOFMEMORY = MakeStatus(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeStatus(0x80070057);
constexpr HRESULT NTE_BAD_ALGID = MakeStatus(0x80090008);
constexpr HRESULT NTE_FAIL = MakeStatus(0x80090020);
constexpr HRESULT NTE_INTERNAL_ERROR = MakeStatus(0x8009002D);

constexpr uint32_t STATUS_CUSTOMER_BIT = 0x20000000;

constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }

// The agent's rule for turning a thread last-error value into a status:
// values that are already statuses (or 0) pass through, errors carrying the
// customer bit become Tessera codes, everything else a 0x8007xxxx code.
constexpr HRESULT AgentStatusFromError(uint32_t dwError)
{
    const auto e = static_cast<int32_t>(dwError);
    if (e <= 0)
        return e;
    if (dwError & STATUS_CUSTOMER_BIT)
        return MakeStatus((dwError & 0xFFFF) | 0xA0070000);
    return MakeStatus((dwError & 0xFFFF) | 0x80070000);
}

// The kernel's plainer rule: every positive error becomes 0x8007xxxx.
constexpr HRESULT KernelStatusFromError(uint32_t dwError)
{
    const auto e = static_cast<int32_t>(dwError);
    if (e <= 0)
        return e;
    return MakeStatus((dwError & 0xFFFF) | 0x80070000);
}
