// Pictures from a module's "PNG" resources, decoded with GDI+ for drawing.
// GDI+ must be running while an image is made, drawn and released.
#pragma once

#include <cstdint>
#include <memory>

#include "kernel/platform/windows/WindowsApi.h"
#include "kernel/platform/StatusCodes.h"

// Picture ids.
constexpr uint16_t IDB_SYSTEM_CERTIFICATE = 105;
constexpr uint16_t IDB_KEY_CERTIFICATE = 106;
constexpr uint16_t IDB_CERTIFICATE_FRAME = 107;

// Decodes picture nId of the module (null: the program's own). A missing
// picture gives the last-error status of a resource that is not there.
HRESULT LoadImageFromResource(HINSTANCE hModule, uint16_t nId, std::unique_ptr<Gdiplus::Image>* ppImage);

// Makes an image of image bytes. Null or empty data gives E_INVALIDARG.
// Bytes that do not decode still give an image object and 0: the failure
// shows when the image is drawn. The image keeps its own copy of the bytes.
HRESULT _LoadImageFromData(uint32_t dwImageDataSize, const uint8_t* pImageData,
                           std::unique_ptr<Gdiplus::Image>* ppImage);
