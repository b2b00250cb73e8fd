#include "desktop/ItemListModel.h"

#include <QSize>

#include "desktop/QtText.h"

namespace vantor::desktop {

ItemListModel::ItemListModel(QObject* parent) : QAbstractListModel(parent) {}

void ItemListModel::Reset(const TItemsControl& control) {
    beginResetModel();
    lines_.clear();
    lines_.reserve(control.Count());
    for (const std::string& line : control.Items()) lines_.append(ToQt(line));
    endResetModel();
}

void ItemListModel::Apply(const TItemsControl& control, TStringList::Change change, int index) {
    switch (change) {
    case TStringList::Change::Inserted:
        if (index < 0 || index > lines_.size() || index >= control.Count()) break;
        beginInsertRows(QModelIndex(), index, index);
        lines_.insert(index, ToQt(control.Items()[index]));
        endInsertRows();
        return;
    case TStringList::Change::Deleted:
        if (index < 0 || index >= lines_.size()) break;
        beginRemoveRows(QModelIndex(), index, index);
        lines_.removeAt(index);
        endRemoveRows();
        return;
    case TStringList::Change::Replaced:
        if (index < 0 || index >= lines_.size() || index >= control.Count()) break;
        lines_[index] = ToQt(control.Items()[index]);
        emit dataChanged(this->index(index), this->index(index));
        return;
    case TStringList::Change::Cleared: break;
    }
    // A whole new list, or a change that does not fit the copy: start over.
    Reset(control);
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
