// Loading Tessera's own shared modules (the trace provider, the dialog) on
// demand.
#pragma once

// Loads the module file: from the executable's own directory first (a build
// tree), then from Tessera's library directory (an installation). Returns
// the dlopen handle, or null.
void* LoadTesseraModule(const char* pszFileName);
