#include "DpiScale.h"

namespace {

// Windows 10 1607 and later have the per-window functions; looked up rather
// than imported, so the dialog still loads where they are missing.
template <typename Function>
Function User32Function(const char* pszName)
{
    HMODULE hUser32 = GetModuleHandleW(L"user32.dll");
    return hUser32 != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(hUser32, pszName)))
                              : nullptr;
}

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);

} // namespace

DpiScale DpiScale::ForWindow(HWND hWnd)
{
    static const auto pGetDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (pGetDpiForWindow != nullptr && hWnd != nullptr) {
        if (const UINT nDpi = pGetDpiForWindow(hWnd); nDpi != 0)
            return DpiScale(nDpi);
    }
    HDC hScreen = GetDC(nullptr);
    const int nDpi = hScreen != nullptr ? GetDeviceCaps(hScreen, LOGPIXELSY) : 0;
    if (hScreen != nullptr)
        ReleaseDC(nullptr, hScreen);
    return DpiScale(nDpi > 0 ? static_cast<UINT>(nDpi) : kBaseDpi);
}

int DpiScale::SystemMetric(int nIndex) const
{
    static const auto pGetSystemMetricsForDpi = User32Function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
    return pGetSystemMetricsForDpi != nullptr ? pGetSystemMetricsForDpi(nIndex, m_nDpi) : GetSystemMetrics(nIndex);
}
