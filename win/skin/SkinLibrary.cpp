// The skin engine library for Windows, built as hrttp.dll. A skin file is the magic ".SHE" with a
// NUL, followed by a style sheet; this engine takes from it the window's colours (the first rule
// for QWidget: background-color and color) and the list's background (the QTableView rule), and
// paints the calling thread's windows with them. Detaching restores the system's colours.
//
// Both functions must be called on the windows' thread and answer 1 on success, 0 otherwise.

#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kSkinMagic{".SHE\0", 5};
// The carried skins are a few KiB each; a file far beyond that is not one of ours.
constexpr DWORD kMaxSkinFileBytes = 1 << 20;
constexpr UINT_PTR kSubclassId = 0x5348;  // "SH"

struct Colours {
    COLORREF window;
    COLORREF text;
    COLORREF list;
};

struct AttachState {
    bool attached = false;
    Colours colours{};
    HBRUSH windowBrush = nullptr;
    std::vector<HWND> windows;  // the top-level windows painted
};

AttachState& State() {
    static AttachState state;
    return state;
}

// A regular file, not a link someone planted: the temporary directory is shared.
std::optional<std::string> ReadSkinFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::optional<std::string> contents;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(file, &info) &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
        info.nFileSizeHigh == 0 && info.nFileSizeLow <= kMaxSkinFileBytes) {
        std::string bytes(info.nFileSizeLow, '\0');
        DWORD read = 0;
        if (ReadFile(file, bytes.data(), info.nFileSizeLow, &read, nullptr) &&
            read == info.nFileSizeLow)
            contents = std::move(bytes);
    }
    CloseHandle(file);
    return contents;
}

// The "#rrggbb" after `property` inside the first rule for `selector`.
std::optional<COLORREF> RuleColour(std::string_view sheet, std::string_view selector,
                                   std::string_view property) {
    const std::size_t rule = sheet.find(std::string(selector) + " {");
    if (rule == std::string_view::npos) return std::nullopt;
    const std::string_view body = sheet.substr(rule, sheet.find('}', rule) - rule);
    // The property itself, not one whose name ends in it ("color" in "background-color").
    const std::string wanted = std::string(property) + ": #";
    std::size_t at = body.find(wanted);
    while (at != std::string_view::npos && body[at - 1] != ' ' && body[at - 1] != ';')
        at = body.find(wanted, at + 1);
    if (at == std::string_view::npos) return std::nullopt;
    const std::string_view hex = body.substr(at + property.size() + 3, 6);
    if (hex.size() != 6) return std::nullopt;
    unsigned value = 0;
    for (char digit : hex) {
        const int nibble = digit >= '0' && digit <= '9'   ? digit - '0'
                           : digit >= 'a' && digit <= 'f' ? digit - 'a' + 10
                                                          : -1;
        if (nibble < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(nibble);
    }
    return RGB((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
}

std::optional<Colours> ParseSkin(std::string_view sheet) {
    const auto window = RuleColour(sheet, "QWidget", "background-color");
    const auto text = RuleColour(sheet, "QWidget", "color");
    const auto list = RuleColour(sheet, "QTableView", "background");
    if (!window || !text || !list) return std::nullopt;
    return Colours{*window, *text, *list};
}

bool IsListView(HWND window) {
    wchar_t name[32] = {};
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return std::wstring_view(name) == WC_LISTVIEWW;
}

// Lists take the skin's colours, or the system's when `colours` is empty.
BOOL CALLBACK PaintList(HWND child, LPARAM colours) {
    if (!IsListView(child)) return TRUE;
    const auto* skin = reinterpret_cast<const Colours*>(colours);
    const COLORREF background = skin ? skin->list : GetSysColor(COLOR_WINDOW);
    ListView_SetBkColor(child, background);
    ListView_SetTextBkColor(child, background);
    ListView_SetTextColor(child, skin ? skin->text : GetSysColor(COLOR_WINDOWTEXT));
    return TRUE;
}

LRESULT CALLBACK SkinnedWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR) {
    const AttachState& state = State();
    switch (message) {
        case WM_ERASEBKGND: {
            RECT client{};
            GetClientRect(window, &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client, state.windowBrush);
            return 1;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, state.colours.text);
            SetBkColor(dc, state.colours.window);
            return reinterpret_cast<LRESULT>(state.windowBrush);
        }
        default:
            return DefSubclassProc(window, message, wParam, lParam);
    }
}

// The thread's own windows, those with a caption; not the helpers the system gives a thread.
BOOL CALLBACK CollectWindow(HWND window, LPARAM windows) {
    if ((GetWindowLongW(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION)
        reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

void Repaint(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

}  // namespace

extern "C" __declspec(dllexport) int WINAPI
    SkinH_AttachEx(const char* skinPath, const char* /*unused*/) {
    if (skinPath == nullptr) return 0;
    const std::optional<std::string> contents = ReadSkinFile(skinPath);
    if (!contents || !std::string_view(*contents).starts_with(kSkinMagic)) return 0;
    const std::optional<Colours> colours =
        ParseSkin(std::string_view(*contents).substr(kSkinMagic.size()));
    if (!colours) return 0;

    AttachState& state = State();
    state.colours = *colours;
    HBRUSH previous = state.windowBrush;
    state.windowBrush = CreateSolidBrush(colours->window);
    if (previous != nullptr) DeleteObject(previous);
    if (!state.attached) {
        state.windows.clear();
        EnumThreadWindows(GetCurrentThreadId(), CollectWindow,
                          reinterpret_cast<LPARAM>(&state.windows));
        for (HWND window : state.windows) SetWindowSubclass(window, SkinnedWindow, kSubclassId, 0);
    }
    state.attached = true;
    for (HWND window : state.windows) {
        EnumChildWindows(window, PaintList, reinterpret_cast<LPARAM>(&state.colours));
        Repaint(window);
    }
    return 1;
}

extern "C" __declspec(dllexport) int WINAPI SkinH_Detach() {
    AttachState& state = State();
    if (!state.attached) return 1;
    for (HWND window : state.windows) {
        if (!IsWindow(window)) continue;
        RemoveWindowSubclass(window, SkinnedWindow, kSubclassId);
        EnumChildWindows(window, PaintList, 0);
        Repaint(window);
    }
    state.windows.clear();
    DeleteObject(state.windowBrush);
    state.windowBrush = nullptr;
    state.attached = false;
    return 1;
}
