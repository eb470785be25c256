#pragma once
// A window for tests: records every call the engine makes, in order, and lets a test wait for
// what it expects to see. Waits end on the recorded events; the time limit only turns a hang
// into a failure.

#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "results/ResultRow.h"
#include "results/TableFrontend.h"

namespace velmora::testing {

struct WindowEvent {
    enum class Kind { Status, Timer, Message, Clipboard, AppendRow, SetCell };
    Kind kind;
    int first = 0;     // status field, timer period, row index
    int second = 0;    // column
    std::string text;  // UTF-8
};

using Cells = std::array<std::string, kResultColumnCount>;  // UTF-8

class RecordingWindow : public TableFrontend {
public:
    explicit RecordingWindow(std::string keywordUtf8);
    void SetKeyword(std::string keywordUtf8);
    // Called on the writing thread after each cell is recorded. Set before a search starts.
    std::function<void(int row, int column)> afterSetCell;

    // The keyword box as the test typed it, system code page.
    Text Keyword() const;
    void SetStatusText(int field, const Text& text) override;
    void SetTimerPeriod(int milliseconds) override;
    int AppendRow() override;
    void SetCell(int row, int column, const Text& text) override;
    int ShowMessage(const Text& text, const Text& caption, unsigned flags) override;
    bool SetClipboardText(const Text& text) override;
    Text AskSaveFileName(const SaveDialogRequest& request) override;

    std::vector<WindowEvent> Events() const;
    // Texts (UTF-8) of one kind of event, in order; for status, of one field.
    std::vector<std::string> Texts(WindowEvent::Kind kind, int field = -1) const;
    std::vector<int> TimerPeriods() const;
    std::vector<Cells> RowsUtf8() const;
    // Rows whose seven cells have all been written.
    int CompleteRows() const;

    // Waits until `done` holds over the recorded events; false when it never did.
    bool WaitUntil(const std::function<bool(const std::vector<WindowEvent>&)>& done) const;
    bool WaitForStatus(int field, std::string_view utf8, int times = 1) const;
    bool WaitForMessage(std::string_view utf8) const;
    bool WaitForCompleteRows(int count) const;

private:
    void Record(WindowEvent event);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::string keyword_;
    std::vector<WindowEvent> events_;
    int completeRows_ = 0;
};

// Counts the events of a kind (and field, for status) whose text equals utf8.
int CountEvents(const std::vector<WindowEvent>& events, WindowEvent::Kind kind, int field,
                std::string_view utf8);

}  // namespace velmora::testing
