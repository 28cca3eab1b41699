// Resources compiled into the program, reached through a module handle as
// Windows programs reach their string tables.
#pragma once

#include <cstdint>
#include <span>

struct StringResource {
    uint16_t nId;
    const char16_t* pwszText;
};

// A picture, by its path in the Qt resource system of the dialog module.
struct ImageResource {
    uint16_t nId;
    const char* pszPath;
};

// The texts of a dialog template: caption and the two buttons.
struct DialogResource {
    uint16_t nId;
    const char16_t* pwszCaption;
    const char16_t* pwszOk;
    const char16_t* pwszCancel;
};

// The built-in resource set of one program: its string tables and dialog
// texts in English and in Chinese (string tables sorted by id), and its
// pictures, which serve both languages.
struct ResourceModule {
    std::span<const StringResource> english;
    std::span<const StringResource> chinese;
    std::span<const DialogResource> dialogsEnglish;
    std::span<const DialogResource> dialogsChinese;
    std::span<const ImageResource> images;
};

#ifdef _WIN32
// The loaded image's module handle, as Windows declares it: its resources
// (the string tables) are PE resources.
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
#else
using HINSTANCE = const ResourceModule*;
#endif

// The resource set of the running program; a null name asks for the
// program itself. Defined by the resources library.
HINSTANCE GetModuleHandleW(const char16_t* pwszModuleName);

// Copies string nId of the table for the user's language into buf, cut to
// cchBufferMax - 1 units and NUL-terminated, and returns its length. Returns
// 0 and sets the last error when the module has no such string.
int LoadStringW(HINSTANCE hInstance, uint32_t nId, char16_t* buf, int cchBufferMax);

// The dialog texts of template nId in the user's language, or null with the
// last error set.
const DialogResource* LoadDialogResource(HINSTANCE hInstance, uint32_t nId);

// The resource path of picture nId, or null with the last error set
// (ERROR_RESOURCE_NAME_NOT_FOUND).
const char* FindImageResource(HINSTANCE hInstance, uint32_t nId);

// The running program's module handle, set at start-up.
extern HINSTANCE g_hInstance;
