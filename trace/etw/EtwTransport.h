// The Windows side of Tessera's trace provider: Event Tracing for Windows.
//
// Tessera registers one provider under its control GUID. A logger that asks
// for the provider enables it through TraceControlCallback with a logger
// handle, a level and enable flags, and each message then goes to that
// logger with TraceMessage: the message GUID, the message number and the
// raw arguments. The texts that the numbers stand for are not in the
// program; a decoder supplies them.
//
// Only the trace room and its tests include this header.
#pragma once

#include <windows.h>
#include <wmistr.h>
#include <evntrace.h>

#include <cstdint>

#include "trace/TraceProvider.h"

namespace trace_etw {

// TraceMessage's own form: after the number come (address, byte length)
// pairs, the lengths as SIZE_T, ended by a null address.
using TraceMessageFn = ULONG(__cdecl*)(TRACEHANDLE hLogger, ULONG dwMessageFlags, LPCGUID pMessageGuid,
                                       USHORT nMessageNumber, ...);

// Every message carries a sequence number, its GUID, a time stamp and the
// system information (thread and process).
constexpr ULONG kMessageFlags =
    TRACE_MESSAGE_SEQUENCE | TRACE_MESSAGE_GUID | TRACE_MESSAGE_TIMESTAMP | TRACE_MESSAGE_SYSTEMINFO;

// A TraceGuid keeps its bytes in the order of the text; a GUID keeps Data1,
// Data2 and Data3 as little-endian numbers.
constexpr GUID ToWindowsGuid(const TraceGuid& guid)
{
    const uint8_t* b = guid.bytes;
    return GUID{static_cast<unsigned long>(b[0]) << 24 | static_cast<unsigned long>(b[1]) << 16 |
                    static_cast<unsigned long>(b[2]) << 8 | b[3],
                static_cast<unsigned short>(b[4] << 8 | b[5]),
                static_cast<unsigned short>(b[6] << 8 | b[7]),
                {b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]}};
}

// The GUID as the boot-time logger's registry key names it: no braces,
// lower-case digits in groups 8-4-4-4-12.
void FormatGuidKeyName(const GUID& guid, wchar_t (&wszName)[37]);

// The enable callback given to the registration. pContext is the control
// block. Request 4 (enable) stores the logger handle, level and flags that
// the tracing service passes in pBuffer; request 5 (disable) stores zeros;
// any other request changes nothing and returns ERROR_INVALID_PARAMETER.
ULONG WINAPI TraceControlCallback(WMIDPREQUESTCODE nRequestCode, PVOID pContext, ULONG* pcbInOut, PVOID pBuffer);

// Reads the boot-time logger's settings for the provider pControlGuid. When
// "Start" is 1, stores the handle of the running logger named GlobalLogger
// (0 when there is none) in *phLogger and, if there is one, the provider's
// "Flags" (bit 31 cleared) and "Level" (low 8 bits). Otherwise stores
// nothing.
void ReadGlobalLoggerSettings(uint32_t* pdwEnableFlags, uint8_t* pnLevel, const GUID* pControlGuid,
                              uint64_t* phLogger);

// The control block that InitTracing fills and registers.
trace_detail::TraceControlBlock& ProviderControlBlock();

// For tests: replaces the function that sends the messages (looking up the
// system's first, so that the lookup never overrides it) and returns the
// one it replaces.
TraceMessageFn SetTraceMessageForTesting(TraceMessageFn pfnTraceMessage);

} // namespace trace_etw
