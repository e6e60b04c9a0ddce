#include "app/parts/ChooserRows.h"

#include "app/design/FocusRing.h"
#include "app/design/Vosk.h"

#include <QFontMetrics>
#include <QListWidget>
#include <QPainter>

ChooserRows::ChooserRows(QListWidget* list) : QStyledItemDelegate(list), m_list(list)
{
    list->setItemDelegate(this);
    // An empty list has no row to wear the ring: it goes round the list itself.
    FocusRing::wear(list, list, [list] { return ringsWholeList(list); });
    const auto follow = [list] { list->update(); };
    QAbstractItemModel* model = list->model();
    connect(model, &QAbstractItemModel::rowsInserted, list, follow);
    connect(model, &QAbstractItemModel::rowsRemoved, list, follow);
    connect(model, &QAbstractItemModel::modelReset, list, follow);
    connect(list->selectionModel(), &QItemSelectionModel::currentChanged, list, follow);
}

bool ChooserRows::ringsWholeList(const QListWidget* list)
{
    return FocusRing::shows(list) && !list->currentIndex().isValid();
}

QSize ChooserRows::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return {option.rect.width(), option.fontMetrics.height() + 12};
}

void ChooserRows::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF row = QRectF(option.rect).adjusted(2, 1, -2, -1);
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    if (selected)
        painter->fillPath(Vosk::roundedRect(row, Vosk::controlRadius),
                          option.palette.color(QPalette::Active, QPalette::Highlight));
    const bool enabled = index.flags().testFlag(Qt::ItemIsEnabled);
    const QColor ink = selected  ? option.palette.color(QPalette::Active, QPalette::HighlightedText)
                       : enabled ? Vosk::ink.color()
                                 : Vosk::muted.color();
    painter->setPen(ink);
    painter->setFont(option.font);
    const QRect text = option.rect.adjusted(inset, 0, -inset, 0);
    const QString name =
        option.fontMetrics.elidedText(index.data().toString(), Qt::ElideMiddle, text.width());
    painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, name);
    // The current row wears the ring while the list has the keyboard's focus, round the row's edge.
    if (option.state.testFlag(QStyle::State_HasFocus) && FocusRing::shows(m_list))
        FocusRing::paint(*painter, row, Vosk::controlRadius,
                         selected ? std::optional(option.palette.color(QPalette::Active, QPalette::Highlight))
                                  : std::nullopt);
    painter->restore();
}
