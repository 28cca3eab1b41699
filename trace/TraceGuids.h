// Message GUIDs of Tessera's trace messages. Two are shared by every module
// (step lines, entry/exit and wide lines); each module has one more for its
// own data messages, numbered from 10 upward.
#pragma once

#include "TraceProvider.h"

// {5C8F2A58-369A-44F0-9235-C05ECB1DD73E}: the provider's control GUID.
inline constexpr TraceGuid kTraceControlGuid = MakeTraceGuid("5C8F2A58-369A-44F0-9235-C05ECB1DD73E");

inline constexpr TraceGuid kTraceGuidLines8 = MakeTraceGuid("EC18C996-9C32-8921-9FC6-CF7BE2A05FA8");
inline constexpr TraceGuid kTraceGuidWide = MakeTraceGuid("F328A2BB-97C7-921A-DF10-C8A70F0A60CB");

inline constexpr TraceGuid kTraceGuidTesseraHost = MakeTraceGuid("FD11EE39-E8CA-A2E1-FC1A-D9AF2CFDAD47");
inline constexpr TraceGuid kTraceGuidIOStream = MakeTraceGuid("77ED2D94-B015-C1B6-7B5B-936735E70535");
inline constexpr TraceGuid kTraceGuidJSONUtility = MakeTraceGuid("A780DB6C-B07C-A2AD-272D-D505313181B6");
inline constexpr TraceGuid kTraceGuidInvoke = MakeTraceGuid("3BBED7EC-6802-2D02-9301-8C91E8A7DAB5");
inline constexpr TraceGuid kTraceGuidMessageSigning = MakeTraceGuid("484181F7-19AD-FEBE-77A2-569057BB7CBF");
inline constexpr TraceGuid kTraceGuidCryptoAgent = MakeTraceGuid("016116F4-26FF-6FF8-E734-8199E3FC552B");
inline constexpr TraceGuid kTraceGuidCertificate = MakeTraceGuid("B39F5186-5A4B-6585-8AD4-A0463EB43203");
inline constexpr TraceGuid kTraceGuidCrypto = MakeTraceGuid("842C9E38-2616-2207-6258-804BD4CB08FD");
inline constexpr TraceGuid kTraceGuidBase64 = MakeTraceGuid("654E02E2-C350-A31C-7793-4A43137B56DF");
inline constexpr TraceGuid kTraceGuidDER = MakeTraceGuid("098702E5-3992-5092-E359-8ADB8D32BE86");
inline constexpr TraceGuid kTraceGuidDialogLauncher = MakeTraceGuid("F8C75E6F-E016-79DB-51AA-16637B2D9C1C");
inline constexpr TraceGuid kTraceGuidSelectDialog = MakeTraceGuid("8FD05247-2B10-F1A0-BA91-043F7E653485");
inline constexpr TraceGuid kTraceGuidCertificateList = MakeTraceGuid("2850D6C1-6A98-AF21-BA02-0F0A2D91F333");
inline constexpr TraceGuid kTraceGuidImages = MakeTraceGuid("B9197F38-E46A-A36D-9F71-1123AFE332C4");

// Numbers under the shared GUIDs.
constexpr uint16_t TRACE_MSG_LINE8_OK = 10;
constexpr uint16_t TRACE_MSG_LINE8_FAILED = 11;
constexpr uint16_t TRACE_MSG_ENTRY = 10;
constexpr uint16_t TRACE_MSG_EXIT = 11;
constexpr uint16_t TRACE_MSG_WIDE_NEGATIVE = 13;
constexpr uint16_t TRACE_MSG_WIDE_NON_NEGATIVE = 14;
