#include "app/parts/ChooserRows.h"

#include "app/design/FocusRing.h"
#include "app/design/Vosk.h"

#include <QEvent>
#include <QFontMetrics>
#include <QListWidget>
#include <QPainter>
#include <QTimer>

namespace {

// The ring of a list that has the keyboard's focus but no row to wear it (an empty folder's list), round
// the list's own edge; it takes no clicks and no focus.
class ListRing final : public QWidget {
public:
    explicit ListRing(QListWidget* list) : QWidget(list), m_list(list)
    {
        setObjectName(QStringLiteral("listRing"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(list->rect());
        list->installEventFilter(this);
        const auto follow = [this] { update(); };
        QAbstractItemModel* model = list->model();
        connect(model, &QAbstractItemModel::rowsInserted, this, follow);
        connect(model, &QAbstractItemModel::rowsRemoved, this, follow);
        connect(model, &QAbstractItemModel::modelReset, this, follow);
        connect(list->selectionModel(), &QItemSelectionModel::currentChanged, this, follow);
        raise();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_list)
            return false;
        switch (event->type()) {
        case QEvent::Resize:
            setGeometry(m_list->rect());
            break;
        case QEvent::ChildAdded:
            // A child added later (a scroll bar shown) would otherwise cover the ring.
            QTimer::singleShot(0, this, [this] { raise(); });
            break;
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            update();
            break;
        default:
            break;
        }
        return false;
    }

    void paintEvent(QPaintEvent*) override
    {
        if (!ChooserRows::ringsWholeList(m_list))
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        FocusRing::paint(painter, QRectF(rect()), Vosk::controlRadius);
    }

private:
    QListWidget* m_list;
};

} // namespace

ChooserRows::ChooserRows(QListWidget* list) : QStyledItemDelegate(list), m_list(list)
{
    list->setItemDelegate(this);
    new ListRing(list);
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
