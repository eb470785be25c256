#pragma once
// The result list's rows, kept apart from whatever shows them so that any thread may append and
// fill rows without waiting for another. A viewer learns of changes in batches: the first
// change after it has caught up calls the change listener once; it then takes every change
// made until then in one go.

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "results/ResultRow.h"
#include "text/Text.h"

namespace velmora {

class ResultTable {
public:
    // Memory runs out long before this; the cap keeps row indexes well inside an int.
    static constexpr int kMaxRows = 20'000'000;

    using Cells = std::array<Text, kResultColumnCount>;

    // What changed since the last TakeChanges: the row count now, and the rows whose cells were
    // set (firstChangedRow > lastChangedRow when none was).
    struct Changes {
        int rowCount = 0;
        int firstChangedRow = 0;
        int lastChangedRow = -1;
    };
    // Called on the writing thread, with the table locked: it must only post a notification.
    using ChangeListener = std::function<void()>;

    // The new row's index, or -1 when the table is full.
    int AppendRow();
    // Cells outside the table are ignored. True for the write that completes the row, the first
    // after which every cell of it has been written; false for every other.
    bool SetCell(int row, int column, const Text& text);
    // Cells outside the table read as the empty text.
    Text ReadCell(int row, int column) const;
    Cells ReadRow(int row) const;
    // Not a cell: setting it changes nothing a viewer shows. Rows outside the table are ignored
    // and read as of no origin.
    void SetOrigin(int row, const RowOrigin& origin);
    RowOrigin ReadOrigin(int row) const;
    // Rows of companies whose page could not be read, by origin: TakeUnread gives the first
    // marked row of `origin` and forgets it, ready to be written again as a new row is; -1 when
    // there is none.
    void MarkUnread(int row);
    int TakeUnread(const RowOrigin& origin);
    int RowCount() const;

    // Once set to empty, no writer can call the previous listener any more.
    void SetChangeListener(ChangeListener listener);
    Changes TakeChanges();

private:
    struct Row {
        Cells cells;
        unsigned written = 0;  // one bit per column
        RowOrigin origin;
    };
    static constexpr unsigned kAllColumnsWritten = (1u << kResultColumnCount) - 1;

    void NoteChange();

    mutable std::mutex mutex_;
    std::deque<Row> rows_;
    std::map<std::pair<std::int64_t, Text>, std::deque<int>> unreadRows_;
    ChangeListener listener_;
    bool changeAnnounced_ = false;
    int firstChangedRow_ = 0;
    int lastChangedRow_ = -1;
};

}  // namespace velmora
