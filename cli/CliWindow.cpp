#include "cli/CliWindow.h"

#include "text/CodePage.h"

namespace velmora::cli {

std::string EscapeField(std::string_view utf8) {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0;
        switch (byte) {
            case '\\':
                escaped += "\\\\";
                continue;
            case '\t':
                escaped += "\\t";
                continue;
            case '\r':
                escaped += "\\r";
                continue;
            case '\n':
                escaped += "\\n";
                continue;
            default:
                break;
        }
        if (byte < 0x20 || byte == 0x7F) {
            escaped += "\\x";
            escaped += kHexDigits[byte >> 4];
            escaped += kHexDigits[byte & 0x0F];
        } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            // U+0080 to U+009F, which some terminals obey as controls too.
            escaped += "\\u00";
            escaped += kHexDigits[next >> 4];
            escaped += kHexDigits[next & 0x0F];
            ++i;
        } else {
            escaped += utf8[i];
        }
    }
    return escaped;
}

std::string RowLine(const ResultRow& row) {
    const auto cells = row.Columns();
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) line += '\t';
        line += EscapeField(SystemToUtf8(*cells[i]));
    }
    return line;
}

CliWindow::CliWindow(std::ostream& rows, std::ostream& messages)
    : rowsOut_(rows), messagesOut_(messages) {}

void CliWindow::SetSaveFileName(Text fileName) {
    std::lock_guard lock(mutex_);
    saveFileName_ = std::move(fileName);
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
    ResultTable::Cells cells = Rows().ReadRow(row);
    const ResultRow completed{std::move(cells[0]), std::move(cells[1]), std::move(cells[2]),
                              std::move(cells[3]), std::move(cells[4]), std::move(cells[5]),
                              std::move(cells[6])};
    WriteLine(rowsOut_, RowLine(completed));
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
