#include "IOStream.h"

#include <cstring>

#include "kernel/platform/StandardStreams.h"
#include "trace/TraceHelper.h"

#define TRACE_MODULE "IOStream"

namespace {

FILE* g_pInput = nullptr;
FILE* g_pOutput = nullptr;

FILE* InputStream() { return g_pInput != nullptr ? g_pInput : stdin; }
FILE* OutputStream() { return g_pOutput != nullptr ? g_pOutput : stdout; }

} // namespace

void BindNativeMessagingStreams(FILE* pInput, FILE* pOutput)
{
    g_pInput = pInput;
    g_pOutput = pOutput;
}

HRESULT SetTranslationMode()
{
    TRACE_SCOPE();
    const int nMode = O_BINARY_MODE;
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidIOStream, 10, nMode);
    TRACE_STEP_OK("Check Parameters(nMode)");

    int nResult = SetStreamMode(fileno(InputStream()), nMode);
    if (-1 == nResult) {
        TRACE_STEP_FAILED("_setmode(stdin)", -1, "-1 == nResult");
        return -1;
    }
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidIOStream, 11, nResult);
    TRACE_STEP_OK("_setmode(stdin)");

    nResult = SetStreamMode(fileno(OutputStream()), nMode);
    if (-1 == nResult) {
        TRACE_STEP_FAILED("_setmode(stdin)", -1, "-1 == nResult");
        return -1;
    }
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidIOStream, 12, nResult);
    TRACE_STEP_OK("_setmode(stdin)");
    return KVRA_OK;
}

HRESULT ReadFromNativeMessaging(int32_t* pnLength, FrameBuffer* ppszBuffer)
{
    TRACE_SCOPE();
    FILE* pInput = InputStream();
    // Bytes that never arrive stay 0, so the end of input reads as length 0.
    unsigned char abLength[4] = {};
    (void)std::fread(abLength, 1, sizeof abLength, pInput);
    const auto nLength = static_cast<int32_t>(static_cast<uint32_t>(abLength[0]) | abLength[1] << 8 |
                                              abLength[2] << 16 | static_cast<uint32_t>(abLength[3]) << 24);

    if (nLength == 0 || nLength == -1) {
        TraceMessage(TRACE_FLAG_INFO, kTraceGuidIOStream, 13);
        if (pnLength != nullptr)
            *pnLength = 0;
        if (ppszBuffer != nullptr)
            ppszBuffer->reset();
        return KVRA_OK;
    }

    // A negative length is a size that cannot be obtained. calloc leaves
    // large buffers to the kernel's zero pages instead of touching them.
    FrameBuffer pszInputMsg(nLength > 0 ? static_cast<char*>(std::calloc(static_cast<size_t>(nLength) + 1, 1))
                                        : nullptr);
    if (!pszInputMsg) {
        TRACE_STEP_FAILED("New memory", -1, "!pszInputMsg");
        return -1;
    }
    TRACE_STEP_OK("New memory");

    // A short read is not an error: the missing bytes stay 0.
    (void)std::fread(pszInputMsg.get(), 1, static_cast<size_t>(nLength), pInput);

    if (pnLength != nullptr)
        *pnLength = nLength;
    if (ppszBuffer != nullptr)
        *ppszBuffer = std::move(pszInputMsg);
    return KVRA_OK;
}

HRESULT WriteToNativeMessaging(const char* pszText)
{
    TRACE_SCOPE();
    if (pszText == nullptr) {
        TRACE_STEP_FAILED("Check Parameters(pszText)", E_POINTER, "NULL == pszText");
        return E_POINTER;
    }
    const size_t nWriteMsgSize = std::strlen(pszText);
    if (nWriteMsgSize > MAX_SEND_MSG_LEN) {
        TRACE_STEP_FAILED("Check WriteMsgSize", KVRA_E_SEND_MSG_TOO_LONG, "nWriteMsgSize > MAX_SEND_MSG_LEN");
        return KVRA_E_SEND_MSG_TOO_LONG;
    }
    TRACE_STEP_OK("Check WriteMsgSize");

    FILE* pOutput = OutputStream();
    const unsigned char abLength[4] = {
        static_cast<unsigned char>(nWriteMsgSize),
        static_cast<unsigned char>(nWriteMsgSize >> 8),
        static_cast<unsigned char>(nWriteMsgSize >> 16),
        static_cast<unsigned char>(nWriteMsgSize >> 24),
    };
    // Write errors are deliberately not checked: once the reader has gone,
    // the stream stays in its error state and the next read sees the end of
    // input.
    (void)std::fwrite(abLength, 1, sizeof abLength, pOutput);
    (void)std::fwrite(pszText, 1, nWriteMsgSize, pOutput);
    (void)std::fflush(pOutput);
    return KVRA_OK;
}
