// Linked into tessera-host.exe alone: before anything else of the program
// runs, every later load of a DLL by name searches System32 only, not the
// executable's folder, the current directory or PATH. A DLL that a system
// DLL loads on demand (CryptoAPI's providers, the dialog's helpers) then
// cannot be taken from a file planted beside the host. The executable's own
// imports are KnownDLLs, which the loader takes from System32 before this
// runs (the wine-imports test keeps it so).
#include "WindowsApi.h"

namespace {

// Priority 101, the first that programs may use: ahead of every other
// static constructor of the executable, whatever it loads.
__attribute__((constructor(101))) void SearchSystem32Only()
{
    // Fails only on a Windows without the call (before Windows 8 and
    // KB2533623); LoadTesseraModule's LOAD_LIBRARY_SEARCH_SYSTEM32 fails
    // there too, so the modules are never loaded from anywhere else.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

} // namespace
