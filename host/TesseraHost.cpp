#include "TesseraHost.h"

#include <new>

#include "IOStream.h"
#include "JSONUtility.h"
#include "trace/TraceHelper.h"
#include "agent/CryptoAgent.h"
#include "kernel/platform/ModuleLoader.h"
#include "kernel/platform/ResourceModule.h"
#include "kernel/platform/StandardStreams.h"
#include "nmMessageSigning.h"

#define TRACE_MODULE "TesseraHost"

CCryptoAgent* g_pobjCryptoAgent = nullptr;

HRESULT ParseAndRespondRequest(const char* pszRequestMsg, std::string* pstrResponseMsg, FrameBuffer* ppszRequestBuffer)
{
    TRACE_SCOPE();
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidTesseraHost, 11, pszRequestMsg);

    JsonPtr pJSONParams;
    std::string strFuncName;
    HRESULT nResult = ParseRequestMsgToJSON(pszRequestMsg, &pJSONParams, &strFuncName);
    if (ppszRequestBuffer != nullptr)
        ppszRequestBuffer->reset();
    if (KVRA_OK != nResult) {
        TRACE_STEP_FAILED("ParseRequestMsgToJSON", nResult, "KVRA_OK != nResult");
        return nResult;
    }
    TRACE_STEP_OK("ParseRequestMsgToJSON");

    JsonPtr pResponseJSON;
    nResult = Invoke(strFuncName.c_str(), pJSONParams.get(), &pResponseJSON);
    if (KVRA_OK != nResult) {
        TRACE_STEP_FAILED("Invoke", nResult, "KVRA_OK != nResult");
        return nResult;
    }
    TRACE_STEP_OK("Invoke");

    std::string strResponseMsg;
    nResult = ConvertJSONToResponseMsg(strFuncName.c_str(), pResponseJSON.get(), &strResponseMsg);
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidTesseraHost, 12, nResult);
    // Not even the fixed failure response could be allocated: nothing to send.
    if (strResponseMsg.empty()) {
        TRACE_STEP_FAILED("ConvertJSONToResponseMsg", E_OUTOFMEMORY, "NULL == pszResponseMsg");
        return E_OUTOFMEMORY;
    }
    if (pstrResponseMsg != nullptr)
        *pstrResponseMsg = std::move(strResponseMsg);
    return KVRA_OK;
}

HRESULT MsgHandleProc()
{
    TRACE_SCOPE();
    for (;;) {
        int32_t nLength = 0;
        FrameBuffer pszRequestMsg;
        HRESULT nResult = ReadFromNativeMessaging(&nLength, &pszRequestMsg);
        if (KVRA_OK != nResult) {
            TRACE_STEP_FAILED("ReadFromNativeMessaging", nResult, "KVRA_OK != nResult");
            return nResult;
        }
        TRACE_STEP_OK("ReadFromNativeMessaging");
        TraceMessage(TRACE_FLAG_INFO, kTraceGuidTesseraHost, 13, pszRequestMsg.get());

        if (0 == nLength) {
            TraceMessage(TRACE_FLAG_INFO, kTraceGuidTesseraHost, 14);
            return KVRA_OK;
        }

        std::string strResponseMsg;
        nResult = ParseAndRespondRequest(pszRequestMsg.get(), &strResponseMsg, &pszRequestMsg);
        pszRequestMsg.reset();
        // The answer could never be sent: the host ends as it does when a
        // response is too long to write.
        if (KVRA_E_SEND_MSG_TOO_LONG == nResult) {
            TRACE_STEP_FAILED("WriteToNativeMessaging", nResult, "KVRA_OK != nResult");
            return nResult;
        }
        if (KVRA_OK != nResult) {
            TraceMessage(TRACE_FLAG_INFO, kTraceGuidTesseraHost, 16, nResult);
            continue;
        }

        TraceMessage(TRACE_FLAG_INFO, kTraceGuidTesseraHost, 15, strResponseMsg.c_str());
        nResult = WriteToNativeMessaging(strResponseMsg.c_str());
        if (KVRA_OK != nResult) {
            TRACE_STEP_FAILED("WriteToNativeMessaging", nResult, "KVRA_OK != nResult");
            return nResult;
        }
        TRACE_STEP_OK("WriteToNativeMessaging");
    }
}

// Start-up up to the message loop; returns the exit status.
static HRESULT StartAndServe()
{
    TRACE_SCOPE();
    g_hInstance = GetModuleHandleW(nullptr);
    if (nullptr == g_hInstance) {
        TRACE_STEP_FAILED("GetModuleHandleW", 0, "NULL == g_hInstance");
        return KVRA_OK;
    }
    TRACE_STEP_OK("GetModuleHandleW");

    g_pobjCryptoAgent = new (std::nothrow) CCryptoAgent();
    if (nullptr == g_pobjCryptoAgent) {
        TRACE_STEP_FAILED("new CScriptablePluginObject", 0, "NULL == g_pobjCryptoAgent");
        return KVRA_OK;
    }
    TRACE_STEP_OK("new CScriptablePluginObject");

    // A write to a pipe whose reader has gone must fail quietly, not kill
    // the host: the next read then sees the end of input.
    LetWritesToAClosedPipeFail();

    HRESULT nResult = SetTranslationMode();
    if (KVRA_OK != nResult) {
        TRACE_STEP_FAILED("SetTranslationMode", nResult, "KVRA_OK != nResult");
        return nResult;
    }
    TRACE_STEP_OK("SetTranslationMode");

    nResult = MsgHandleProc();
    if (KVRA_OK != nResult)
        TRACE_STEP_FAILED("MsgHandleProc", nResult, "KVRA_OK != nResult");
    else
        TRACE_STEP_OK("MsgHandleProc");
    return nResult;
}

int wmain()
{
    // Before anything that may print is loaded: frames alone reach the
    // browser, whatever a driver writes to its standard output.
    if (FILE* pFrames = TakeStandardOutputForFrames())
        BindNativeMessagingStreams(nullptr, pFrames);
    InitTracing(LoadTesseraModule);
    TraceMessage(TRACE_FLAG_INFO, kTraceGuidTesseraHost, 10);

    const HRESULT nExitStatus = StartAndServe();

    delete g_pobjCryptoAgent;
    g_pobjCryptoAgent = nullptr;
    CleanupTracing();
    return nExitStatus;
}
