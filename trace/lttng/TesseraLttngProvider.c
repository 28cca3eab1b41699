/* The LTTng-UST provider library of Tessera. Loading it registers the four
 * events with the session daemon; the host then reads the events' state
 * words directly, so that a disabled class costs one load and one test. */
#define LTTNG_UST_TRACEPOINT_CREATE_PROBES
#define LTTNG_UST_TRACEPOINT_DEFINE
#include "TesseraTracepoints.h"

#include "TesseraLttngProvider.h"

static void Emit(unsigned nClass, const uint8_t* pGuid, uint16_t nNumber, uint8_t nArgs, const void* pArg0,
                 uint32_t cbArg0, const void* pArg1, uint32_t cbArg1)
{
    const uint8_t* a0 = (const uint8_t*)pArg0;
    const uint8_t* a1 = (const uint8_t*)pArg1;
    switch (nClass) {
    case TESSERA_CLASS_FAILURE:
        lttng_ust_tracepoint(tessera, failure, pGuid, nNumber, nArgs, a0, cbArg0, a1, cbArg1);
        break;
    case TESSERA_CLASS_WIDE_FAILURE:
        lttng_ust_tracepoint(tessera, wide_failure, pGuid, nNumber, nArgs, a0, cbArg0, a1, cbArg1);
        break;
    case TESSERA_CLASS_INFO:
        lttng_ust_tracepoint(tessera, info, pGuid, nNumber, nArgs, a0, cbArg0, a1, cbArg1);
        break;
    case TESSERA_CLASS_ENTRY_EXIT:
        lttng_ust_tracepoint(tessera, entry_exit, pGuid, nNumber, nArgs, a0, cbArg0, a1, cbArg1);
        break;
    default:
        break;
    }
}

static const struct tessera_lttng_provider s_provider = {
    sizeof(struct tessera_lttng_provider),
    {
        &lttng_ust_tracepoint_tessera___failure.state,
        &lttng_ust_tracepoint_tessera___wide_failure.state,
        &lttng_ust_tracepoint_tessera___info.state,
        &lttng_ust_tracepoint_tessera___entry_exit.state,
    },
    Emit,
};

__attribute__((visibility("default"))) const struct tessera_lttng_provider* tessera_lttng_get_provider(void)
{
    return &s_provider;
}
