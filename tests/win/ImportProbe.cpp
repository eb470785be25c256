// A program that needs one thing a shipped program must not, chosen by VELMORA_PROBE_*, for the
// import check's own test (tests/win/CMakeLists.txt). Never run.

#include <windows.h>
#include <zlib.h>

// Declared by <windows.h> for Windows 10 only.
extern "C" UINT WINAPI GetDpiForWindow(HWND window);

int main() {
#if defined(VELMORA_PROBE_ZLIB)
    return zlibVersion()[0];
#elif defined(VELMORA_PROBE_NEWER)
    return static_cast<int>(GetDpiForWindow(nullptr));
#else
    return 0;
#endif
}
