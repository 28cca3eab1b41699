// Pixel values of the Windows dialog at the DPI of its window. The dialog's
// sizes are given for 96 DPI (100 % scaling), where they stay exactly as
// they are; at any other DPI each is scaled in proportion, so the dialog of
// a DPI-aware process is drawn sharp and at the size the user chose.
#pragma once

#include "kernel/platform/windows/WindowsApi.h"

class DpiScale {
public:
    static constexpr UINT kBaseDpi = 96;

    explicit DpiScale(UINT nDpi = kBaseDpi) : m_nDpi(nDpi != 0 ? nDpi : kBaseDpi) {}
    // The DPI Windows gives the window (its monitor's, for a per-monitor
    // aware process); the system's where Windows cannot say per window.
    static DpiScale ForWindow(HWND hWnd);

    UINT Dpi() const { return m_nDpi; }
    // A length at 96 DPI, at this DPI.
    int operator()(int nPixels) const { return MulDiv(nPixels, static_cast<int>(m_nDpi), kBaseDpi); }
    // A length at this DPI, at 96 DPI.
    int Unscaled(int nPixels) const { return MulDiv(nPixels, kBaseDpi, static_cast<int>(m_nDpi)); }
    // A system metric (GetSystemMetrics' index) at this DPI.
    int SystemMetric(int nIndex) const;

private:
    UINT m_nDpi;
};
