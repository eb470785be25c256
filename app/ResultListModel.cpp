#include "app/ResultListModel.h"

#include <QTextDocument>
#include <algorithm>

#include "text/CodePage.h"

namespace velmora {

const ResultListModel::Column ResultListModel::kColumns[kResultColumnCount] = {
    {"公司名", 150, Qt::AlignLeft | Qt::AlignVCenter},
    {"联系人", 50, Qt::AlignLeft | Qt::AlignVCenter},
    {"电话", 84, Qt::AlignCenter},
    {"手机", 78, Qt::AlignCenter},
    {"传真", 84, Qt::AlignLeft | Qt::AlignVCenter},
    {"邮箱", 115, Qt::AlignLeft | Qt::AlignVCenter},
    {"地址", 130, Qt::AlignLeft | Qt::AlignVCenter},
};

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
    if (role == Qt::TextAlignmentRole) return QVariant(kColumns[index.column()].alignment);
    return {};
}

QVariant ResultListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kResultColumnCount) return {};
    if (role == Qt::DisplayRole) return QString::fromUtf8(kColumns[section].title);
    if (role == Qt::TextAlignmentRole) return QVariant(kColumns[section].alignment);
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
