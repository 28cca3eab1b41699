/* LTTng-UST events of the "tessera" provider: one event per message class,
 * all of the same shape. */
#undef LTTNG_UST_TRACEPOINT_PROVIDER
#define LTTNG_UST_TRACEPOINT_PROVIDER tessera

#undef LTTNG_UST_TRACEPOINT_INCLUDE
#define LTTNG_UST_TRACEPOINT_INCLUDE "./TesseraTracepoints.h"

#if !defined(TESSERA_TRACEPOINTS_H) || defined(LTTNG_UST_TRACEPOINT_HEADER_MULTI_READ)
#define TESSERA_TRACEPOINTS_H

#include <lttng/tracepoint.h>
#include <stdint.h>

LTTNG_UST_TRACEPOINT_EVENT_CLASS(tessera, message,
    LTTNG_UST_TP_ARGS(const uint8_t*, guid, uint16_t, number, uint8_t, argc,
                      const uint8_t*, arg0, uint32_t, arg0_len, const uint8_t*, arg1, uint32_t, arg1_len),
    LTTNG_UST_TP_FIELDS(
        lttng_ust_field_array_hex(uint8_t, guid, guid, 16)
        lttng_ust_field_integer(uint16_t, number, number)
        lttng_ust_field_integer(uint8_t, argc, argc)
        lttng_ust_field_sequence_hex(uint8_t, arg0, arg0, uint32_t, arg0_len)
        lttng_ust_field_sequence_hex(uint8_t, arg1, arg1, uint32_t, arg1_len)))

#define TESSERA_MESSAGE_EVENT(name)                                                                       \
    LTTNG_UST_TRACEPOINT_EVENT_INSTANCE(tessera, message, tessera, name,                                 \
        LTTNG_UST_TP_ARGS(const uint8_t*, guid, uint16_t, number, uint8_t, argc, const uint8_t*, arg0,   \
                          uint32_t, arg0_len, const uint8_t*, arg1, uint32_t, arg1_len))

TESSERA_MESSAGE_EVENT(failure)
TESSERA_MESSAGE_EVENT(wide_failure)
TESSERA_MESSAGE_EVENT(info)
TESSERA_MESSAGE_EVENT(entry_exit)

#endif

#include <lttng/tracepoint-event.h>
