#include "desktop/ItemListModel.h"

#include <QSize>

#include <algorithm>

#include "desktop/QtText.h"

namespace vantor::desktop {

ItemListModel::ItemListModel(QObject* parent) : QAbstractListModel(parent) {}

void ItemListModel::Reset(const TItemsControl& control) {
    recorded_.clear();
    resetNeeded_ = false;
    beginResetModel();
    lines_.clear();
    lines_.reserve(control.Count());
    for (const std::string& line : control.Items()) lines_.append(ToQt(line));
    endResetModel();
}

void ItemListModel::Record(const TItemsControl& control, TStringList::Change change, int index) {
    if (resetNeeded_) return;
    if (change == TStringList::Change::Cleared ||
        static_cast<int>(recorded_.size()) > std::max(64, control.Count())) {
        recorded_.clear();
        resetNeeded_ = true;
        return;
    }
    QString text;
    if (change == TStringList::Change::Inserted || change == TStringList::Change::Replaced)
        text = ToQt(control.Items()[index]);
    recorded_.push_back({change, index, std::move(text)});
}

void ItemListModel::ApplyRecorded(const TItemsControl& control) {
    std::vector<Recorded> batch;
    batch.swap(recorded_);
    if (resetNeeded_) {
        resetNeeded_ = false;
        Reset(control);
        return;
    }
    for (Recorded& r : batch) {
        switch (r.change) {
        case TStringList::Change::Inserted:
            if (r.index < 0 || r.index > lines_.size()) return Reset(control);
            beginInsertRows(QModelIndex(), r.index, r.index);
            lines_.insert(r.index, std::move(r.text));
            endInsertRows();
            break;
        case TStringList::Change::Deleted:
            if (r.index < 0 || r.index >= lines_.size()) return Reset(control);
            beginRemoveRows(QModelIndex(), r.index, r.index);
            lines_.removeAt(r.index);
            endRemoveRows();
            break;
        case TStringList::Change::Replaced:
            if (r.index < 0 || r.index >= lines_.size()) return Reset(control);
            lines_[r.index] = std::move(r.text);
            emit dataChanged(index(r.index), index(r.index));
            break;
        case TStringList::Change::Cleared: return Reset(control);
        }
    }
    // A copy that does not match the control (never expected): start over.
    if (lines_.size() != control.Count()) Reset(control);
}

int ItemListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant ItemListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= lines_.size()) return {};
    if (role == Qt::DisplayRole) return lines_[index.row()];
    if (role == Qt::SizeHintRole && rowHeight_ > 0) return QSize(-1, rowHeight_);
    return {};
}

} // namespace vantor::desktop
