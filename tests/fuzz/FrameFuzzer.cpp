// libFuzzer target over the whole path from frame bytes to response frames:
// the frame reader, the request parser, the dispatcher and its handler, the
// response printer and the frame writer, exactly as the message loop runs
// them. Whatever the input, the output must be whole frames, each holding
// one JSON object, and nothing may leak.
//
// Selection and signing requests go through the crypto module, built beside
// the fuzzer with the same instrumentation, to the certificate store of the
// environment: tools/run-fuzz runs the fuzzer on the test store. Every input
// starts from a new agent, with nothing selected, as a new host would. The
// selection dialog never opens: without a display the launcher reports
// error 1400 at once.
#include <cjson/cJSON.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "agent/CryptoAgent.h"
#include "agent/CryptoModule.h"
#include "host/IOStream.h"
#include "host/TesseraHost.h"
#include "kernel/platform/ResourceModule.h"

namespace {

// Bodies larger than this are clamped to what the input holds: a frame
// that declares 2 GiB is the host's business (the host tests cover it),
// but allocating it here would only trip the fuzzer's memory limit.
constexpr uint32_t kLargestDeclaredBody = 1u << 20;

std::string ClampDeclaredLengths(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t pos = 0;
    while (pos + 4 <= input.size()) {
        auto* p = reinterpret_cast<unsigned char*>(&input[pos]);
        const uint32_t n = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
        if (static_cast<int32_t>(n) <= 0)
            break; // the loop stops at this frame
        if (n > kLargestDeclaredBody) {
            const auto clamped = static_cast<uint32_t>(std::min<size_t>(input.size() - pos - 4, kLargestDeclaredBody));
            p[0] = static_cast<unsigned char>(clamped);
            p[1] = static_cast<unsigned char>(clamped >> 8);
            p[2] = static_cast<unsigned char>(clamped >> 16);
            p[3] = static_cast<unsigned char>(clamped >> 24);
            if (clamped == 0)
                break;
            pos += 4 + clamped;
        } else {
            pos += 4 + n;
        }
    }
    return input;
}

void CheckFrames(const char* pOut, size_t cbOut)
{
    size_t pos = 0;
    while (pos < cbOut) {
        if (cbOut - pos < 4)
            std::abort();
        const auto* p = reinterpret_cast<const unsigned char*>(pOut + pos);
        const size_t n = p[0] | p[1] << 8 | p[2] << 16 | static_cast<size_t>(p[3]) << 24;
        pos += 4;
        if (n == 0 || n > cbOut - pos || n > MAX_SEND_MSG_LEN)
            std::abort();
        const std::string body(pOut + pos, n);
        cJSON* pJson = cJSON_ParseWithOpts(body.c_str(), nullptr, true);
        if (pJson == nullptr || !cJSON_IsObject(pJson))
            std::abort();
        cJSON_Delete(pJson);
        pos += n;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    for (const char* pszName : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        unsetenv(pszName);
    g_hInstance = GetModuleHandleW(nullptr);
    // Loaded now rather than by the first request that needs it, so that
    // its coverage counts from the start; a fuzzer without it would never
    // get past "module not found".
    if (LoadCryptoModule() == nullptr) {
        std::fprintf(stderr, "frame fuzzer: cannot load " TESSERA_CRYPTO_MODULE " from the fuzzer's directory\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CCryptoAgent agent;
    g_pobjCryptoAgent = &agent;

    std::string input = ClampDeclaredLengths(data, size);
    FILE* pIn = input.empty() ? std::fopen("/dev/null", "rb") : fmemopen(input.data(), input.size(), "rb");
    char* pOut = nullptr;
    size_t cbOut = 0;
    FILE* pOutStream = open_memstream(&pOut, &cbOut);
    if (pIn == nullptr || pOutStream == nullptr)
        std::abort();
    BindNativeMessagingStreams(pIn, pOutStream);

    const HRESULT hr = MsgHandleProc();
    if (hr != KVRA_OK && hr != -1 && hr != KVRA_E_SEND_MSG_TOO_LONG)
        std::abort();

    BindNativeMessagingStreams(nullptr, nullptr);
    std::fclose(pIn);
    std::fclose(pOutStream);
    g_pobjCryptoAgent = nullptr;
    CheckFrames(pOut, cbOut);
    std::free(pOut);
    return 0;
}
