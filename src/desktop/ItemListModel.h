#pragma once
// The items of a list control as a Qt list model.  The model keeps its own
// copy of the lines, converted to Unicode once, and follows the control's
// item changes one line at a time: the traffic log appends a line and drops
// the oldest hundreds of times a second, and neither a repaint nor a change
// may read or convert the whole list again.
#include <QAbstractListModel>
#include <QList>
#include <QString>

#include "toolkit/Controls.h"

namespace vantor::desktop {

class ItemListModel final : public QAbstractListModel {
public:
    explicit ItemListModel(QObject* parent = nullptr);

    // Copies the control's items (all of them; the view calls it at binding
    // time and whenever the list was replaced as a whole).
    void Reset(const TItemsControl& control);
    // One change as the control reports it.
    void Apply(const TItemsControl& control, TStringList::Change change, int index);
    // Row height of every line (0: the font's).
    void SetRowHeight(int height) { rowHeight_ = height; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    QList<QString> lines_;
    int rowHeight_ = 0;
};

} // namespace vantor::desktop
