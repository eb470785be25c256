#include "tests/win/RunningWindow.h"

#include <commctrl.h>
#include <psapi.h>

#include <thread>
#include <vector>

#include "journal/JournalFiles.h"
#include "platform/Utf8Path.h"
#include "win/MainWindow.h"
#include "win/WideText.h"

namespace velmora::test {
namespace {

// How often a wait looks at the window again.
constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr DWORD kSendTimeoutMs = 30000;
// A message box's text control, as the system builds the box.
constexpr int kMessageBoxTextId = 0xFFFF;
// The save dialog's file name: an extended combo box (cmb13) with an edit box.
constexpr int kFileNameComboId = 0x47C;

struct WindowSearch {
    DWORD process;
    const wchar_t* className;
    std::vector<HWND> found;
};

// EnumWindows' callback, in Windows' calling convention (on 32-bit Windows not the one a
// lambda converts to).
BOOL CALLBACK CollectWindowOf(HWND window, LPARAM data) {
    auto& wanted = *reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[64] = {};
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    if (owner == wanted.process && std::wstring_view(name) == wanted.className)
        wanted.found.push_back(window);
    return TRUE;
}

// The top-level windows of class `className` that belong to `process`.
std::vector<HWND> WindowsOf(DWORD process, const wchar_t* className) {
    WindowSearch search{process, className, {}};
    EnumWindows(CollectWindowOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Memory in another process, for the messages whose answers the system does not carry between
// processes.
class RemoteMemory {
public:
    RemoteMemory(DWORD process, std::size_t bytes)
        : process_(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                               process)),
          address_(VirtualAllocEx(process_, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE)) {}
    ~RemoteMemory() {
        VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        CloseHandle(process_);
    }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;

    void* Address() const { return address_; }
    void Write(const void* bytes, std::size_t size) const {
        WriteProcessMemory(process_, address_, bytes, size, nullptr);
    }
    void Read(void* bytes, std::size_t size) const {
        ReadProcessMemory(process_, address_, bytes, size, nullptr);
    }

private:
    HANDLE process_;
    void* address_;
};

}  // namespace

bool WaitUntil(const std::function<bool()>& reached) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!reached()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

std::string WindowText(HWND window) {
    wchar_t text[512] = {};
    Send(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
    return Utf8(text);
}

RunningWindow::RunningWindow(const std::filesystem::path& program, const std::string& site,
                             const std::filesystem::path& home) {
    ChildOptions options;
    options.environment = {"VELMORA_SITE=" + site, std::string(kJournalVariable),
                           "APPDATA=" + Utf8FromPath(home), "LOCALAPPDATA=" + Utf8FromPath(home)};
    if (!child_.Start(program, {}, options)) return;
    process_ = static_cast<DWORD>(child_.Id());
    // A message box before the window shows (the fatal report) ends the wait too.
    WaitUntil([&] {
        const std::vector<HWND> windows = WindowsOf(process_, kMainWindowClass);
        window_ = windows.empty() ? nullptr : windows.front();
        return (window_ != nullptr && IsWindowVisible(window_)) ||
               !WindowsOf(process_, L"#32770").empty();
    });
}

HWND RunningWindow::ControlHandle(Control control) const {
    return GetDlgItem(window_, kFirstControlId + control.index);
}

int RunningWindow::RowCount() const {
    return static_cast<int>(Send(ControlHandle(Control::超级列表框1), LVM_GETITEMCOUNT));
}

std::string RunningWindow::CellText(int row, int column) const {
    struct Request {
        LVITEMW item;
        wchar_t text[512];
    } request{};
    RemoteMemory remote(process_, sizeof request);
    request.item.iSubItem = column;
    request.item.cchTextMax = static_cast<int>(std::size(request.text));
    request.item.pszText = static_cast<Request*>(remote.Address())->text;
    remote.Write(&request, sizeof request);
    Send(ControlHandle(Control::超级列表框1), LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
         reinterpret_cast<LPARAM>(remote.Address()));
    remote.Read(&request, sizeof request);
    return Utf8(request.text);
}

std::string RunningWindow::StatusPart(int part) const {
    wchar_t text[512] = {};
    RemoteMemory remote(process_, sizeof text);
    remote.Write(text, sizeof text);
    Send(ControlHandle(Control::状态条1), SB_GETTEXTW, static_cast<WPARAM>(part),
         reinterpret_cast<LPARAM>(remote.Address()));
    remote.Read(text, sizeof text);
    return Utf8(text);
}

void RunningWindow::SendWithData(HWND window, UINT message, WPARAM wParam, void* data,
                                 std::size_t size) const {
    RemoteMemory remote(process_, size);
    remote.Write(data, size);
    Send(window, message, wParam, reinterpret_cast<LPARAM>(remote.Address()));
    remote.Read(data, size);
}

bool RunningWindow::HasLoaded(const std::filesystem::path& file) const {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_);
    HMODULE modules[512] = {};
    DWORD bytes = 0;
    bool loaded = false;
    if (K32EnumProcessModules(process, modules, sizeof modules, &bytes)) {
        for (DWORD i = 0; i < bytes / sizeof(HMODULE) && !loaded; ++i) {
            wchar_t name[MAX_PATH] = {};
            if (K32GetModuleFileNameExW(process, modules[i], name, MAX_PATH) == 0) continue;
            std::error_code error;
            loaded = std::filesystem::equivalent(name, file, error);
        }
    }
    CloseHandle(process);
    return loaded;
}

void RunningWindow::Click(Control button) const {
    Send(window_, WM_COMMAND, MAKEWPARAM(kFirstControlId + button.index, BN_CLICKED),
         reinterpret_cast<LPARAM>(ControlHandle(button)));
}

void RunningWindow::TypeKeyword(const char* keyword) const {
    Send(ControlHandle(Control::编辑框_搜索内容), WM_SETTEXT, 0,
         reinterpret_cast<LPARAM>(Wide(keyword).c_str()));
}

void RunningWindow::BringToFront() const {
    if (GetForegroundWindow() == window_) return;
    SetForegroundWindow(window_);
    // Input goes where the focus is once the window is active.
    WaitUntil([&] { return GetForegroundWindow() == window_ && Focused() != nullptr; });
}

void RunningWindow::PressKeys(std::initializer_list<WORD> keys) const {
    BringToFront();
    std::vector<INPUT> inputs(2 * keys.size(), INPUT{INPUT_KEYBOARD, {}});
    auto input = inputs.begin();
    for (const WORD key : keys) (input++)->ki.wVk = key;
    for (auto key = std::rbegin(keys); key != std::rend(keys); ++key)
        (input++)->ki = {*key, 0, KEYEVENTF_KEYUP, 0, 0};
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void RunningWindow::RightClick(POINT point) const {
    BringToFront();
    SetCursorPos(point.x, point.y);
    INPUT inputs[2] = {{INPUT_MOUSE, {}}, {INPUT_MOUSE, {}}};
    inputs[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
    SendInput(2, inputs, sizeof(INPUT));
}

HWND RunningWindow::Focused() const {
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(window_, nullptr), &thread);
    return thread.hwndFocus;
}

HWND RunningWindow::WaitForMenu() const {
    HWND menu = nullptr;
    return WaitUntil([&] {
        const std::vector<HWND> menus = WindowsOf(process_, L"#32768");
        menu = menus.empty() ? nullptr : menus.front();
        return menu != nullptr && IsWindowVisible(menu);
    })
               ? menu
               : nullptr;
}

std::string RunningWindow::AnswerMessageBox(int answer) const {
    HWND box = nullptr;
    std::string text;
    // The box is found as soon as it exists, before its text is in place.
    if (!WaitUntil([&] {
            const std::vector<HWND> boxes = WindowsOf(process_, L"#32770");
            box = boxes.empty() ? nullptr : boxes.front();
            text = box == nullptr ? "" : WindowText(GetDlgItem(box, kMessageBoxTextId));
            return !text.empty() && IsWindowVisible(box);
        }))
        return {};
    PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(answer), 0);
    WaitUntil([&] { return !IsWindow(box); });
    return text;
}

bool RunningWindow::AnswerSaveDialog(const std::string& name) const {
    HWND dialog = nullptr;
    HWND field = nullptr;
    if (!WaitUntil([&] {
            for (HWND candidate : WindowsOf(process_, L"#32770")) {
                HWND combo = GetDlgItem(candidate, kFileNameComboId);
                field = combo == nullptr ? nullptr
                                         : reinterpret_cast<HWND>(Send(combo, CBEM_GETEDITCONTROL));
                dialog = candidate;
                if (field != nullptr && IsWindowVisible(candidate)) return true;
            }
            return false;
        }))
        return false;
    Send(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(name).c_str()));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    return WaitUntil([&] { return !IsWindow(dialog); });
}

void RunningWindow::AskToClose() const {
    PostMessageW(window_, WM_CLOSE, 0, 0);
}

ChildExit RunningWindow::Wait() {
    return child_.Wait();
}

ChildExit RunningWindow::Close() {
    AskToClose();
    return Wait();
}

void RunningWindow::Kill() {
    child_.Kill();
}

}  // namespace velmora::test
