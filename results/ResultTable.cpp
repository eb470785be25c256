#include "results/ResultTable.h"

#include <algorithm>
#include <utility>

namespace velmora {
namespace {

bool InTable(std::size_t rowCount, int row, int column) {
    return row >= 0 && static_cast<std::size_t>(row) < rowCount && column >= 0 &&
           column < kResultColumnCount;
}

}  // namespace

int ResultTable::AppendRow() {
    std::lock_guard lock(mutex_);
    if (rows_.size() >= static_cast<std::size_t>(kMaxRows)) return -1;
    rows_.emplace_back();
    NoteChange();
    return static_cast<int>(rows_.size()) - 1;
}

bool ResultTable::SetCell(int row, int column, const Text& text) {
    std::lock_guard lock(mutex_);
    if (!InTable(rows_.size(), row, column)) return false;
    Row& target = rows_[static_cast<std::size_t>(row)];
    target.cells[static_cast<std::size_t>(column)] = text;
    const bool wasComplete = target.written == kAllColumnsWritten;
    target.written |= 1u << column;
    if (firstChangedRow_ > lastChangedRow_) {
        firstChangedRow_ = lastChangedRow_ = row;
    } else {
        firstChangedRow_ = std::min(firstChangedRow_, row);
        lastChangedRow_ = std::max(lastChangedRow_, row);
    }
    NoteChange();
    return !wasComplete && target.written == kAllColumnsWritten;
}

Text ResultTable::ReadCell(int row, int column) const {
    std::lock_guard lock(mutex_);
    if (!InTable(rows_.size(), row, column)) return {};
    return rows_[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)];
}

ResultTable::Cells ResultTable::ReadRow(int row) const {
    std::lock_guard lock(mutex_);
    if (!InTable(rows_.size(), row, 0)) return {};
    return rows_[static_cast<std::size_t>(row)].cells;
}

void ResultTable::SetOrigin(int row, const RowOrigin& origin) {
    std::lock_guard lock(mutex_);
    if (InTable(rows_.size(), row, 0)) rows_[static_cast<std::size_t>(row)].origin = origin;
}

void ResultTable::MarkUnread(int row) {
    std::lock_guard lock(mutex_);
    if (!InTable(rows_.size(), row, 0)) return;
    const RowOrigin& origin = rows_[static_cast<std::size_t>(row)].origin;
    unreadRows_[{origin.searchId, origin.link}].push_back(row);
}

int ResultTable::TakeUnread(const RowOrigin& origin) {
    std::lock_guard lock(mutex_);
    const auto found = unreadRows_.find({origin.searchId, origin.link});
    if (found == unreadRows_.end()) return -1;
    const int row = found->second.front();
    found->second.pop_front();
    if (found->second.empty()) unreadRows_.erase(found);
    rows_[static_cast<std::size_t>(row)].written = 0;
    return row;
}

RowOrigin ResultTable::ReadOrigin(int row) const {
    std::lock_guard lock(mutex_);
    if (!InTable(rows_.size(), row, 0)) return {};
    return rows_[static_cast<std::size_t>(row)].origin;
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
