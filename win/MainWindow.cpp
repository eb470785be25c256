#include "win/MainWindow.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "export/Export.h"
#include "platform/ThisProcess.h"
#include "platform/UserDirectories.h"
#include "platform/Utf8Path.h"
#include "platform/WindowDpi.h"
#include "win/SkinEngine.h"
#include "win/WideText.h"

namespace velmora {
namespace {

// The port has writes queued; the window drains them when it gets this.
constexpr UINT kPortPostedMessage = WM_APP + 1;
// The result table has changed; the window takes the changes when it gets this.
constexpr UINT kRowsChangedMessage = WM_APP + 2;
constexpr UINT_PTR kElapsedTimerId = 1;
// The export's progress box: its size at the designed resolution, and its children's ids.
constexpr Size kProgressBoxSize{320, 110};
constexpr int kProgressLabelId = 1;
constexpr int kProgressBarId = 2;
// Room for the save dialog's answer: the longest path the wide functions take.
constexpr DWORD kMaxSavePath = 32768;

// The user's desktop, ending in a separator, in the system code page; the program's folder
// when there is none.
Text DesktopFolder() {
    std::string desktop = UserDesktopDirectory();
    if (desktop.empty()) desktop = Utf8FromPath(ThisProgram().parent_path());
    if (!desktop.ends_with('\\')) desktop += '\\';
    return Utf8ToSystem(desktop);
}

DWORD StyleOf(ControlKind kind) {
    const DWORD tabStop = TakesFocus(kind) ? WS_TABSTOP : 0;
    switch (kind) {
        case ControlKind::kLabel:
            // One line, as the form lays its labels out, whatever the font's width.
            return SS_LEFTNOWORDWRAP | SS_NOPREFIX;
        case ControlKind::kEditBox:
            return tabStop | ES_AUTOHSCROLL;
        case ControlKind::kButton:
            return tabStop | BS_PUSHBUTTON;
        case ControlKind::kList:
            return tabStop | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS;
        case ControlKind::kStatusBar:
            return CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER;
        case ControlKind::kNoticeLine:
            return SS_LEFT | SS_NOPREFIX | SS_SUNKEN | SS_ENDELLIPSIS;
    }
    return 0;
}

const wchar_t* ClassOf(ControlKind kind) {
    switch (kind) {
        case ControlKind::kEditBox:
            return WC_EDITW;
        case ControlKind::kButton:
            return WC_BUTTONW;
        case ControlKind::kList:
            return WC_LISTVIEWW;
        case ControlKind::kStatusBar:
            return STATUSCLASSNAMEW;
        case ControlKind::kLabel:
        case ControlKind::kNoticeLine:
            return WC_STATICW;
    }
    return WC_STATICW;
}

void AddMenuEntries(HMENU menu, std::span<const MenuEntry> entries,
                    std::span<const MenuCommand> hidden) {
    for (const MenuEntry& entry : entries) {
        const std::wstring text = Wide(entry.text);
        if (!entry.submenu.empty()) {
            HMENU submenu = CreatePopupMenu();
            AddMenuEntries(submenu, entry.submenu, hidden);
            AppendMenuW(menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(submenu),
                        text.c_str());
        } else if (std::find(hidden.begin(), hidden.end(), entry.command) == hidden.end()) {
            const int id = kFirstMenuId + entry.command;
            AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(id), text.c_str());
        }
    }
}

// With high contrast on, the system's colours stay: no skin paints over them.
bool HighContrastOn() {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void RegisterMainWindowClass(WNDPROC procedure) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hIcon = LoadIconW(windowClass.hInstance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kMainWindowClass;
    RegisterClassExW(&windowClass);
}

}  // namespace

MainWindow::MainWindow(WindowPort& port, SearchSession& session, SkinEngine& skin)
    : port_(port), skin_(skin), behaviour_(*this, session, DesktopFolder()) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES |
                                                       ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterMainWindowClass(&MainWindow::Procedure);
    const std::wstring caption = Wide(kMainWindowCaption);
    // A control parent: the dialog keys move the focus through its controls.
    CreateWindowExW(WS_EX_CONTROLPARENT, kMainWindowClass, caption.c_str(),
                    WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, kWindowPosition.x, kWindowPosition.y,
                    kOuterSize.width, kOuterSize.height, nullptr, nullptr,
                    GetModuleHandleW(nullptr), this);
    if (window_ == nullptr) throw std::runtime_error("CreateWindowExW");
    // The monitor's resolution is known only once the window is on it.
    dpi_ = WindowDpi(window_);
    const RECT outer = ScaledOuterRect();
    SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    BuildControls();
    port_.Rows().SetChangeListener(
        [window = window_] { PostMessageW(window, kRowsChangedMessage, 0, 0); });
    port_.AttachWindow(this,
                       [window = window_] { PostMessageW(window, kPortPostedMessage, 0, 0); });
    ShowRowsChanges();
    SetFocus(ControlWindow(Control::编辑框_搜索内容));
    created_ = true;
    behaviour_.OnMainWindowCreated(DesignedClient());
}

MainWindow::~MainWindow() {
    port_.Rows().SetChangeListener({});
    port_.AttachWindow(nullptr, {});
    EndExportProgress();
    if (window_ != nullptr) DestroyWindow(window_);
    if (font_ != nullptr) DeleteObject(font_);
}

void MainWindow::BuildControls() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    for (const ControlForm& form : kControls) {
        const std::wstring text = Wide(form.text);
        const DWORD exStyle = form.kind == ControlKind::kEditBox || form.kind == ControlKind::kList
                                  ? WS_EX_CLIENTEDGE
                                  : 0;
        const DWORD visible = form.kind == ControlKind::kNoticeLine ? 0 : WS_VISIBLE;
        controls_[form.control.index] = CreateWindowExW(
            exStyle, ClassOf(form.kind), text.c_str(), WS_CHILD | visible | StyleOf(form.kind), 0,
            0, 0, 0, window_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + form.control.index)),
            instance, nullptr);
    }
    // Screen readers name a list by its text, which it does not show, and the keyword box by
    // the label created just before it.
    HWND list = ControlWindow(Control::超级列表框1);
    SetWindowTextW(list, Wide(AccessibleName(Control::超级列表框1)).c_str());
    ListView_SetExtendedListViewStyle(
        list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER | LVS_EX_LABELTIP);
    for (int column = 0; column < kResultColumnCount; ++column) {
        std::wstring title = Wide(kListColumns[column].title);
        LVCOLUMNW item{};
        item.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
        item.fmt = kListColumns[column].alignment == ColumnAlignment::kCentre ? LVCFMT_CENTER
                                                                              : LVCFMT_LEFT;
        item.cx = Scaled(kListColumns[column].width);
        item.pszText = title.data();
        item.iSubItem = column;
        ListView_InsertColumn(list, column, &item);
    }
    ApplyFont();
    PlaceFormControls();
}

void MainWindow::PlaceFormControls() {
    for (const ControlForm& form : kControls) {
        SetWindowPos(controls_[form.control.index], nullptr, Scaled(form.rect.left),
                     Scaled(form.rect.top), Scaled(form.rect.width), Scaled(form.rect.height),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void MainWindow::ApplyFont() {
    // The system's own message font, which on a Chinese system is one that has the glyphs.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    NonClientMetricsAtDpi(metrics, dpi_);
    HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    for (HWND control : controls_) SendMessageW(control, WM_SETFONT, WPARAM(font), TRUE);
    // The progress box's label drops the old font before it goes.
    if (exportProgress_ != nullptr)
        SendDlgItemMessageW(exportProgress_, kProgressLabelId, WM_SETFONT, WPARAM(font), TRUE);
    if (font_ != nullptr) DeleteObject(font_);
    font_ = font;
}

void MainWindow::RescaleColumns(UINT oldDpi) {
    // Widths the user gave keep their share; the widened column is placed again with the rest.
    HWND list = ControlWindow(Control::超级列表框1);
    for (int column = 0; column < kResultColumnCount; ++column) {
        const int width = ListView_GetColumnWidth(list, column);
        ListView_SetColumnWidth(list, column,
                                MulDiv(width, static_cast<int>(dpi_), static_cast<int>(oldDpi)));
    }
}

int MainWindow::Scaled(int pixels) const {
    return MulDiv(pixels, static_cast<int>(dpi_), USER_DEFAULT_SCREEN_DPI);
}

int MainWindow::Unscaled(int pixels) const {
    return MulDiv(pixels, USER_DEFAULT_SCREEN_DPI, static_cast<int>(dpi_));
}

RECT MainWindow::ScaledOuterRect() const {
    RECT rect{0, 0, Scaled(kClientSize.width), Scaled(kClientSize.height)};
    OuterRectAtDpi(rect, WS_OVERLAPPEDWINDOW, 0, dpi_);
    return rect;
}

Size MainWindow::DesignedClient() const {
    RECT client{};
    GetClientRect(window_, &client);
    // Rounded down: a control laid out at a rounded-up size would reach past the edge.
    const auto designed = [this](LONG pixels) {
        return static_cast<int>(pixels * USER_DEFAULT_SCREEN_DPI / static_cast<LONG>(dpi_));
    };
    return {designed(client.right), designed(client.bottom)};
}

bool MainWindow::HandledAsDialogKey(MSG& message) {
    return window_ != nullptr && IsDialogMessageW(window_, &message);
}

Control MainWindow::FocusedControl() const {
    const auto found = std::find(controls_.begin(), controls_.end(), GetFocus());
    return {found == controls_.end() ? -1 : static_cast<int>(found - controls_.begin())};
}

LRESULT CALLBACK MainWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    return self->Handle(message, wParam, lParam);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_NOTIFY:
            return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
        case WM_CONTEXTMENU:
            // The menu key or Shift+F10 (no position); a right click comes as NM_RCLICK.
            if (reinterpret_cast<HWND>(wParam) == ControlWindow(Control::超级列表框1) &&
                lParam == -1) {
                ShowListMenuFromKeyboard();
                return 0;
            }
            break;
        case WM_TIMER:
            if (wParam == kElapsedTimerId) behaviour_.OnElapsedTick();
            return 0;
        case WM_SIZE:
            if (created_ && wParam != SIZE_MINIMIZED) behaviour_.OnResized(DesignedClient());
            return 0;
        case WM_GETMINMAXINFO: {
            const RECT outer = ScaledOuterRect();
            auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            limits->ptMinTrackSize = {outer.right - outer.left, outer.bottom - outer.top};
            return 0;
        }
        case WM_DPICHANGED: {
            const UINT oldDpi = dpi_;
            dpi_ = HIWORD(wParam);
            ApplyFont();
            PlaceFormControls();
            RescaleColumns(oldDpi);
            if (exportProgress_ != nullptr) PlaceExportProgress();
            const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            behaviour_.OnResized(DesignedClient());
            return 0;
        }
        case WM_ACTIVATE:
            // A window that is no dialog forgets its focused control when a message box or the
            // save dialog takes the focus; it is given back on the way back.
            if (LOWORD(wParam) == WA_INACTIVE && IsChild(window_, GetFocus()))
                focusedBeforeLeaving_ = GetFocus();
            break;
        case WM_SETFOCUS:
            SetFocus(focusedBeforeLeaving_ != nullptr ? focusedBeforeLeaving_
                                                      : ControlWindow(Control::编辑框_搜索内容));
            return 0;
        case WM_CLOSE:
            if (behaviour_.OnCloseRequested()) DestroyWindow(window_);
            return 0;
        case WM_DESTROY:
            KillTimer(window_, kElapsedTimerId);
            PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY:
            window_ = nullptr;
            break;
        case kPortPostedMessage:
            port_.DrainPosted();
            return 0;
        case kRowsChangedMessage:
            ShowRowsChanges();
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void MainWindow::OnCommand(int id, int code) {
    if (id >= kFirstMenuId && id <= kFirstMenuId + kAboutCommand) {
        behaviour_.OnMenuCommand(id - kFirstMenuId);
        return;
    }
    // Enter, as the dialog keys report it when no button is the default one. Escape (IDCANCEL)
    // closes nothing.
    if (id == IDOK) {
        const Control focused = FocusedControl();
        if (focused.index >= 0) behaviour_.OnEnterPressed(focused);
        return;
    }
    const Control control{id - kFirstControlId};
    if (control == Control::编辑框_搜索内容 && code == EN_CHANGE) {
        const HWND box = ControlWindow(control);
        std::wstring keyword(static_cast<std::size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
        keyword.resize(static_cast<std::size_t>(
            GetWindowTextW(box, keyword.data(), static_cast<int>(keyword.size()))));
        behaviour_.OnKeywordEdited(Utf8(keyword));
        return;
    }
    if (code == BN_CLICKED && control.index >= 0 && control.index < std::ssize(kControls) &&
        FormOf(control).kind == ControlKind::kButton)
        behaviour_.OnButtonClicked(control);
}

void MainWindow::ShowListMenuFromKeyboard() {
    HWND list = ControlWindow(Control::超级列表框1);
    RECT client{};
    GetClientRect(list, &client);
    RECT header{};
    GetWindowRect(ListView_GetHeader(list), &header);
    const int rowsTop = header.bottom - header.top;
    const Rect rows{0, Unscaled(rowsTop), Unscaled(client.right),
                    Unscaled(std::max<int>(0, client.bottom - rowsTop))};
    std::optional<Rect> selectedRow;
    const int selected = ListView_GetNextItem(list, -1, LVNI_SELECTED);
    RECT row{};
    if (selected >= 0 && ListView_GetItemRect(list, selected, &row, LVIR_BOUNDS)) {
        selectedRow = Rect{Unscaled(row.left), Unscaled(row.top), Unscaled(row.right - row.left),
                           Unscaled(row.bottom - row.top)};
    }
    behaviour_.ShowListMenuFromKeyboard(selectedRow, rows);
}

LRESULT MainWindow::OnNotify(const NMHDR& header) {
    if (header.hwndFrom != ControlWindow(Control::超级列表框1)) return 0;
    if (header.code == NM_RCLICK) {
        behaviour_.ShowListMenu();
        return 0;
    }
    if (header.code != LVN_GETDISPINFOW) return 0;
    LVITEMW& item = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header)).item;
    if ((item.mask & LVIF_TEXT) == 0 || item.pszText == nullptr || item.cchTextMax <= 0) return 0;
    cellText_ = WideFromSystem(port_.Rows().ReadCell(item.iItem, item.iSubItem));
    lstrcpynW(item.pszText, cellText_.c_str(), item.cchTextMax);
    return 0;
}

void MainWindow::ShowRowsChanges() {
    const ResultTable::Changes changes = port_.Rows().TakeChanges();
    HWND list = ControlWindow(Control::超级列表框1);
    const int shownBefore = shownRows_;
    if (changes.rowCount > shownRows_) {
        shownRows_ = changes.rowCount;
        ListView_SetItemCountEx(list, shownRows_, LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    }
    // Rows added just now are painted fresh; only older ones need it.
    const int lastChanged = std::min(changes.lastChangedRow, shownBefore - 1);
    if (changes.firstChangedRow <= lastChanged)
        ListView_RedrawItems(list, changes.firstChangedRow, lastChanged);
}

void MainWindow::SetControlText(Control control, std::string_view text) {
    SetWindowTextW(ControlWindow(control), Wide(text).c_str());
}

void MainWindow::SetStatusPartText(int part, std::string_view text) {
    const WPARAM style = kStatusParts[part].raised ? SBT_POPOUT : 0;
    SendMessageW(ControlWindow(Control::状态条1), SB_SETTEXTW, static_cast<WPARAM>(part) | style,
                 reinterpret_cast<LPARAM>(Wide(text).c_str()));
}

void MainWindow::ShowJournalField(std::string_view text) {
    SetControlText(Control::journalField, text);
    ShowWindow(ControlWindow(Control::journalField), SW_SHOWNA);
}

void MainWindow::HideJournalField() {
    ShowWindow(ControlWindow(Control::journalField), SW_HIDE);
}

void MainWindow::PlaceControls(const MainWindowLayout& layout) {
    const auto place = [this](Control control, Rect rect) {
        SetWindowPos(ControlWindow(control), nullptr, Scaled(rect.left), Scaled(rect.top),
                     Scaled(rect.width), Scaled(rect.height), SWP_NOZORDER | SWP_NOACTIVATE);
    };
    place(Control::超级列表框1, layout.list);
    place(Control::journalField, layout.journalField);
    place(Control::状态条1, layout.statusBar);
    place(Control::标签2, layout.elapsedLabel);
    ListView_SetColumnWidth(ControlWindow(Control::超级列表框1), layout.widenedColumn.column,
                            Scaled(layout.widenedColumn.width));
    std::array<int, kStatusPartCount> rightEdges{};
    int right = 0;
    for (int part = 0; part < kStatusPartCount; ++part) {
        right += Scaled(layout.statusPartWidths[part]);
        rightEdges[part] = right;
    }
    SendMessageW(ControlWindow(Control::状态条1), SB_SETPARTS, kStatusPartCount,
                 reinterpret_cast<LPARAM>(rightEdges.data()));
}

void MainWindow::RunTimer(int periodMs) {
    SetTimer(window_, kElapsedTimerId, static_cast<UINT>(periodMs), nullptr);
}

void MainWindow::StopTimer() {
    KillTimer(window_, kElapsedTimerId);
}

void MainWindow::PopUpMenu(MenuPlace place, std::span<const MenuCommand> hidden) {
    HMENU menu = CreatePopupMenu();
    AddMenuEntries(menu, kProgramMenu, hidden);
    POINT at{Scaled(place.point.x), Scaled(place.point.y)};
    if (place.from == MenuPlace::From::kCursor) {
        POINT cursor{};
        GetCursorPos(&cursor);
        at = {cursor.x + at.x, cursor.y + at.y};
    } else {
        ClientToScreen(ControlWindow(Control::超级列表框1), &at);
    }
    // The chosen entry arrives as WM_COMMAND, as a command sent to the window does.
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, window_,
                   nullptr);
    DestroyMenu(menu);
}

int MainWindow::ShowMessage(std::string_view text, std::string_view caption, unsigned flags) {
    const std::wstring shownCaption = Wide(caption.empty() ? kDefaultMessageCaption : caption);
    return MessageBoxW(nullptr, Wide(text).c_str(), shownCaption.c_str(), flags | MB_TASKMODAL);
}

int MainWindow::ShowMessageBox(const Text& text, const Text& caption, unsigned flags) {
    return ShowMessage(SystemToUtf8(text), SystemToUtf8(caption), flags);
}

bool MainWindow::PutOnClipboard(const Text& text) {
    const std::wstring wide = WideFromSystem(text);
    if (!OpenClipboard(window_)) return false;
    EmptyClipboard();
    const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    bool put = false;
    if (memory != nullptr) {
        std::memcpy(GlobalLock(memory), wide.c_str(), bytes);
        GlobalUnlock(memory);
        put = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        if (!put) GlobalFree(memory);
    }
    CloseClipboard();
    return put;
}

Text MainWindow::AskSaveFileName(const SaveDialogRequest& request) {
    // "description|pattern|..." becomes the dialog's NUL-separated list, ended by two NULs.
    std::wstring filter = WideFromSystem(request.filter);
    std::replace(filter.begin(), filter.end(), L'|', L'\0');
    filter.append(2, L'\0');
    const std::wstring folder = WideFromSystem(request.initialFolder);
    std::wstring file = WideFromSystem(request.defaultName);
    file.resize(kMaxSavePath, L'\0');

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = kMaxSavePath;
    dialog.lpstrInitialDir = folder.c_str();
    // Choosing an existing file replaces it without a question.
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
    if (!GetSaveFileNameW(&dialog)) return {};
    file.resize(file.find(L'\0'));
    return NameWithChosenExtension(Utf8ToSystem(Utf8(file)), request.filter,
                                   std::max<DWORD>(dialog.nFilterIndex, 1) - 1);
}

void MainWindow::OpenWithShell(std::string_view link, std::function<void()> whenNothingOpensIt) {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", Wide(link).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result == SE_ERR_NOASSOC && whenNothingOpensIt) whenNothingOpensIt();
}

void MainWindow::ShowExportProgress(std::string_view label, int done, int total) {
    if (exportProgress_ == nullptr) {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        exportProgress_ =
            CreateWindowExW(WS_EX_DLGMODALFRAME, WC_STATICW, Wide(kDefaultMessageCaption).c_str(),
                            WS_POPUP | WS_CAPTION, 0, 0, 0, 0, window_, nullptr, instance, nullptr);
        CreateWindowExW(0, WC_STATICW, L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0,
                        0, exportProgress_, reinterpret_cast<HMENU>(kProgressLabelId), instance,
                        nullptr);
        CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, exportProgress_,
                        reinterpret_cast<HMENU>(kProgressBarId), instance, nullptr);
        PlaceExportProgress();
        ShowWindow(exportProgress_, SW_SHOWNORMAL);
    }
    SetDlgItemTextW(exportProgress_, kProgressLabelId, Wide(label).c_str());
    SendDlgItemMessageW(exportProgress_, kProgressBarId, PBM_SETRANGE32, 0, total);
    SendDlgItemMessageW(exportProgress_, kProgressBarId, PBM_SETPOS, static_cast<WPARAM>(done), 0);
}

// Centred on the window, at the window's resolution.
void MainWindow::PlaceExportProgress() {
    RECT owner{};
    GetWindowRect(window_, &owner);
    const int width = Scaled(kProgressBoxSize.width);
    const int height = Scaled(kProgressBoxSize.height);
    SetWindowPos(exportProgress_, nullptr, (owner.left + owner.right - width) / 2,
                 (owner.top + owner.bottom - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    const auto placeChild = [&](int id, int top) {
        SetWindowPos(GetDlgItem(exportProgress_, id), nullptr, Scaled(12), Scaled(top),
                     width - Scaled(30), Scaled(20), SWP_NOZORDER | SWP_NOACTIVATE);
    };
    placeChild(kProgressLabelId, 10);
    placeChild(kProgressBarId, 38);
    SendDlgItemMessageW(exportProgress_, kProgressLabelId, WM_SETFONT, WPARAM(font_), TRUE);
}

void MainWindow::EndExportProgress() {
    if (exportProgress_ != nullptr) DestroyWindow(exportProgress_);
    exportProgress_ = nullptr;
}

void MainWindow::AttachSkin(int number) {
    if (HighContrastOn()) return;
    velmora::AttachSkin(skin_, number);
    skinAttached_ = true;
}

void MainWindow::DetachSkin() {
    if (skinAttached_) skin_.Detach();
    skinAttached_ = false;
}

void MainWindow::Close() {
    PostMessageW(window_, WM_CLOSE, 0, 0);
}

void MainWindow::ProcessPendingEvents() {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        // The end of the loop belongs to the loop that runs the window.
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (HandledAsDialogKey(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace velmora
