#pragma once

#include <QStyledItemDelegate>

class QListWidget;

// How the choosers' lists draw a row: the name inset from the row's edges, so the focus ring round the
// current row runs outside its text rather than through it; the chosen row on the selection colour; a
// row that cannot be chosen (a file where a folder is asked for) in the muted ink.
class ChooserRows final : public QStyledItemDelegate {
public:
    // Rows of `list`, which this delegate draws from now on.
    explicit ChooserRows(QListWidget* list);

    // Room between the row's edge and its text, on either side.
    static constexpr int inset = 10;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    QListWidget* m_list;
};
