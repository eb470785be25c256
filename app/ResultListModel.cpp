#include "app/ResultListModel.h"

#include <QTextDocument>
#include <algorithm>

#include "text/CodePage.h"
#include "window/MainWindowForm.h"

namespace velmora {
namespace {

QVariant AlignmentOf(int column) {
    const Qt::Alignment alignment = kListColumns[column].alignment == ColumnAlignment::kCentre
                                        ? Qt::AlignCenter
                                        : Qt::AlignLeft | Qt::AlignVCenter;
    return QVariant(alignment);
}

}  // namespace

ResultListModel::ResultListModel(ResultTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table) {
    // Through a connection, not a queued functor per change: a functor is freed by whichever
    // thread lets go of it last, often the writer, ordered only by Qt's reference count, which
    // the thread sanitizer cannot see.
    connect(this, &ResultListModel::ChangesPosted, this, &ResultListModel::ApplyChanges,
            Qt::QueuedConnection);
    table_.SetChangeListener([this] { emit ChangesPosted(); });
    ApplyChanges();
}

ResultListModel::~ResultListModel() {
    table_.SetChangeListener({});
}

int ResultListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shownRows_;
}

int ResultListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kResultColumnCount;
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shownRows_) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        Text text = table_.ReadCell(index.row(), index.column());
        if (text.empty()) return {};
        QString shown = QString::fromStdString(SystemToUtf8(text));
        // A tooltip that looks like markup is drawn as markup: the cell's text, from the site, is
        // handed over as the markup that shows it literally.
        if (role == Qt::ToolTipRole) return Qt::convertFromPlainText(shown);
        return shown;
    }
    if (role == Qt::TextAlignmentRole) return AlignmentOf(index.column());
    return {};
}

QVariant ResultListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kResultColumnCount) return {};
    if (role == Qt::DisplayRole) return QString::fromUtf8(kListColumns[section].title);
    if (role == Qt::TextAlignmentRole) return AlignmentOf(section);
    return {};
}

void ResultListModel::ApplyChanges() {
    ResultTable::Changes changes = table_.TakeChanges();
    int shownBefore = shownRows_;
    if (changes.rowCount > shownRows_) {
        beginInsertRows({}, shownRows_, changes.rowCount - 1);
        shownRows_ = changes.rowCount;
        endInsertRows();
    }
    // Rows inserted just now are read fresh by the view; only older ones need repainting.
    int lastChanged = std::min(changes.lastChangedRow, shownBefore - 1);
    if (changes.firstChangedRow <= lastChanged) {
        emit dataChanged(index(changes.firstChangedRow, 0),
                         index(lastChanged, kResultColumnCount - 1),
                         {Qt::DisplayRole, Qt::ToolTipRole});
    }
}

}  // namespace velmora
