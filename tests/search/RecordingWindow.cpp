#include "RecordingWindow.h"

#include "text/CodePage.h"

namespace velmora::testing {

namespace {

// Far beyond any wait a passing test makes, even under the sanitizers.
constexpr auto kPatience = std::chrono::seconds(60);

}  // namespace

int CountEvents(const std::vector<WindowEvent>& events, WindowEvent::Kind kind, int field,
                std::string_view utf8) {
    int count = 0;
    for (const WindowEvent& event : events) {
        if (event.kind == kind && (field < 0 || event.first == field) && event.text == utf8) {
            ++count;
        }
    }
    return count;
}

RecordingWindow::RecordingWindow(std::string keywordUtf8) : keyword_(std::move(keywordUtf8)) {}

void RecordingWindow::SetKeyword(std::string keywordUtf8) {
    std::lock_guard lock(mutex_);
    keyword_ = std::move(keywordUtf8);
}

void RecordingWindow::Record(WindowEvent event) {
    {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    changed_.notify_all();
}

Text RecordingWindow::Keyword() const {
    std::lock_guard lock(mutex_);
    return Utf8ToSystem(keyword_);
}

void RecordingWindow::SetStatusText(int field, const Text& text) {
    Record({WindowEvent::Kind::Status, field, 0, SystemToUtf8(text)});
}

void RecordingWindow::SetTimerPeriod(int milliseconds) {
    Record({WindowEvent::Kind::Timer, milliseconds, 0, {}});
}

// The table's write and its event go under one lock, so the events keep the writes' order.
int RecordingWindow::AppendRow() {
    int row = 0;
    {
        std::lock_guard lock(mutex_);
        row = Rows().AppendRow();
        events_.push_back({WindowEvent::Kind::AppendRow, row, 0, {}});
    }
    changed_.notify_all();
    return row;
}

void RecordingWindow::SetCell(int row, int column, const Text& text) {
    {
        std::lock_guard lock(mutex_);
        if (Rows().SetCell(row, column, text)) ++completeRows_;
        events_.push_back({WindowEvent::Kind::SetCell, row, column, SystemToUtf8(text)});
    }
    changed_.notify_all();
    if (afterSetCell) afterSetCell(row, column);
}

int RecordingWindow::ShowMessage(const Text& text, const Text& /*caption*/, unsigned /*flags*/) {
    Record({WindowEvent::Kind::Message, 0, 0, SystemToUtf8(text)});
    return kAnswerOk;
}

bool RecordingWindow::SetClipboardText(const Text& text) {
    Record({WindowEvent::Kind::Clipboard, 0, 0, SystemToUtf8(text)});
    return true;
}

Text RecordingWindow::AskSaveFileName(const SaveDialogRequest& /*request*/) {
    return {};
}

std::vector<WindowEvent> RecordingWindow::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<std::string> RecordingWindow::Texts(WindowEvent::Kind kind, int field) const {
    std::vector<std::string> texts;
    for (const WindowEvent& event : Events()) {
        if (event.kind == kind && (field < 0 || event.first == field)) texts.push_back(event.text);
    }
    return texts;
}

std::vector<int> RecordingWindow::TimerPeriods() const {
    std::vector<int> periods;
    for (const WindowEvent& event : Events()) {
        if (event.kind == WindowEvent::Kind::Timer) periods.push_back(event.first);
    }
    return periods;
}

std::vector<Cells> RecordingWindow::RowsUtf8() const {
    std::vector<Cells> rows(static_cast<std::size_t>(Rows().RowCount()));
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const ResultTable::Cells cells = Rows().ReadRow(static_cast<int>(row));
        for (std::size_t column = 0; column < cells.size(); ++column) {
            rows[row][column] = SystemToUtf8(cells[column]);
        }
    }
    return rows;
}

int RecordingWindow::CompleteRows() const {
    std::lock_guard lock(mutex_);
    return completeRows_;
}

bool RecordingWindow::WaitUntil(
    const std::function<bool(const std::vector<WindowEvent>&)>& done) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return done(events_); });
}

bool RecordingWindow::WaitForStatus(int field, std::string_view utf8, int times) const {
    return WaitUntil([&](const std::vector<WindowEvent>& events) {
        return CountEvents(events, WindowEvent::Kind::Status, field, utf8) >= times;
    });
}

bool RecordingWindow::WaitForMessage(std::string_view utf8) const {
    return WaitUntil([&](const std::vector<WindowEvent>& events) {
        return CountEvents(events, WindowEvent::Kind::Message, -1, utf8) >= 1;
    });
}

bool RecordingWindow::WaitForCompleteRows(int count) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return completeRows_ >= count; });
}

}  // namespace velmora::testing
