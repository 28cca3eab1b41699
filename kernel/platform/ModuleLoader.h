// Loading Tessera's own shared modules (the crypto module, the dialog, the
// trace provider) on demand.
#pragma once

// Loads the module by its base name ("tessera-crypto"): the platform adds
// its own file-name form (libNAME.so, NAME.dll). It looks in the
// executable's own directory first (a build tree or a Windows install), then
// in the library directory beside it (an installation, wherever its prefix
// now is), then in the library directory it was built for. Returns the
// module handle, or null.
void* LoadTesseraModule(const char* pszModuleName);

// The address of a symbol that a loaded module exports, or null: the
// platform's GetProcAddress.
void* GetModuleSymbol(void* hModule, const char* pszSymbol);

// Marks the one function a module exports for the host to find.
#ifdef _WIN32
#define TESSERA_MODULE_EXPORT extern "C" __declspec(dllexport)
#else
#define TESSERA_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif
