#include "cli/CliWindow.h"

#include "text/CodePage.h"

namespace velmora::cli {

namespace {

constexpr unsigned kAllColumns = (1u << kColumnCount) - 1;

}  // namespace

std::string EscapeField(std::string_view utf8) {
    std::string escaped;
    escaped.reserve(utf8.size());
    for (const char c : utf8) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\r':
                escaped += "\\r";
                break;
            case '\n':
                escaped += "\\n";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

CliWindow::CliWindow(Text keyword, std::ostream& rows, std::ostream& messages)
    : keyword_(std::move(keyword)), rowsOut_(rows), messagesOut_(messages) {}

void CliWindow::SetSaveFileName(Text fileName) {
    std::lock_guard lock(mutex_);
    saveFileName_ = std::move(fileName);
}

Text CliWindow::ReadKeyword() {
    return keyword_;
}

void CliWindow::WriteMessageLine(std::string_view line) {
    std::lock_guard lock(mutex_);
    messagesOut_ << line << '\n' << std::flush;
}

void CliWindow::SetStatusText(int part, const Text& text) {
    WriteMessageLine("status[" + std::to_string(part) + "]: " + EscapeField(SystemToUtf8(text)));
}

void CliWindow::SetTimerPeriod(int milliseconds) {
    WriteMessageLine("timer: " + std::to_string(milliseconds));
}

int CliWindow::AppendRow() {
    std::lock_guard lock(mutex_);
    rows_.emplace_back();
    return static_cast<int>(rows_.size()) - 1;
}

void CliWindow::SetCell(int row, int column, const Text& text) {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size()) || column < 0 || column >= kColumnCount) {
        return;
    }
    Row& target = rows_[static_cast<std::size_t>(row)];
    target.cells[static_cast<std::size_t>(column)] = text;
    target.written |= 1u << column;
    // A row is shown once, when its last cell arrives; a row a stop left unfinished never is.
    if (target.written != kAllColumns || target.shown) return;
    target.shown = true;
    std::string line;
    for (int i = 0; i < kColumnCount; ++i) {
        if (i > 0) line += '\t';
        line += EscapeField(SystemToUtf8(target.cells[static_cast<std::size_t>(i)]));
    }
    rowsOut_ << line << '\n' << std::flush;
}

Text CliWindow::ReadCell(int row, int column) {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size()) || column < 0 || column >= kColumnCount) {
        return {};
    }
    return rows_[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)];
}

int CliWindow::RowCount() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(rows_.size());
}

int CliWindow::ShowMessage(const Text& text, const Text& /*caption*/, unsigned flags) {
    WriteMessageLine("message: " + EscapeField(SystemToUtf8(text)));
    // Nobody is there to answer: a question counts as answered No, anything else as OK.
    return (flags & MessageBoxFlag::kYesNo) != 0 ? kAnswerNo : kAnswerOk;
}

bool CliWindow::SetClipboardText(const Text& text) {
    WriteMessageLine("clipboard: " + std::to_string(text.size()) + " bytes");
    return true;
}

Text CliWindow::AskSaveFileName(const SaveDialogRequest& /*request*/) {
    std::lock_guard lock(mutex_);
    return saveFileName_;
}

}  // namespace velmora::cli
