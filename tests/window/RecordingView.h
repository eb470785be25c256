#pragma once
// A view of the main window without a screen: it records what the behaviour asks of it, in
// order, and answers message boxes, save dialogs and shell opens as a test sets it up.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "window/MainWindowView.h"

namespace velmora::testing {

struct ShownMessage {
    std::string text;
    std::string caption;
    unsigned flags = 0;
};

struct Popup {
    Point offset;
    std::vector<MenuCommand> hidden;
};

class RecordingView : public MainWindowView {
public:
    // Answers.
    int answer = kAnswerOk;
    Text saveAs;            // the save dialog's answer; empty cancels
    bool linksOpen = true;  // whether something takes the links opened
    // Run inside the calls, as a window's events would run there.
    std::function<void(const ShownMessage&)> onMessage;
    std::function<void()> onSaveDialog;
    std::function<void()> onPendingEvents;
    // The keyword box's text, handed to the engine's copy of it as a window does.
    std::function<void(const std::string&)> onKeyword;

    // What is shown now.
    std::string Shown(Control control) const;
    std::string statusParts[kStatusPartCount];
    std::optional<std::string> journalField;  // while shown
    std::optional<MainWindowLayout> layout;   // the last placement
    int timerPeriod = 0;                      // 0: stopped
    bool progressShown = false;
    bool skinAttached = false;

    // What was asked, in order.
    std::vector<ShownMessage> messages;
    std::vector<SaveDialogRequest> saveRequests;
    std::vector<std::string> openedLinks;
    std::vector<Popup> popups;
    std::vector<int> attachedSkins;
    int closeRequests = 0;
    // One line per call that changes what the user sees, for the order of things.
    std::vector<std::string> calls;

    void SetControlText(Control control, std::string_view text) override;
    void SetStatusPartText(int part, std::string_view text) override;
    void ShowJournalField(std::string_view text) override;
    void HideJournalField() override;
    void PlaceControls(const MainWindowLayout& placed) override;
    void RunTimer(int periodMs) override;
    void StopTimer() override;
    void PopUpMenu(Point offset, std::span<const MenuCommand> hidden) override;
    int ShowMessage(std::string_view text, std::string_view caption, unsigned flags) override;
    Text AskSaveFileName(const SaveDialogRequest& request) override;
    void OpenWithShell(std::string_view link, std::function<void()> whenNothingOpensIt) override;
    void ShowExportProgress(std::string_view label, int done, int total) override;
    void EndExportProgress() override;
    void AttachSkin(int number) override;
    void DetachSkin() override;
    void Close() override;
    void ProcessPendingEvents() override;

private:
    std::string texts_[std::size(kControls)];
};

}  // namespace velmora::testing
