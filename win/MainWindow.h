#pragma once
// MainWindow: the program's only window, a Win32 view over MainWindowBehaviour. It builds the
// form's controls (comctl32 6) under the form's texts and places, hands their events to the
// behaviour and carries out what the behaviour asks of a view. The list view is virtual: it
// asks for the cells it paints, so its cost does not grow with the rows.

#include <windows.h>

#include <array>
#include <string>

#include "window/MainWindowBehaviour.h"
#include "window/WindowPort.h"

namespace velmora {

class SearchSession;
class SkinEngine;

// The window class, which tests find the window by.
inline constexpr const wchar_t* kMainWindowClass = L"VelmoraMainWindow";
// A control's id is this plus its place in kControls.
inline constexpr int kFirstControlId = 100;
// A menu entry's id is this plus its command.
inline constexpr int kFirstMenuId = 1000;

class MainWindow final : private MainWindowView, private PortWindow {
public:
    // The port, the session and the skin engine outlive the window. Creates the window, hidden.
    MainWindow(WindowPort& port, SearchSession& session, SkinEngine& skin);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND Handle() const { return window_; }
    // Whether `message` was one of the window's dialog keys (Tab, Enter, Escape, the arrows
    // between buttons), handled then: the message loop neither translates nor dispatches it.
    bool HandledAsDialogKey(MSG& message);

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void BuildControls();
    void OnCommand(int id, int code);
    LRESULT OnNotify(const NMHDR& header);
    void ShowRowsChanges();
    void ShowListMenuFromKeyboard();
    void PlaceFormControls();
    void PlaceExportProgress();
    void ApplyFont();
    void RescaleColumns(UINT oldDpi);
    int Scaled(int pixels) const;
    int Unscaled(int pixels) const;
    // The control holding the focus; index -1 when none of the form's does.
    Control FocusedControl() const;
    RECT ScaledOuterRect() const;
    Size DesignedClient() const;
    HWND ControlWindow(Control control) const { return controls_[control.index]; }

    // MainWindowView
    void SetControlText(Control control, std::string_view text) override;
    void SetStatusPartText(int part, std::string_view text) override;
    void ShowJournalField(std::string_view text) override;
    void HideJournalField() override;
    void PlaceControls(const MainWindowLayout& layout) override;
    void RunTimer(int periodMs) override;
    void StopTimer() override;
    void PopUpMenu(MenuPlace place, std::span<const MenuCommand> hidden) override;
    int ShowMessage(std::string_view text, std::string_view caption, unsigned flags) override;
    Text AskSaveFileName(const SaveDialogRequest& request) override;
    void OpenWithShell(std::string_view link, std::function<void()> whenNothingOpensIt) override;
    void ShowExportProgress(std::string_view label, int done, int total) override;
    void EndExportProgress() override;
    void AttachSkin(int number) override;
    void DetachSkin() override;
    void Close() override;
    void ProcessPendingEvents() override;

    // PortWindow (AskSaveFileName and ProcessPendingEvents serve both)
    MainWindowBehaviour& Behaviour() override { return behaviour_; }
    int ShowMessageBox(const Text& text, const Text& caption, unsigned flags) override;
    bool PutOnClipboard(const Text& text) override;

    WindowPort& port_;
    SkinEngine& skin_;
    HWND window_ = nullptr;
    std::array<HWND, std::size(kControls)> controls_{};
    HWND exportProgress_ = nullptr;  // while an export past its delay runs
    HFONT font_ = nullptr;
    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    int shownRows_ = 0;
    std::wstring cellText_;  // the cell last handed to the list view, which reads it after
    bool created_ = false;   // the behaviour has been told of the window's creation
    bool skinAttached_ = false;
    HWND focusedBeforeLeaving_ = nullptr;  // the control that had the focus when it went away
    MainWindowBehaviour behaviour_;
};

}  // namespace velmora
