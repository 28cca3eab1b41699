#include "kernel/platform/StandardStreams.h"

#include <fcntl.h>
#include <csignal>
#include <cstdint>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define TESSERA_SANITIZER_REPORTS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSERA_SANITIZER_REPORTS 1
#endif
#endif
#ifdef TESSERA_SANITIZER_REPORTS
#include <sanitizer/common_interface_defs.h>
#endif

FILE* TakeStandardOutputForFrames()
{
    const int fdFrames = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (fdFrames < 0)
        return nullptr;
    FILE* pFrames = fdopen(fdFrames, "wb");
    if (pFrames == nullptr) {
        close(fdFrames);
        return nullptr;
    }
#ifdef TESSERA_SANITIZER_REPORTS
    // A sanitizer build still reports its findings where the tests see them.
    const int fdReports = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (fdReports >= 0)
        __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(fdReports)));
#endif
    const int fdNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (fdNull >= 0) {
        dup2(fdNull, STDOUT_FILENO);
        dup2(fdNull, STDERR_FILENO);
        if (fdNull > STDERR_FILENO)
            close(fdNull);
    }
    return pFrames;
}

void LetWritesToAClosedPipeFail() { std::signal(SIGPIPE, SIG_IGN); }

int SetStreamMode(int fd, int nMode)
{
    if (fcntl(fd, F_GETFD) == -1)
        return -1;
    return nMode;
}
