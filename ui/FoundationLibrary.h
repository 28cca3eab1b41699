// Pictures from the program's resources, decoded for drawing.
#pragma once

#include <QImage>

#include <cstdint>
#include <memory>

#include "kernel/platform/StatusCodes.h"
#include "kernel/platform/ResourceModule.h"

// Picture ids.
constexpr uint16_t IDB_SYSTEM_CERTIFICATE = 105;
constexpr uint16_t IDB_KEY_CERTIFICATE = 106;
constexpr uint16_t IDB_CERTIFICATE_FRAME = 107;

// Decodes picture nId of the module (null: the program's own). A missing
// picture gives the last-error status of a resource that is not there.
HRESULT LoadImageFromResource(HINSTANCE hModule, uint16_t nId, std::unique_ptr<QImage>* ppImage);

// Decodes image bytes. Null or empty data gives E_INVALIDARG. Bytes that do
// not decode still give an (empty) image and 0: the failure shows when the
// image is drawn.
HRESULT _LoadImageFromData(uint32_t dwImageDataSize, const uint8_t* pImageData, std::unique_ptr<QImage>* ppImage);
