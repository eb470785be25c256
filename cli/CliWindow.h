#pragma once
// The window as velmora-cli shows it: completed rows on one stream, everything else the window
// would show on another, one line each, in UTF-8. Safe to call from any thread; nothing waits
// on anything but the two streams.

#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

#include "results/TableFrontend.h"

namespace velmora::cli {

// What velmora-cli writes of any text that came from outside (rows, status texts, messages):
// backslash, tab, CR and LF as \\, \t, \r and \n, every other C0 control and DEL as \xHH,
// and U+0080 to U+009F as \u00HH (lower-case hex digits), so one row stays one line, no text
// can steer the terminal, and the original is read back unchanged.
std::string EscapeField(std::string_view utf8);

// A row as velmora-cli prints it: its cells in UTF-8, escaped, tab-separated.
std::string RowLine(const ResultRow& row);

class CliWindow : public TableFrontend {
public:
    // rows and messages: the two streams.
    CliWindow(std::ostream& rows, std::ostream& messages);

    // The name the save dialog answers with (empty: cancel).
    void SetSaveFileName(Text fileName);

    void SetStatusText(int field, const Text& text) override;
    void SetTimerPeriod(int milliseconds) override;
    // A row is shown once, when its last cell arrives; a row a stop left unfinished never is.
    void SetCell(int row, int column, const Text& text) override;
    int ShowMessage(const Text& text, const Text& caption, unsigned flags) override;
    bool SetClipboardText(const Text& text) override;
    Text AskSaveFileName(const SaveDialogRequest& request) override;

private:
    void WriteLine(std::ostream& out, std::string_view line);

    std::ostream& rowsOut_;
    std::ostream& messagesOut_;
    std::mutex mutex_;
    Text saveFileName_;
};

}  // namespace velmora::cli
