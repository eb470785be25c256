#include "RecordingWindow.h"

#include "text/CodePage.h"

namespace velmora::testing {

namespace {

// Far beyond any wait a passing test makes, even under the sanitizers.
constexpr auto kPatience = std::chrono::seconds(60);
constexpr unsigned kAllCells = (1u << 7) - 1;

}  // namespace

int CountEvents(const std::vector<WindowEvent>& events, WindowEvent::Kind kind, int part,
                std::string_view utf8) {
    int count = 0;
    for (const WindowEvent& event : events) {
        if (event.kind == kind && (part < 0 || event.first == part) && event.text == utf8) {
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

Text RecordingWindow::ReadKeyword() {
    std::lock_guard lock(mutex_);
    return Utf8ToSystem(keyword_);
}

void RecordingWindow::SetStatusText(int part, const Text& text) {
    Record({WindowEvent::Kind::Status, part, 0, SystemToUtf8(text)});
}

void RecordingWindow::SetTimerPeriod(int milliseconds) {
    Record({WindowEvent::Kind::Timer, milliseconds, 0, {}});
}

int RecordingWindow::AppendRow() {
    int row = 0;
    {
        std::lock_guard lock(mutex_);
        rows_.emplace_back();
        written_.push_back(0);
        row = static_cast<int>(rows_.size()) - 1;
        events_.push_back({WindowEvent::Kind::AppendRow, row, 0, {}});
    }
    changed_.notify_all();
    return row;
}

void RecordingWindow::SetCell(int row, int column, const Text& text) {
    {
        std::lock_guard lock(mutex_);
        const std::string utf8 = SystemToUtf8(text);
        if (row >= 0 && row < static_cast<int>(rows_.size()) && column >= 0 && column < 7) {
            rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = utf8;
            written_[static_cast<std::size_t>(row)] |= 1u << column;
        }
        events_.push_back({WindowEvent::Kind::SetCell, row, column, utf8});
    }
    changed_.notify_all();
}

Text RecordingWindow::ReadCell(int row, int column) {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size()) || column < 0 || column >= 7) return {};
    return Utf8ToSystem(rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)]);
}

int RecordingWindow::RowCount() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(rows_.size());
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

std::vector<std::string> RecordingWindow::Texts(WindowEvent::Kind kind, int part) const {
    std::vector<std::string> texts;
    for (const WindowEvent& event : Events()) {
        if (event.kind == kind && (part < 0 || event.first == part)) texts.push_back(event.text);
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

std::vector<Cells> RecordingWindow::Rows() const {
    std::lock_guard lock(mutex_);
    return rows_;
}

int RecordingWindow::CompleteRows() const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const unsigned written : written_) count += written == kAllCells ? 1 : 0;
    return count;
}

bool RecordingWindow::WaitUntil(
    const std::function<bool(const std::vector<WindowEvent>&)>& done) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return done(events_); });
}

bool RecordingWindow::WaitForStatus(int part, std::string_view utf8, int times) const {
    return WaitUntil([&](const std::vector<WindowEvent>& events) {
        return CountEvents(events, WindowEvent::Kind::Status, part, utf8) >= times;
    });
}

bool RecordingWindow::WaitForMessage(std::string_view utf8) const {
    return WaitUntil([&](const std::vector<WindowEvent>& events) {
        return CountEvents(events, WindowEvent::Kind::Message, -1, utf8) >= 1;
    });
}

bool RecordingWindow::WaitForCompleteRows(int count) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] {
        int complete = 0;
        for (const unsigned written : written_) complete += written == kAllCells ? 1 : 0;
        return complete >= count;
    });
}

}  // namespace velmora::testing
