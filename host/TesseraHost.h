// The host process: start-up, the message loop and the handling of one
// request.
#pragma once

#include <string>

#include "host/IOStream.h"
#include "kernel/platform/StatusCodes.h"

class CCryptoAgent;

// The single agent, alive from start-up to exit.
extern CCryptoAgent* g_pobjCryptoAgent;

// Start-up, message loop and shutdown; returns the process's exit status:
// 0 at the end of input, -1 when a request buffer cannot be obtained,
// 0xA0073201 when a response would be too long.
int wmain();

// Answers frames until the input ends or a frame cannot be read or written.
HRESULT MsgHandleProc();

// Parses one request, dispatches it and prints the response. Returns 0 with
// the response text set, or the status that left the request unanswered.
// When given the request's own buffer, releases it as soon as the request is
// parsed: a large message is then not held twice while it is signed.
HRESULT ParseAndRespondRequest(const char* pszRequestMsg, std::string* pstrResponseMsg,
                               FrameBuffer* ppszRequestBuffer = nullptr);
