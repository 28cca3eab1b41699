#include "FoundationLibrary.h"

#include <QFile>

#include <new>

#include "trace/TraceHelper.h"
#include "kernel/platform/LastError.h"

#define TRACE_WMODULE u"FoundationLibrary"

// The pictures are compiled into a static library, whose resource
// registration the linker would otherwise drop.
static void EnsureImageResources()
{
    static const bool s_bRegistered = [] {
        Q_INIT_RESOURCE(images);
        return true;
    }();
    (void)s_bRegistered;
}

HRESULT LoadImageFromResource(HINSTANCE hModule, uint16_t nId, std::unique_ptr<QImage>* ppImage)
{
    TRACE_SCOPE();
    static constexpr char16_t kFunc[] = u"LoadImageFromResource";
    EnsureImageResources();
    if (hModule == nullptr)
        hModule = GetModuleHandleW(nullptr);
    const char* pszPath = FindImageResource(hModule, nId);
    if (pszPath == nullptr) {
        const HRESULT hr = AgentStatusFromError(GetLastError());
        TRACE_WSTEP_FAILED(kFunc, u"FindResource", hr, u"hResource == NULL");
        return hr;
    }
    TRACE_WSTEP_OK(kFunc, u"FindResource");
    QFile resource(QString::fromUtf8(pszPath));
    if (!resource.open(QIODevice::ReadOnly) || resource.size() == 0) {
        const HRESULT hr = AgentStatusFromError(ERROR_RESOURCE_NAME_NOT_FOUND);
        TRACE_WSTEP_FAILED(kFunc, u"SizeofResource", hr, u"dwResSize == 0");
        return hr;
    }
    TRACE_WSTEP_OK(kFunc, u"SizeofResource");
    const QByteArray bytes = resource.readAll();
    if (bytes.isEmpty()) {
        const HRESULT hr = AgentStatusFromError(ERROR_RESOURCE_NAME_NOT_FOUND);
        TRACE_WSTEP_FAILED(kFunc, u"LoadResource", hr, u"lpResData == NULL");
        return hr;
    }
    TRACE_WSTEP_OK(kFunc, u"LoadResource");
    const HRESULT hr = _LoadImageFromData(static_cast<uint32_t>(bytes.size()),
                                          reinterpret_cast<const uint8_t*>(bytes.constData()), ppImage);
    if (FAILED(hr)) {
        TRACE_WSTEP_FAILED(kFunc, u"_LoadImageFromData", hr, u"FAILED(hResult)");
        return hr;
    }
    TRACE_WSTEP_OK(kFunc, u"_LoadImageFromData");
    return KVRA_OK;
}

HRESULT _LoadImageFromData(uint32_t dwImageDataSize, const uint8_t* pImageData, std::unique_ptr<QImage>* ppImage)
{
    TRACE_SCOPE();
    static constexpr char16_t kFunc[] = u"_LoadImageFromData";
    if (pImageData == nullptr || dwImageDataSize == 0 || ppImage == nullptr) {
        TRACE_WSTEP_FAILED(kFunc, u"Check parameter", E_INVALIDARG, u"pImageData == NULL || dwImageDataSize == 0");
        return E_INVALIDARG;
    }
    TRACE_WSTEP_OK(kFunc, u"Check parameter");
    // The image is decoded here, so it does not depend on the bytes later.
    ppImage->reset(new (std::nothrow)
                       QImage(QImage::fromData(pImageData, static_cast<int>(dwImageDataSize))));
    if (!*ppImage) {
        TRACE_WSTEP_FAILED(kFunc, u"FromStream", E_POINTER, u"*ppImage == NULL");
        return E_POINTER;
    }
    TRACE_WSTEP_OK(kFunc, u"FromStream");
    return KVRA_OK;
}
