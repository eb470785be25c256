#include "app/ResultTable.h"

#include <algorithm>
#include <utility>

namespace velmora {

int ResultTable::AppendRow() {
    std::lock_guard lock(mutex_);
    if (rows_.size() >= static_cast<size_t>(kMaxRows)) return -1;
    rows_.emplace_back();
    NoteChange();
    return static_cast<int>(rows_.size()) - 1;
}

void ResultTable::SetCell(int row, int column, const Text& text) {
    std::lock_guard lock(mutex_);
    if (row < 0 || static_cast<size_t>(row) >= rows_.size() || column < 0 || column >= kColumnCount)
        return;
    rows_[static_cast<size_t>(row)][static_cast<size_t>(column)] = text;
    if (firstChangedRow_ > lastChangedRow_) {
        firstChangedRow_ = lastChangedRow_ = row;
    } else {
        firstChangedRow_ = std::min(firstChangedRow_, row);
        lastChangedRow_ = std::max(lastChangedRow_, row);
    }
    NoteChange();
}

Text ResultTable::ReadCell(int row, int column) const {
    std::lock_guard lock(mutex_);
    if (row < 0 || static_cast<size_t>(row) >= rows_.size() || column < 0 || column >= kColumnCount)
        return {};
    return rows_[static_cast<size_t>(row)][static_cast<size_t>(column)];
}

int ResultTable::RowCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(rows_.size());
}

void ResultTable::SetChangeListener(ChangeListener listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
    changeAnnounced_ = false;
}

ResultTable::Changes ResultTable::TakeChanges() {
    std::lock_guard lock(mutex_);
    Changes changes{static_cast<int>(rows_.size()), firstChangedRow_, lastChangedRow_};
    firstChangedRow_ = 0;
    lastChangedRow_ = -1;
    changeAnnounced_ = false;
    return changes;
}

void ResultTable::NoteChange() {
    if (changeAnnounced_ || !listener_) return;
    changeAnnounced_ = true;
    listener_();
}

}  // namespace velmora
