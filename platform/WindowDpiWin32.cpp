#include <windows.h>

#include "platform/WindowDpi.h"

namespace velmora {
namespace {

// user32's per-monitor functions of Windows 10 1607; each nullptr where Windows lacks it. On
// Windows 7 to 8.1 the program is aware of the system's resolution only (its manifest), which
// is then every window's, so the plain functions give the same answers.
struct PerMonitorFunctions {
    UINT(WINAPI* dpiForWindow)(HWND) = nullptr;
    BOOL(WINAPI* systemParametersInfoForDpi)(UINT, UINT, PVOID, UINT, UINT) = nullptr;
    BOOL(WINAPI* adjustWindowRectExForDpi)(LPRECT, DWORD, BOOL, DWORD, UINT) = nullptr;
};

template <typename Function>
void Find(HMODULE library, const char* name, Function& function) {
    // Through the generic function pointer type, which any function pointer converts to.
    function =
        reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

const PerMonitorFunctions& PerMonitor() {
    static const PerMonitorFunctions functions = [] {
        PerMonitorFunctions found;
        HMODULE user32 = GetModuleHandleW(L"user32.dll");
        Find(user32, "GetDpiForWindow", found.dpiForWindow);
        Find(user32, "SystemParametersInfoForDpi", found.systemParametersInfoForDpi);
        Find(user32, "AdjustWindowRectExForDpi", found.adjustWindowRectExForDpi);
        return found;
    }();
    return functions;
}

}  // namespace

unsigned WindowDpi(HWND__* window) {
    if (PerMonitor().dpiForWindow != nullptr) return PerMonitor().dpiForWindow(window);
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<unsigned>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

bool NonClientMetricsAtDpi(tagNONCLIENTMETRICSW& metrics, unsigned dpi) {
    if (PerMonitor().systemParametersInfoForDpi != nullptr)
        return PerMonitor().systemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, metrics.cbSize,
                                                       &metrics, 0, dpi);
    return SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0);
}

bool OuterRectAtDpi(tagRECT& rect, unsigned long style, unsigned long extendedStyle, unsigned dpi) {
    if (PerMonitor().adjustWindowRectExForDpi != nullptr)
        return PerMonitor().adjustWindowRectExForDpi(&rect, style, FALSE, extendedStyle, dpi);
    return AdjustWindowRectEx(&rect, style, FALSE, extendedStyle);
}

}  // namespace velmora
