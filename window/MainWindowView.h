#pragma once
// What a window must do for MainWindowBehaviour: the toolkit's side of the main window. A view
// builds its controls from the form (MainWindowForm.h), hands its events to the behaviour, and
// carries out these calls, all on the window's thread. Texts are UTF-8.

#include <functional>
#include <span>
#include <string_view>

#include "results/Frontend.h"
#include "window/MainWindowLayout.h"

namespace velmora {

// Where 程序菜单 opens: `point` from the mouse cursor, or at `point` of 超级列表框1 (its top left
// corner is 0, 0). In the form's pixels, which a view scales as it scales the form.
struct MenuPlace {
    enum class From { kCursor, kList } from;
    Point point;
    bool operator==(const MenuPlace&) const = default;
};

class MainWindowView {
public:
    virtual ~MainWindowView() = default;

    // A label's caption or the keyword box's text (the engine reads the keyword box's copy).
    virtual void SetControlText(Control control, std::string_view text) = 0;
    // 状态条1's part 0 to kStatusPartCount - 1.
    virtual void SetStatusPartText(int part, std::string_view text) = 0;
    virtual void ShowJournalField(std::string_view text) = 0;
    virtual void HideJournalField() = 0;
    virtual void PlaceControls(const MainWindowLayout& layout) = 0;

    // 时钟1: ticks (MainWindowBehaviour::OnElapsedTick) every periodMs until stopped.
    virtual void RunTimer(int periodMs) = 0;
    virtual void StopTimer() = 0;

    // Pops up 程序菜单 at `place`, with the entries of `hidden` left out; the chosen entry's
    // command goes to MainWindowBehaviour::OnMenuCommand.
    virtual void PopUpMenu(MenuPlace place, std::span<const MenuCommand> hidden) = 0;

    // A message box without owner, modal for the whole program, with the classic flag values
    // (MessageBoxFlag); an empty caption is kDefaultMessageCaption. Returns the answer
    // (kAnswerOk, kAnswerYes, ...).
    virtual int ShowMessage(std::string_view text, std::string_view caption, unsigned flags) = 0;
    // 通用对话框1 in save mode: the chosen path, or the empty text on cancel.
    virtual Text AskSaveFileName(const SaveDialogRequest& request) = 0;
    // The shell's open verb. `whenNothingOpensIt` (may be empty) runs on the window's thread,
    // possibly after the call has returned, when nothing on this desktop takes such links.
    virtual void OpenWithShell(std::string_view link, std::function<void()> whenNothingOpensIt) = 0;

    // The running export's progress: a box captioned kDefaultMessageCaption without a cancel
    // button, shown at the first call and updated by the next, until EndExportProgress.
    virtual void ShowExportProgress(std::string_view label, int done, int total) = 0;
    virtual void EndExportProgress() = 0;

    virtual void AttachSkin(int number) = 0;
    virtual void DetachSkin() = 0;

    // Asks the window to close, as the user does (MainWindowBehaviour::OnCloseRequested).
    virtual void Close() = 0;
    // Lets the window handle what is pending; other events may run meanwhile.
    virtual void ProcessPendingEvents() = 0;
};

}  // namespace velmora
