#pragma once

#include <QStyledItemDelegate>

class QListWidget;

// How the choosers' lists draw a row: the name inset from the row's edges, so the focus ring round the
// current row runs outside its text rather than through it; the chosen row on the selection colour; a
// row that cannot be chosen (a file where a folder is asked for) in the muted ink. A list with the
// keyboard's focus and no current row (an empty one) wears the ring round its own edge.
class ChooserRows final : public QStyledItemDelegate {
public:
    // Rows of `list`, which this delegate draws from now on.
    explicit ChooserRows(QListWidget* list);

    // Room between the row's edge and its text, on either side.
    static constexpr int inset = 10;
    // Whether `list` wears the focus ring round its whole edge: it shows the ring, and no row can.
    static bool ringsWholeList(const QListWidget* list);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    QListWidget* m_list;
};
