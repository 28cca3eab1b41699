#include "FoundationLibrary.h"

#include <cstring>

#include "trace/TraceHelper.h"
#include "ui/LastErrorStatus.h"

#define TRACE_WMODULE u"FoundationLibrary"

namespace {

// Our own reference on a COM object, released when it goes.
struct ComRelease {
    void operator()(IUnknown* p) const { p->Release(); }
};

} // namespace

HRESULT LoadImageFromResource(HINSTANCE hModule, uint16_t nId, std::unique_ptr<Gdiplus::Image>* ppImage)
{
    TraceHelper traceHelper("LoadImageFromResource");
    static constexpr char16_t kFunc[] = u"LoadImageFromResource";
    HRSRC hResource = FindResourceW(hModule, MAKEINTRESOURCEW(nId), L"PNG");
    if (hResource == nullptr) {
        const HRESULT hResult = LastErrorStatus();
        TRACE_WSTEP_FAILED(kFunc, u"FindResource", hResult, u"hResource == NULL");
        return hResult;
    }
    TRACE_WSTEP_OK(kFunc, u"FindResource");
    const DWORD dwResSize = SizeofResource(hModule, hResource);
    if (dwResSize == 0) {
        const HRESULT hResult = LastErrorStatus();
        TRACE_WSTEP_FAILED(kFunc, u"SizeofResource", hResult, u"dwResSize == 0");
        return hResult;
    }
    TRACE_WSTEP_OK(kFunc, u"SizeofResource");
    HGLOBAL hResData = LoadResource(hModule, hResource);
    const void* lpResData = hResData != nullptr ? LockResource(hResData) : nullptr;
    if (lpResData == nullptr) {
        const HRESULT hResult = LastErrorStatus();
        TRACE_WSTEP_FAILED(kFunc, u"LoadResource", hResult, u"lpResData == NULL");
        return hResult;
    }
    TRACE_WSTEP_OK(kFunc, u"LoadResource");
    const HRESULT hResult = _LoadImageFromData(dwResSize, static_cast<const uint8_t*>(lpResData), ppImage);
    FreeResource(hResData);
    if (FAILED(hResult)) {
        TRACE_WSTEP_FAILED(kFunc, u"_LoadImageFromData", hResult, u"FAILED(hResult)");
        return hResult;
    }
    TRACE_WSTEP_OK(kFunc, u"_LoadImageFromData");
    return KVRA_OK;
}

HRESULT _LoadImageFromData(uint32_t dwImageDataSize, const uint8_t* pImageData,
                           std::unique_ptr<Gdiplus::Image>* ppImage)
{
    TraceHelper traceHelper("_LoadImageFromData");
    static constexpr char16_t kFunc[] = u"_LoadImageFromData";
    if (pImageData == nullptr || dwImageDataSize == 0 || ppImage == nullptr) {
        TRACE_WSTEP_FAILED(kFunc, u"Check parameter", E_INVALIDARG, u"pImageData == NULL || dwImageDataSize == 0");
        return E_INVALIDARG;
    }
    TRACE_WSTEP_OK(kFunc, u"Check parameter");
    // A movable block, as a stream over global memory needs.
    HGLOBAL hMemoryObject = GlobalAlloc(GMEM_MOVEABLE, dwImageDataSize);
    if (hMemoryObject == nullptr) {
        const HRESULT hResult = LastErrorStatus();
        TRACE_WSTEP_FAILED(kFunc, u"GlobalAlloc", hResult, u"hMemoryObject == NULL");
        return hResult;
    }
    TRACE_WSTEP_OK(kFunc, u"GlobalAlloc");
    void* pMemoryBlock = GlobalLock(hMemoryObject);
    if (pMemoryBlock == nullptr) {
        const HRESULT hResult = LastErrorStatus();
        GlobalFree(hMemoryObject);
        TRACE_WSTEP_FAILED(kFunc, u"GlobalLock", hResult, u"pMemoryBlock == NULL");
        return hResult;
    }
    TRACE_WSTEP_OK(kFunc, u"GlobalLock");
    std::memcpy(pMemoryBlock, pImageData, dwImageDataSize);
    GlobalUnlock(hMemoryObject);

    // GDI+ decodes from the stream when the image is first drawn, long
    // after this call, so the stream owns the block: it goes when the image
    // lets go of the stream.
    IStream* pRawStream = nullptr;
    HRESULT hResult = CreateStreamOnHGlobal(hMemoryObject, TRUE, &pRawStream);
    if (FAILED(hResult)) {
        GlobalFree(hMemoryObject);
        TRACE_WSTEP_FAILED(kFunc, u"CreateStreamOnHGlobal", hResult, u"FAILED(hResult)");
        return hResult;
    }
    TRACE_WSTEP_OK(kFunc, u"CreateStreamOnHGlobal");
    const std::unique_ptr<IStream, ComRelease> pStream(pRawStream);
    ppImage->reset(Gdiplus::Image::FromStream(pStream.get()));
    if (*ppImage == nullptr) {
        TRACE_WSTEP_FAILED(kFunc, u"FromStream", E_POINTER, u"*ppImage == NULL");
        return E_POINTER;
    }
    TRACE_WSTEP_OK(kFunc, u"FromStream");
    return KVRA_OK;
}
