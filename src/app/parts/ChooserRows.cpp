#include "app/parts/ChooserRows.h"

#include "app/design/FocusRing.h"
#include "app/design/Vosk.h"

#include <QFontMetrics>
#include <QListWidget>
#include <QPainter>

ChooserRows::ChooserRows(QListWidget* list) : QStyledItemDelegate(list), m_list(list)
{
    list->setItemDelegate(this);
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
