#pragma once
// Shows a ResultTable in 超级列表框1. The model knows only the rows it has announced to the view;
// changes arrive as one queued notification per batch, and each batch becomes one row insertion
// and one data change, however many rows the writers appended meanwhile.

#include <QAbstractTableModel>

#include "results/ResultTable.h"

namespace velmora {

class ResultListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ResultListModel(ResultTable& table, QObject* parent = nullptr);
    ~ResultListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Brings the view up to date with the table now (the queued notification calls it too).
    void ApplyChanges();

signals:
    // Emitted by the table's writers, on their own threads; queued to ApplyChanges.
    void ChangesPosted();

private:
    ResultTable& table_;
    int shownRows_ = 0;
};

}  // namespace velmora
