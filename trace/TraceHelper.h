// Tessera's tracing conventions on top of the provider: a scope object that
// reports entry to and exit from a function, and the four step-line forms
// that report each step of a function as succeeded or failed.
#pragma once

#include <cstdint>

#include "TraceGuids.h"

// Reports entry on construction and exit on destruction, under
// TRACE_FLAG_ENTRY_EXIT. Leaves the thread's last error (and errno) as it
// found them, since the traced code reads them after its own calls.
class TraceHelper {
public:
    explicit TraceHelper(const char* pszFuncName);
    virtual ~TraceHelper();
    TraceHelper(const TraceHelper&) = delete;
    TraceHelper& operator=(const TraceHelper&) = delete;

private:
    const char* m_pszFuncName;
};

// Line buffers hold 512 characters; a longer line is cut.
constexpr int TRACE_LINE_CCH = 512;

// 8-bit lines, used by the host's frame, JSON and loop modules.
void TraceLine8Ok(const char* pszModule, int nLine, const char* pszFunc, const char* pszStep);
void TraceLine8Failed(const char* pszModule, int nLine, const char* pszFunc, const char* pszStep, int32_t nStatus,
                      const char* pszReason);

// Wide lines, used by the handlers, the agent and the dialog modules. A
// failure line with a negative status goes out as a wide failure; with a
// non-negative one, as information.
void TraceWideLineOk(const char16_t* pwszFunc, const char16_t* pwszStep);
void TraceWideLineFailed(const char16_t* pwszModule, int nLine, const char16_t* pwszFunc, const char16_t* pwszStep,
                         int32_t nStatus, const char16_t* pwszReason);

// The wide status message with a bare step text, used by the kernel modules.
void TraceWideStatus(const char16_t* pwszText, int32_t nStatus);

#define TRACE_SCOPE() TraceHelper traceHelper_(__func__)

// Each source file defines TRACE_MODULE (8-bit) or TRACE_WMODULE (wide)
// with its module name before using these.
#define TRACE_STEP_OK(step) TraceLine8Ok(TRACE_MODULE, __LINE__, __func__, step)
#define TRACE_STEP_FAILED(step, status, reason) \
    TraceLine8Failed(TRACE_MODULE, __LINE__, __func__, step, status, reason)
#define TRACE_WSTEP_OK(func, step) TraceWideLineOk(func, step)
#define TRACE_WSTEP_FAILED(func, step, status, reason) \
    TraceWideLineFailed(TRACE_WMODULE, __LINE__, func, step, status, reason)
