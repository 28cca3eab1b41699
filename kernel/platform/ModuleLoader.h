// Loading Tessera's own shared modules (the trace provider, the dialog) on
// demand.
#pragma once

// Loads the module file: from the executable's own directory first (a build
// tree), then from the library directory beside it (an installation, wherever
// its prefix now is), then from the library directory it was built for.
// Returns the dlopen handle, or null.
void* LoadTesseraModule(const char* pszFileName);

// The address of a symbol that a loaded module exports, or null: the
// platform's GetProcAddress.
void* GetModuleSymbol(void* hModule, const char* pszSymbol);
