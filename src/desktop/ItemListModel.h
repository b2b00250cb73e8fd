#pragma once
// The items of a list control as a Qt list model.  The model keeps its own
// copy of the lines, converted to Unicode once, and follows the control's
// item changes one line at a time: the traffic log appends a line and drops
// the oldest hundreds of times a second, and neither a repaint nor a change
// may read or convert the whole list again.  The changes are recorded as
// they happen and applied together when the view catches up, so the list
// repaints once for a whole batch of lines.
#include <QAbstractListModel>
#include <QList>
#include <QString>

#include <vector>

#include "toolkit/Controls.h"

namespace vantor::desktop {

class ItemListModel final : public QAbstractListModel {
public:
    explicit ItemListModel(QObject* parent = nullptr);

    // Copies the control's items (all of them; the view calls it at binding
    // time and whenever the list was replaced as a whole).
    void Reset(const TItemsControl& control);
    // Records one change as the control reports it (right after it).
    void Record(const TItemsControl& control, TStringList::Change change, int index);
    // Applies the recorded changes; a cleared list, or more changes than
    // lines, is read again whole.
    void ApplyRecorded(const TItemsControl& control);
    bool HasRecorded() const { return !recorded_.empty(); }
    // Row height of every line (0: the font's).
    void SetRowHeight(int height) { rowHeight_ = height; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    struct Recorded {
        TStringList::Change change;
        int index;
        QString text;
    };
    QList<QString> lines_;
    std::vector<Recorded> recorded_;
    bool resetNeeded_ = false;
    int rowHeight_ = 0;
};

} // namespace vantor::desktop
