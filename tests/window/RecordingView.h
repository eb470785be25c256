#pragma once
// A view of the main window without a screen: it records what the behaviour asks of it and
// answers message boxes, save dialogs and shell opens as a test sets it up.

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
    MenuPlace place;
    std::vector<MenuCommand> hidden;
};

class RecordingView : public MainWindowView {
public:
    // Answers.
    int answer = kAnswerOk;
    Text saveAs;            // the save dialog's answer; empty cancels
    bool linksOpen = true;  // whether something on the desktop takes the links opened
    // Run inside the calls, as a window's events would run there.
    std::function<void(const ShownMessage&)> onMessage;
    std::function<void()> onSaveDialog;
    std::function<void()> onPendingEvents;
    // The keyword box's text goes to the engine's copy of it, as a window's does.
    std::function<void(const std::string&)> onKeyword;

    // What is shown now.
    std::string statusParts[kStatusPartCount];
    std::optional<std::string> journalField;  // while shown
    std::optional<MainWindowLayout> layout;   // the last placement
    int timerPeriod = 0;                      // 0: stopped
    bool progressShown = false;
    bool skinAttached = false;
    std::string Shown(Control control) const {
        const std::string& text = texts_[control.index];
        return text.empty() ? FormOf(control).text : text;
    }

    // What was asked, in order.
    std::vector<ShownMessage> messages;
    std::vector<SaveDialogRequest> saveRequests;
    std::vector<std::string> openedLinks;
    std::vector<Popup> popups;
    std::vector<int> attachedSkins;
    // The calls that show or take away something, one line each, for their order.
    std::vector<std::string> calls;

    void SetControlText(Control control, std::string_view text) override {
        texts_[control.index] = text;
        if (control == Control::编辑框_搜索内容 && onKeyword) onKeyword(std::string(text));
    }
    void SetStatusPartText(int part, std::string_view text) override { statusParts[part] = text; }
    void ShowJournalField(std::string_view text) override { journalField = text; }
    void HideJournalField() override { journalField.reset(); }
    void PlaceControls(const MainWindowLayout& placed) override { layout = placed; }
    void RunTimer(int periodMs) override { timerPeriod = periodMs; }
    void StopTimer() override { timerPeriod = 0; }
    void PopUpMenu(MenuPlace place, std::span<const MenuCommand> hidden) override {
        popups.push_back({place, {hidden.begin(), hidden.end()}});
    }
    int ShowMessage(std::string_view text, std::string_view caption, unsigned flags) override {
        messages.push_back({std::string(text), std::string(caption), flags});
        calls.push_back("message " + std::string(text));
        if (onMessage) onMessage(messages.back());
        return answer;
    }
    Text AskSaveFileName(const SaveDialogRequest& request) override {
        saveRequests.push_back(request);
        if (onSaveDialog) onSaveDialog();
        return saveAs;
    }
    void OpenWithShell(std::string_view link, std::function<void()> whenNothingOpensIt) override {
        openedLinks.emplace_back(link);
        if (!linksOpen && whenNothingOpensIt) whenNothingOpensIt();
    }
    void ShowExportProgress(std::string_view label, int done, int total) override {
        if (!progressShown) calls.emplace_back("progress shown");
        progressShown = true;
        calls.push_back("progress " + std::string(label) + " " + std::to_string(done) + "/" +
                        std::to_string(total));
    }
    void EndExportProgress() override {
        progressShown = false;
        calls.emplace_back("progress ended");
    }
    void AttachSkin(int number) override {
        attachedSkins.push_back(number);
        skinAttached = true;
    }
    void DetachSkin() override {
        skinAttached = false;
        calls.emplace_back("skin detached");
    }
    void Close() override { calls.emplace_back("close asked"); }
    void ProcessPendingEvents() override {
        if (onPendingEvents) onPendingEvents();
    }

private:
    std::string texts_[std::size(kControls)];
};

}  // namespace velmora::testing
