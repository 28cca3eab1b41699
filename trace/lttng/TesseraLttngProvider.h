/* The interface between the host and its LTTng-UST provider library.
 *
 * The host never links LTTng. When a session daemon is running it loads
 * libtessera-lttng.so with dlopen and asks it for this table: one state word
 * per message class (non-zero while the class's event is enabled in some
 * session) and the function that records a message. */
#ifndef TESSERA_LTTNG_PROVIDER_H
#define TESSERA_LTTNG_PROVIDER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Message classes, in the order of their enable-flag bits 0x1, 0x2, 0x4, 0x8. */
enum {
    TESSERA_CLASS_FAILURE = 0,
    TESSERA_CLASS_WIDE_FAILURE = 1,
    TESSERA_CLASS_INFO = 2,
    TESSERA_CLASS_ENTRY_EXIT = 3,
    TESSERA_CLASS_COUNT = 4
};

/* Records one message: its GUID (16 bytes in text order), its number and up
 * to two raw arguments. */
typedef void (*tessera_lttng_emit_fn)(unsigned nClass, const uint8_t* pGuid, uint16_t nNumber, uint8_t nArgs,
                                      const void* pArg0, uint32_t cbArg0, const void* pArg1, uint32_t cbArg1);

struct tessera_lttng_provider {
    uint32_t cbSize;
    const int* apClassState[TESSERA_CLASS_COUNT];
    tessera_lttng_emit_fn pfnEmit;
};

#define TESSERA_LTTNG_PROVIDER_SYMBOL "tessera_lttng_get_provider"
const struct tessera_lttng_provider* tessera_lttng_get_provider(void);

#ifdef __cplusplus
}
#endif

#endif
