// The running program's module handle. On Windows its resources are the
// executable's PE resources (TesseraStrings.rc), found through the handle.
#include "kernel/platform/ResourceModule.h"

HINSTANCE g_hInstance = nullptr;
