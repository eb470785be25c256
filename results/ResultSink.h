#pragma once
// ResultSink: where a search's results and progress go, whatever shows them (the window,
// velmora-cli, the tests): the list's rows, the status bar, the elapsed-time timer, and the
// messages and clipboard texts a search leaves for the user. Any thread may call it, and
// nothing in it waits for the user: a window posts what it cannot show at once.

#include "results/ResultRow.h"
#include "text/Text.h"

namespace velmora {

// Message-box flags and answers, in the classic message box's values, which callers combine
// with | and compare as they are.
namespace MessageBoxFlag {
inline constexpr unsigned kOk = 0x0;
inline constexpr unsigned kYesNo = 0x4;
inline constexpr unsigned kIconError = 0x10;
inline constexpr unsigned kIconQuestion = 0x20;
inline constexpr unsigned kIconWarning = 0x30;
inline constexpr unsigned kIconInformation = 0x40;
inline constexpr unsigned kTaskModal = 0x2000;
inline constexpr unsigned kRightAligned = 0x80000;
}  // namespace MessageBoxFlag
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

// The caption of a message box that names none.
inline constexpr const char* kDefaultMessageCaption = "信息：";

// The status bar's field for notices, the last of the four: the crawl's tips, a settings file
// not used.
inline constexpr int kNoticeStatusField = 3;
// A fifth field for what the journal has to say (rows restored, rows not kept), shown only once
// something is written to it.
inline constexpr int kJournalField = 4;

class ResultSink {
public:
    virtual ~ResultSink() = default;

    // 状态条1: the status bar's fields 0 to 3, left to right, and kJournalField
    virtual void SetStatusText(int field, const Text& text) = 0;
    // 时钟1: 1000 runs the elapsed-time display, 0 stops it
    virtual void SetTimerPeriod(int milliseconds) = 0;

    // 超级列表框1: rows and columns (ResultColumn) are 0-based; AppendRow returns the new row's
    // index.
    virtual int AppendRow() = 0;
    virtual void SetCell(int row, int column, const Text& text) = 0;
    virtual Text ReadCell(int row, int column) = 0;
    virtual int RowCount() = 0;
    // Where a row came from. A sink that keeps no origins reads every row as of none; its lead
    // lists then merge rows by their cells alone and count each row as of no kept search.
    virtual void SetRowOrigin(int /*row*/, const RowOrigin& /*origin*/) {}
    virtual RowOrigin ReadRowOrigin(int /*row*/) { return {}; }
    // A row shown for a company whose page could not be read, for a resumed search to fill
    // where it stands: TakeUnreadRow gives the first such row of `origin` and forgets it, -1
    // when there is none. A sink that keeps no origins has none.
    virtual void MarkRowUnread(int /*row*/) {}
    virtual int TakeUnreadRow(const RowOrigin& /*origin*/) { return -1; }

    // Returns the answer (kAnswerOk, kAnswerYes, ...): kAnswerOk at once from a thread that
    // cannot show the box now. An empty caption means the default one.
    virtual int ShowMessage(const Text& text, const Text& caption = {},
                            unsigned flags = MessageBoxFlag::kOk) = 0;
    // Replaces the clipboard's contents; false when it could not be opened.
    virtual bool SetClipboardText(const Text& text) = 0;
};

}  // namespace velmora
