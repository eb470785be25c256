#include "cli/CliWindow.h"

#include "text/CodePage.h"

namespace velmora::cli {

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

void CliWindow::WriteLine(std::ostream& out, std::string_view line) {
    std::lock_guard lock(mutex_);
    out << line << '\n' << std::flush;
}

void CliWindow::SetStatusText(int field, const Text& text) {
    WriteLine(messagesOut_,
              "status[" + std::to_string(field) + "]: " + EscapeField(SystemToUtf8(text)));
}

void CliWindow::SetTimerPeriod(int milliseconds) {
    WriteLine(messagesOut_, "timer: " + std::to_string(milliseconds));
}

void CliWindow::SetCell(int row, int column, const Text& text) {
    if (!Rows().SetCell(row, column, text)) return;
    // One thread writes a row's cells, so the row read back is the one this write completed.
    const ResultTable::Cells cells = Rows().ReadRow(row);
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) line += '\t';
        line += EscapeField(SystemToUtf8(cells[i]));
    }
    WriteLine(rowsOut_, line);
}

int CliWindow::ShowMessage(const Text& text, const Text& /*caption*/, unsigned flags) {
    WriteLine(messagesOut_, "message: " + EscapeField(SystemToUtf8(text)));
    // Nobody is there to answer: a question counts as answered No, anything else as OK.
    return (flags & MessageBoxFlag::kYesNo) != 0 ? kAnswerNo : kAnswerOk;
}

bool CliWindow::SetClipboardText(const Text& text) {
    WriteLine(messagesOut_, "clipboard: " + std::to_string(text.size()) + " bytes");
    return true;
}

Text CliWindow::AskSaveFileName(const SaveDialogRequest& /*request*/) {
    std::lock_guard lock(mutex_);
    return saveFileName_;
}

}  // namespace velmora::cli
