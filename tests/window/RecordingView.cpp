#include "RecordingView.h"

namespace velmora::testing {

std::string RecordingView::Shown(Control control) const {
    const std::string& text = texts_[control.index];
    return text.empty() ? FormOf(control).text : text;
}

void RecordingView::SetControlText(Control control, std::string_view text) {
    texts_[control.index] = text;
    if (control == Control::编辑框_搜索内容 && onKeyword) onKeyword(std::string(text));
}

void RecordingView::SetStatusPartText(int part, std::string_view text) {
    statusParts[part] = text;
}

void RecordingView::ShowJournalField(std::string_view text) {
    journalField = text;
    calls.push_back("journal " + std::string(text));
}

void RecordingView::HideJournalField() {
    journalField.reset();
    calls.push_back("journal hidden");
}

void RecordingView::PlaceControls(const MainWindowLayout& placed) {
    layout = placed;
}

void RecordingView::RunTimer(int periodMs) {
    timerPeriod = periodMs;
}

void RecordingView::StopTimer() {
    timerPeriod = 0;
}

void RecordingView::PopUpMenu(Point offset, std::span<const MenuCommand> hidden) {
    popups.push_back({offset, {hidden.begin(), hidden.end()}});
}

int RecordingView::ShowMessage(std::string_view text, std::string_view caption, unsigned flags) {
    messages.push_back({std::string(text), std::string(caption), flags});
    calls.push_back("message " + std::string(text));
    if (onMessage) onMessage(messages.back());
    return answer;
}

Text RecordingView::AskSaveFileName(const SaveDialogRequest& request) {
    saveRequests.push_back(request);
    if (onSaveDialog) onSaveDialog();
    return saveAs;
}

void RecordingView::OpenWithShell(std::string_view link, std::function<void()> whenNothingOpensIt) {
    openedLinks.emplace_back(link);
    if (!linksOpen && whenNothingOpensIt) whenNothingOpensIt();
}

void RecordingView::ShowExportProgress(std::string_view label, int done, int total) {
    if (!progressShown) calls.push_back("progress shown");
    progressShown = true;
    calls.push_back("progress " + std::string(label) + " " + std::to_string(done) + "/" +
                    std::to_string(total));
}

void RecordingView::EndExportProgress() {
    progressShown = false;
    calls.push_back("progress ended");
}

void RecordingView::AttachSkin(int number) {
    attachedSkins.push_back(number);
    skinAttached = true;
}

void RecordingView::DetachSkin() {
    skinAttached = false;
    calls.push_back("skin detached");
}

void RecordingView::Close() {
    ++closeRequests;
    calls.push_back("close asked");
}

void RecordingView::ProcessPendingEvents() {
    if (onPendingEvents) onPendingEvents();
}

}  // namespace velmora::testing
