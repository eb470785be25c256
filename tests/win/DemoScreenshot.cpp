// velmora-demo-screenshot KEYWORD FILE.png (Windows): starts velmora.exe against a sample site
// of its own, runs one search for KEYWORD (UTF-8) through the window's controls, answers the
// search's closing message and, once the window has painted, saves a picture of its client
// area from the screen. Exit code 0 when the picture was saved.

#include <windows.h>
// After windows.h, which they need.
#include <objidl.h>
// After objidl.h, which it needs.
#include <gdiplus.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/ThisProcess.h"
#include "platform/Utf8Path.h"
#include "tests/ScratchFolder.h"
#include "tests/win/RunningWindow.h"
#include "tools/SampleSite.h"

namespace {

using velmora::test::RunningWindow;

// The PNG encoder of GDI+.
constexpr CLSID kPngEncoder = {
    0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

// EnumChildWindows' callback, in Windows' calling convention (on 32-bit Windows not the one a
// lambda converts to).
BOOL CALLBACK NoteUpdateRegion(HWND child, LPARAM data) {
    if (!GetUpdateRect(child, nullptr, FALSE)) return TRUE;
    *reinterpret_cast<bool*>(data) = true;
    return FALSE;
}

bool HasUpdateRegion(HWND window) {
    if (GetUpdateRect(window, nullptr, FALSE)) return true;
    bool pending = false;
    EnumChildWindows(window, NoteUpdateRegion, reinterpret_cast<LPARAM>(&pending));
    return pending;
}

// The window's client area as it is on the screen (without a window manager nobody draws the
// frame), saved as PNG.
bool SavePicture(HWND window, const std::filesystem::path& file) {
    RECT rect{};
    GetClientRect(window, &rect);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, previous);

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    bool saved = false;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
        {
            Gdiplus::Bitmap picture(bitmap, nullptr);
            saved = picture.Save(file.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
        }
        Gdiplus::GdiplusShutdown(token);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments = velmora::CommandLineArguments(argc, argv);
    if (arguments.size() != 3) {
        std::fputs("usage: velmora-demo-screenshot KEYWORD FILE.png\n", stderr);
        return 1;
    }
    velmora::site::SiteOptions options;
    options.pages = 3;
    options.linksPerPage = 9;
    options.latencyMs = 40;
    velmora::site::SampleSite site(options);
    if (!site.Start()) {
        std::fprintf(stderr, "velmora-demo-screenshot: %s\n", site.Error().c_str());
        return 2;
    }
    // A journal of its own: the user's must neither change the picture nor gain the demo search.
    const velmora::test::ScratchFolder home("velmora-screenshot");
    RunningWindow window(VELMORA_PATH, site.BaseUrl(), home.path());
    if (!window.Opened()) {
        std::fputs("velmora-demo-screenshot: the window did not open\n", stderr);
        return 3;
    }
    window.TypeKeyword(arguments[1].c_str());
    window.Click(velmora::Control::按钮_开始);
    if (window.AnswerMessageBox().empty() ||
        !velmora::test::WaitUntil([&] { return !HasUpdateRegion(window.Handle()); })) {
        std::fputs("velmora-demo-screenshot: the search did not finish in time\n", stderr);
        return 4;
    }
    const bool saved = SavePicture(window.Handle(), velmora::PathFromUtf8(arguments[2]));
    window.Close();
    return saved ? 0 : 5;
}
