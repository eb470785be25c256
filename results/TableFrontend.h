#pragma once
// A front end whose result list is a ResultTable: the four row operations, written once for the
// window, velmora-cli and the tests. A front end that must see each write overrides the
// operation and calls Rows() itself.

#include "results/Frontend.h"
#include "results/ResultTable.h"

namespace velmora {

class TableFrontend : public Frontend {
public:
    ResultTable& Rows() { return rows_; }
    const ResultTable& Rows() const { return rows_; }

    int AppendRow() override;
    void SetCell(int row, int column, const Text& text) override;
    Text ReadCell(int row, int column) override;
    int RowCount() override;
    void SetRowOrigin(int row, const RowOrigin& origin) override;
    RowOrigin ReadRowOrigin(int row) override;
    void MarkRowUnread(int row) override;
    int TakeUnreadRow(const RowOrigin& origin) override;

private:
    ResultTable rows_;
};

}  // namespace velmora
