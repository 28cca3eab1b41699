// The LTTng-UST transport of Tessera's trace provider.
#include "LttngTransport.h"

#include "trace/TraceProvider.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "TesseraLttngProvider.h"

namespace {

// Every class points here until a provider is loaded, and again after
// shutdown, so that the gate needs no null test.
const int kClassOff = 0;

// The provider's control block: the loaded library (its registration) and
// the function that records a message.
struct TraceControlBlock {
    const tessera_lttng_provider* pRegistration = nullptr;
    tessera_lttng_emit_fn pfnEmit = nullptr;
};
TraceControlBlock g_TraceControl;

constexpr const char* kProviderLibrary = "tessera-lttng";
// How long the provider library's constructor may wait for the daemon to
// register it. A hung daemon would otherwise stall start-up for 3 s.
constexpr const char* kRegisterTimeoutMs = "200";
constexpr const char* kAppSocketName = "lttng-ust-sock-8";

bool IsSocketListening(const std::string& strPath)
{
    sockaddr_un addr{};
    if (strPath.size() >= sizeof addr.sun_path)
        return false;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, strPath.c_str(), strPath.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool bListening = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return bListening;
}

} // namespace

namespace trace_detail {

const int* volatile g_apClassState[4] = {&kClassOff, &kClassOff, &kClassOff, &kClassOff};

void Emit(uint32_t dwFlag, const TraceGuid& guid, uint16_t nNumber, const TraceArg* pArgs, unsigned nArgs)
{
    const tessera_lttng_emit_fn pfnEmit = g_TraceControl.pfnEmit;
    if (pfnEmit == nullptr)
        return;
    // Recording must not disturb what the traced code is about to read.
    const int nSavedErrno = errno;
    const TraceArg none{nullptr, 0};
    const TraceArg& a0 = nArgs > 0 ? pArgs[0] : none;
    const TraceArg& a1 = nArgs > 1 ? pArgs[1] : none;
    pfnEmit(static_cast<unsigned>(std::countr_zero(dwFlag)), guid.bytes, nNumber, static_cast<uint8_t>(nArgs),
            a0.pData, a0.cbData, a1.pData, a1.cbData);
    errno = nSavedErrno;
}

} // namespace trace_detail

bool IsLttngSessionDaemonRunning()
{
    // The per-user daemon's socket lies under $LTTNG_HOME (or $HOME), the
    // system-wide daemon's under /var/run/lttng. A socket file without a
    // listener is what a daemon that has exited leaves behind.
    const char* pszHome = std::getenv("LTTNG_HOME");
    if (pszHome == nullptr || *pszHome == '\0')
        pszHome = std::getenv("HOME");
    if (pszHome != nullptr && *pszHome != '\0' &&
        IsSocketListening(std::string(pszHome) + "/.lttng/" + kAppSocketName))
        return true;
    return IsSocketListening(std::string("/var/run/lttng/") + kAppSocketName);
}

void InitTracing(TraceModuleLoader pfnLoadModule)
{
    if (g_TraceControl.pRegistration == nullptr) {
        if (!IsLttngSessionDaemonRunning())
            return;
        const int nSavedErrno = errno;
        setenv("LTTNG_UST_REGISTER_TIMEOUT", kRegisterTimeoutMs, 0);
        if (void* hLibrary = pfnLoadModule != nullptr ? pfnLoadModule(kProviderLibrary) : nullptr) {
            using GetProviderFn = const tessera_lttng_provider* (*)();
            auto pfnGet = reinterpret_cast<GetProviderFn>(dlsym(hLibrary, TESSERA_LTTNG_PROVIDER_SYMBOL));
            const tessera_lttng_provider* pProvider = pfnGet != nullptr ? pfnGet() : nullptr;
            if (pProvider != nullptr && pProvider->cbSize >= sizeof(tessera_lttng_provider))
                g_TraceControl.pRegistration = pProvider;
        }
        errno = nSavedErrno;
        if (g_TraceControl.pRegistration == nullptr)
            return;
    }
    g_TraceControl.pfnEmit = g_TraceControl.pRegistration->pfnEmit;
    for (int i = 0; i < TESSERA_CLASS_COUNT; ++i)
        trace_detail::g_apClassState[i] = g_TraceControl.pRegistration->apClassState[i];
}

void CleanupTracing()
{
    for (auto& pState : trace_detail::g_apClassState)
        pState = &kClassOff;
    // The library stays mapped: LTTng-UST runs threads of its own and tears
    // itself down at process exit, so it is never unloaded.
    g_TraceControl.pfnEmit = nullptr;
}
