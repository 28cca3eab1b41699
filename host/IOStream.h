// Native-messaging frames on the standard streams: a 4-byte little-endian
// length followed by that many bytes of UTF-8 JSON.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "kernel/platform/StatusCodes.h"

// The largest body the host sends; a body of exactly this size still goes.
constexpr size_t MAX_SEND_MSG_LEN = 0x100000;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
// A frame body: NUL-terminated, owned by the caller.
using FrameBuffer = std::unique_ptr<char[], FreeDeleter>;

// Puts standard input, then standard output, into binary mode. Returns 0, or
// -1 at the first stream that cannot be switched (one that is not open).
HRESULT SetTranslationMode();

// Reads one frame. Returns 0 with the declared length and a NUL-terminated
// body; 0 with length 0 and no buffer at the end of input or for a declared
// length of 0 or -1; -1 when the body buffer cannot be obtained (no body
// byte is consumed then). A body cut short by the end of input is padded
// with zeros. Either output may be null.
HRESULT ReadFromNativeMessaging(int32_t* pnLength, FrameBuffer* ppszBuffer);

// Writes one frame holding pszText up to its NUL, and flushes. Returns 0
// (write errors are not reported: a closed pipe shows up as the end of
// input on the next read), or 0xA0073201 without writing anything when the
// text is longer than MAX_SEND_MSG_LEN.
HRESULT WriteToNativeMessaging(const char* pszText);

// Points the frame layer at other streams (tests and the fuzzer); null
// restores stdin and stdout.
void BindNativeMessagingStreams(FILE* pInput, FILE* pOutput);
