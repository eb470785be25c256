#pragma once
// The rows of 超级列表框1, kept apart from the view so that any thread may append and fill
// rows without waiting for the window's thread. The view learns of changes in batches: the
// first change after the view has caught up calls the change listener once; the view then
// takes every change made until then in one go.

#include <array>
#include <deque>
#include <functional>
#include <mutex>

#include "text/Text.h"

namespace velmora {

class ResultTable {
public:
    static constexpr int kColumnCount = 7;
    // Memory runs out long before this; the cap keeps row indexes well inside an int.
    static constexpr int kMaxRows = 20'000'000;

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
    // Cells outside the table are ignored.
    void SetCell(int row, int column, const Text& text);
    // Cells outside the table read as the empty text.
    Text ReadCell(int row, int column) const;
    int RowCount() const;

    // Once set to empty, no writer can call the previous listener any more.
    void SetChangeListener(ChangeListener listener);
    Changes TakeChanges();

private:
    void NoteChange();

    mutable std::mutex mutex_;
    std::deque<std::array<Text, kColumnCount>> rows_;
    ChangeListener listener_;
    bool changeAnnounced_ = false;
    int firstChangedRow_ = 0;
    int lastChangedRow_ = -1;
};

}  // namespace velmora
