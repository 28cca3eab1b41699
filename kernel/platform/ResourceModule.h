// Resources compiled into the program, reached through a module handle as
// Windows programs reach their string tables.
#pragma once

#include <cstdint>
#include <span>

struct StringResource {
    uint16_t nId;
    const char16_t* pwszText;
};

// The built-in resource set of one program: its string tables in English
// and in Chinese, each sorted by id.
struct ResourceModule {
    std::span<const StringResource> english;
    std::span<const StringResource> chinese;
};

using HINSTANCE = const ResourceModule*;

// The resource set of the running program; a null name asks for the
// program itself. Defined by the resources library.
HINSTANCE GetModuleHandleW(const char16_t* pwszModuleName);

// Copies string nId of the table for the user's language into buf, cut to
// cchBufferMax - 1 units and NUL-terminated, and returns its length. Returns
// 0 and sets the last error when the module has no such string.
int LoadStringW(HINSTANCE hInstance, uint32_t nId, char16_t* buf, int cchBufferMax);

// The running program's module handle, set at start-up.
extern HINSTANCE g_hInstance;
