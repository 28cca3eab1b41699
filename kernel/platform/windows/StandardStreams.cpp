#include "WindowsApi.h"

#include <fcntl.h>
#include <io.h>

static_assert(O_BINARY_MODE == _O_BINARY);

void LetWritesToAClosedPipeFail() {}

int SetStreamMode(int fd, int nMode) { return _setmode(fd, nMode); }

FILE* TakeStandardOutputForFrames()
{
    const int fdFrames = _dup(_fileno(stdout));
    if (fdFrames < 0)
        return nullptr;
    FILE* pFrames = _fdopen(fdFrames, "wb");
    if (pFrames == nullptr) {
        _close(fdFrames);
        return nullptr;
    }
    // A provider DLL that prints, through its own C runtime or the console
    // API, now writes to the null device instead of between two frames.
    std::fflush(stdout);
    const int fdNull = _open("NUL", _O_WRONLY | _O_BINARY);
    if (fdNull >= 0) {
        _dup2(fdNull, _fileno(stdout));
        _close(fdNull);
        SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))));
    }
    return pFrames;
}
