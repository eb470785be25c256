#pragma once
// velmora.exe in a process of its own, its window found and worked through window messages, as
// another program on the desktop would: for the window's tests and the README's picture.

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>

#include "platform/ChildProcess.h"
#include "window/MainWindowForm.h"

namespace velmora::test {

// Wine starts a window's process in about a second; a loaded machine takes many times that.
inline constexpr auto kPatience = std::chrono::seconds(120);

// Polls `reached` until it holds or the patience runs out.
bool WaitUntil(const std::function<bool()>& reached);
// A message sent with a time limit; its answer, 0 when none came.
LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
std::string WindowText(HWND window);

// velmora.exe (`program`) running with its settings and journal in `home` (%APPDATA%\velmora
// and %LOCALAPPDATA%\velmora there), searching `site`.
class RunningWindow {
public:
    RunningWindow(const std::filesystem::path& program, const std::string& site,
                  const std::filesystem::path& home);

    // Whether its window came up; it may be hidden behind a message box shown first.
    bool Opened() const { return window_ != nullptr; }
    HWND Handle() const { return window_; }
    HWND ControlHandle(Control control) const;
    int RowCount() const;
    // A cell as the list view shows it.
    std::string CellText(int row, int column) const;
    std::string StatusPart(int part) const;
    // Sends `message` to `window` with lParam at a copy of `data` in the program, and copies
    // back what the program left there.
    void SendWithData(HWND window, UINT message, WPARAM wParam, void* data, std::size_t size) const;
    // Whether the program has loaded the library `file`.
    bool HasLoaded(const std::filesystem::path& file) const;

    void Click(Control button) const;
    void TypeKeyword(const char* keyword) const;
    // Activates the window, as a click on it does (Wine's null driver activates no window when a
    // message box goes), and waits until it is active.
    void BringToFront() const;
    // Real input, as the user gives it, to the window brought to the front: `keys` pressed in
    // their order and let go in the reverse one (VK_SHIFT, VK_TAB is Shift+Tab).
    void PressKeys(std::initializer_list<WORD> keys) const;
    // A right click at `point` of the screen.
    void RightClick(POINT point) const;
    // The program's window that has the keyboard focus.
    HWND Focused() const;
    // Waits for the program's popup menu; nullptr when none came.
    HWND WaitForMenu() const;
    // Waits for a message box of the program and answers it with `answer`; its text, or
    // nothing when none came.
    std::string AnswerMessageBox(int answer = IDOK) const;
    // Waits for the save dialog, types `name` into it and saves; false when none came.
    bool AnswerSaveDialog(const std::string& name) const;
    // Asks the window to close, as its close box does, without waiting.
    void AskToClose() const;
    ChildExit Wait();
    ChildExit Close();
    void Kill();

private:
    ChildProcess child_;
    HWND window_ = nullptr;
    DWORD process_ = 0;
};

}  // namespace velmora::test
