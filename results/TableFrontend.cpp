#include "results/TableFrontend.h"

namespace velmora {

int TableFrontend::AppendRow() {
    return rows_.AppendRow();
}

void TableFrontend::SetCell(int row, int column, const Text& text) {
    rows_.SetCell(row, column, text);
}

Text TableFrontend::ReadCell(int row, int column) {
    return rows_.ReadCell(row, column);
}

int TableFrontend::RowCount() {
    return rows_.RowCount();
}

void TableFrontend::SetRowOrigin(int row, const RowOrigin& origin) {
    rows_.SetOrigin(row, origin);
}

RowOrigin TableFrontend::ReadRowOrigin(int row) {
    return rows_.ReadOrigin(row);
}

void TableFrontend::MarkRowUnread(int row) {
    rows_.MarkUnread(row);
}

int TableFrontend::TakeUnreadRow(const RowOrigin& origin) {
    return rows_.TakeUnread(origin);
}

}  // namespace velmora
