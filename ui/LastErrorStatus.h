// The dialog's status for the calling thread's last error, by the agent's
// rule: errors carrying the customer bit become Tessera codes, others
// 0x8007xxxx, and zero or a status passes through.
#pragma once

#include "kernel/platform/StatusCodes.h"
#include "kernel/platform/LastError.h"

inline HRESULT LastErrorStatus() { return AgentStatusFromError(GetLastError()); }
