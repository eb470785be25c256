#include "window/MainWindowBehaviour.h"

#include <algorithm>
#include <string>
#include <utility>

#include "journal/Journal.h"
#include "search/SearchSession.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

constexpr const char* kWelcomeMessage = "欢迎使用！";
constexpr const char* kAboutCaption = "爱自己是最大的帮助！";
constexpr const char* kAboutFirstLine = "软件只是一时兴起，有什么bug空间留言！\r\n";
constexpr const char* kAboutDate = "于 2014-11-09";
constexpr unsigned kAboutFlags =
    MessageBoxFlag::kYesNo | MessageBoxFlag::kIconQuestion | MessageBoxFlag::kRightAligned;
constexpr const char* kNoContactHandlerMessage =
    "这台电脑上没有能打开联系方式的程序，请复制下面的地址联系作者：\n";
// By ExportPhase.
constexpr const char* kExportPhaseLabels[] = {"正在写入表格…", "正在核对表格…", "正在保存文件…"};

std::string ElapsedText(int hours, int minutes, int seconds) {
    return "已运行:" + std::to_string(hours) + "小时" + std::to_string(minutes) + "分钟" +
           std::to_string(seconds) + "秒";
}

}  // namespace

// The window as the export sees it: the engine's list through the session's front end, and
// the dialogs, the messages and the pending events through the view, so that whichever window
// shows them is the one the user answers.
class MainWindowBehaviour::ExportWindow final : public Frontend {
public:
    ExportWindow(MainWindowView& view, ResultSink& list) : view_(view), list_(list) {}

    void SetStatusText(int field, const Text& text) override { list_.SetStatusText(field, text); }
    void SetTimerPeriod(int milliseconds) override { list_.SetTimerPeriod(milliseconds); }
    int AppendRow() override { return list_.AppendRow(); }
    void SetCell(int row, int column, const Text& text) override {
        list_.SetCell(row, column, text);
    }
    Text ReadCell(int row, int column) override { return list_.ReadCell(row, column); }
    int RowCount() override { return list_.RowCount(); }
    void SetRowOrigin(int row, const RowOrigin& origin) override {
        list_.SetRowOrigin(row, origin);
    }
    RowOrigin ReadRowOrigin(int row) override { return list_.ReadRowOrigin(row); }
    int ShowMessage(const Text& text, const Text& caption, unsigned flags) override {
        return view_.ShowMessage(SystemToUtf8(text), SystemToUtf8(caption), flags);
    }
    bool SetClipboardText(const Text& text) override { return list_.SetClipboardText(text); }
    Text AskSaveFileName(const SaveDialogRequest& request) override {
        return view_.AskSaveFileName(request);
    }
    void ProcessPendingEvents() override { view_.ProcessPendingEvents(); }

private:
    MainWindowView& view_;
    ResultSink& list_;
};

MainWindowBehaviour::MainWindowBehaviour(MainWindowView& view, SearchSession& session,
                                         Text desktopFolder, MonotonicClock monotonicNow)
    : view_(view),
      session_(session),
      monotonicNow_(std::move(monotonicNow)),
      exportWindow_(std::make_unique<ExportWindow>(view, session.window)),
      exporter_(*exportWindow_, std::move(desktopFolder), LocalDateTimeNow,
                [this](ExportPhase phase, int done, int total) {
                    OnExportProgress(phase, done, total);
                }) {
    // Only-new asks the journal the window's searches are kept in.
    if (!session.journal.path.empty())
        exporter_.SetLeadHistory(JournalHistory(session.journal.path));
}

MainWindowBehaviour::~MainWindowBehaviour() = default;

void MainWindowBehaviour::OnMainWindowCreated(Size client) {
    OnResized(client);
    // Once placed: a status bar takes the texts of the parts it has.
    for (int part = 0; part < kStatusPartCount; ++part)
        view_.SetStatusPartText(part, kStatusParts[part].initialText);
    view_.AttachSkin(kMainWindowSkin);
    RestoreInterruptedSearch(session_);
}

void MainWindowBehaviour::OnResized(Size client) {
    client_ = client;
    PlaceControls();
}

void MainWindowBehaviour::PlaceControls() {
    view_.PlaceControls(LayOutMainWindow(client_, journalFieldShown_));
}

bool MainWindowBehaviour::OnCloseRequested() {
    if (exporter_.IsRunning()) {
        closeHeldForExport_ = true;
        return false;
    }
    OnMainWindowClosing();
    return true;
}

void MainWindowBehaviour::OnMainWindowClosing() {
    if (closing_) return;
    closing_ = true;
    if (StopSearch(session_)) view_.ShowMessage(kWelcomeMessage, {}, MessageBoxFlag::kOk);
    NoteWindowClosed(session_);
    view_.DetachSkin();
}

void MainWindowBehaviour::OnElapsedTick() {
    constexpr int kPerUnit = 60;
    if (++elapsedSeconds_ == kPerUnit) {
        elapsedSeconds_ = 0;
        ++elapsedMinutes_;
    }
    if (elapsedMinutes_ == kPerUnit) {
        elapsedMinutes_ = 0;
        ++elapsedHours_;
    }
    view_.SetControlText(Control::标签2,
                         ElapsedText(elapsedHours_, elapsedMinutes_, elapsedSeconds_));
}

void MainWindowBehaviour::OnKeywordEdited(std::string_view keyword) {
    keyword_ = Utf8ToSystem(keyword);
}

void MainWindowBehaviour::OnStartClicked() {
    HideJournalField();
    StartSearch(session_, {keyword_});
}

void MainWindowBehaviour::OnPauseClicked() {
    PauseSearch(session_);
}

void MainWindowBehaviour::OnResumeClicked() {
    ResumeSearch(session_);
}

void MainWindowBehaviour::OnStopClicked() {
    StopSearch(session_);
}

void MainWindowBehaviour::ContactAuthor() {
    view_.OpenWithShell(kContactLink, [this] {
        view_.ShowMessage(std::string(kNoContactHandlerMessage) + kContactLink, {},
                          MessageBoxFlag::kIconInformation);
    });
}

void MainWindowBehaviour::OnButtonClicked(Control button) {
    if (button == Control::按钮_开始) OnStartClicked();
    if (button == Control::按钮_暂停搜索) OnPauseClicked();
    if (button == Control::按钮_继续搜索) OnResumeClicked();
    if (button == Control::按钮_停止搜索) OnStopClicked();
    if (button == Control::按钮_联系作者) ContactAuthor();
}

void MainWindowBehaviour::OnEnterPressed(Control focused) {
    if (focused == Control::编辑框_搜索内容) OnStartClicked();
    if (FormOf(focused).kind == ControlKind::kButton) OnButtonClicked(focused);
}

void MainWindowBehaviour::ShowAbout() {
    const std::string text = std::string(kAboutFirstLine) + kAuthorCredit + kAboutDate;
    if (view_.ShowMessage(text, kAboutCaption, kAboutFlags) == kAnswerYes)
        view_.OpenWithShell(kAuthorWebPage, {});
}

void MainWindowBehaviour::ShowListMenu() {
    PopUpListMenu({MenuPlace::From::kCursor, kMenuOffset});
}

void MainWindowBehaviour::ShowListMenuFromKeyboard(std::optional<Rect> selectedRow, Rect rows) {
    Point corner{rows.left, rows.top};
    if (selectedRow && selectedRow->top + selectedRow->height > rows.top &&
        selectedRow->top < rows.top + rows.height) {
        // Below the row's top edge, never above the rows (a row half under the header).
        corner.y = std::max(selectedRow->top, rows.top);
    }
    PopUpListMenu({MenuPlace::From::kList, {corner.x + kMenuOffset.x, corner.y + kMenuOffset.y}});
}

void MainWindowBehaviour::PopUpListMenu(MenuPlace place) {
    static constexpr MenuCommand kResumeHidden[] = {kResumeCommand};
    view_.PopUpMenu(place, HasResumableSearch() ? std::span<const MenuCommand>()
                                                : std::span<const MenuCommand>(kResumeHidden));
}

void MainWindowBehaviour::OnMenuCommand(MenuCommand command) {
    if (command >= 0 && command < kExportCount) {
        RunExport(kExportEntries[command].run);
    } else if (command == kResumeCommand) {
        ResumeUnfinishedSearch();
    } else if (command == kAboutCommand) {
        ShowAbout();
    }
}

bool MainWindowBehaviour::HasResumableSearch() const {
    if (session_.journal.path.empty()) return false;
    Journal journal(session_.journal.path);
    return journal.LatestResumableSearch().has_value();
}

void MainWindowBehaviour::ResumeUnfinishedSearch() {
    std::optional<TakenOverSearch> taken = TakeOverLatestSearch(session_);
    if (!taken) return;  // resumed or forgotten meanwhile, by another program
    HideJournalField();
    // The search goes on with the keyword it was started with, shown where every search's is.
    view_.SetControlText(Control::编辑框_搜索内容, SystemToUtf8(taken->search.keyword));
    StartSearch(session_, {taken->search.keyword, taken->search.id, std::move(taken->journal)});
}

void MainWindowBehaviour::RunExport(ExportResult (Exporter::*run)()) {
    (exporter_.*run)();
    // A second export asked for meanwhile returns at once; the first one's progress stays.
    if (!exporter_.IsRunning()) EndExportProgress();
    view_.ProcessPendingEvents();
    if (closeHeldForExport_ && !exporter_.IsRunning()) {
        closeHeldForExport_ = false;
        view_.Close();
    }
}

// An export still running after the delay shows where it stands until its work is over; a
// short one never shows its progress.
void MainWindowBehaviour::OnExportProgress(ExportPhase phase, int done, int total) {
    if (phase == ExportPhase::kSaving && done >= total) {
        EndExportProgress();  // saved: only the result is left to show
        return;
    }
    if (!exportProgressShown_) {
        const auto now = monotonicNow_();
        if (!exportStarted_) exportStarted_ = now;
        if (now - *exportStarted_ < exportProgressDelay) return;
        exportProgressShown_ = true;
    }
    const int steps = std::max(total, 1);
    view_.ShowExportProgress(kExportPhaseLabels[static_cast<int>(phase)], std::min(done, steps),
                             steps);
}

void MainWindowBehaviour::EndExportProgress() {
    exportStarted_.reset();
    if (!exportProgressShown_) return;
    exportProgressShown_ = false;
    view_.EndExportProgress();
}

void MainWindowBehaviour::OnStatusTextPosted(int field, std::string_view text) {
    if (field >= 0 && field < kStatusPartCount) view_.SetStatusPartText(field, text);
    if (field == kJournalField) ShowJournalField(text);
}

void MainWindowBehaviour::OnTimerPeriodPosted(int milliseconds) {
    if (milliseconds <= 0) {
        view_.StopTimer();
        return;
    }
    view_.RunTimer(milliseconds);
}

void MainWindowBehaviour::ShowJournalField(std::string_view text) {
    view_.ShowJournalField(text);
    if (journalFieldShown_) return;
    journalFieldShown_ = true;
    PlaceControls();
}

void MainWindowBehaviour::HideJournalField() {
    if (!journalFieldShown_) return;
    journalFieldShown_ = false;
    view_.HideJournalField();
    PlaceControls();
}

}  // namespace velmora
