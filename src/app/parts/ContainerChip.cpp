#include "app/parts/ContainerChip.h"

#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/parts/ContainerDot.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

constexpr double dotSize = 7;
constexpr double hollowSize = 6;
constexpr double triangleSize = 9;

// A chip is one element named by its label and its status, which moves on with every listing while
// the container is young: the name is made when asked for rather than stored at every listing.
class ChipAccessible final : public QAccessibleWidget {
public:
    explicit ChipAccessible(ContainerChip* chip) : QAccessibleWidget(chip) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return static_cast<const ContainerChip*>(widget())->spokenName();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
};

QAccessibleInterface* chipAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String(ContainerChip::staticMetaObject.className()) && object &&
        object->isWidgetType())
        return new ChipAccessible(static_cast<ContainerChip*>(object));
    return nullptr;
}

} // namespace

ContainerChip::ContainerChip(const Container& c, QWidget* parent) : QWidget(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(chipAccessible);
        return true;
    }();
    Q_UNUSED(installed);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setContainer(c);
}

QString ContainerChip::label(const Container& c)
{
    return c.service().value_or(c.name);
}

void ContainerChip::setContainer(const Container& c)
{
    if (c == m_container && m_set)
        return;
    const bool first = !m_set;
    m_set = true;
    const bool resized = label(c) != label(m_container) || c.isTroubled() != m_container.isTroubled();
    // What the chip draws; the status text itself shows only in the tooltip, and moves on with every
    // listing while a container is young ("Up 5 seconds", "Up 7 seconds").
    const bool redrawn = resized || c.isLive() != m_container.isLive() || &dot(c) != &dot(m_container);
    m_container = c;
    // A young container's status moves on with every listing: its tooltip is made when it can show.
    if (redrawn || first || underMouse())
        putTip();
    else
        m_tipStale = true;
    // The name is read when asked for (see spokenName()); only a listening assistive tool is told.
    if (!first && QAccessible::isActive()) {
        QAccessibleEvent named(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&named);
    }
    if (resized)
        updateGeometry();
    if (redrawn || first)
        update();
}

QString ContainerChip::spokenName() const
{
    return label(m_container) + QStringLiteral(", ") + m_container.status;
}

void ContainerChip::putTip()
{
    m_tipStale = false;
    setToolTip(Vosk::toolTip(m_container.name + QStringLiteral(" \u00B7 ") + m_container.status));
}

bool ContainerChip::event(QEvent* event)
{
    if (event->type() == QEvent::Enter && m_tipStale)
        putTip();
    return QWidget::event(event);
}

QFont ContainerChip::labelFont() const
{
    return m_container.isTroubled() ? TextStyles::label.font() : TextStyles::caption.font();
}

double ContainerChip::indicatorWidth() const
{
    if (m_container.isTroubled())
        return triangleSize;
    return m_container.isLive() ? dotSize : hollowSize;
}

QSize ContainerChip::sizeHint() const
{
    const double text = QFontMetricsF(labelFont()).horizontalAdvance(label(m_container));
    return {int(std::ceil(paddingX + indicatorWidth() + spacing + text + paddingX)), int(height)};
}

void ContainerChip::paintEvent(QPaintEvent*)
{
    const bool trouble = m_container.isTroubled();
    const bool live = m_container.isLive();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box(rect());
    if (trouble || live)
        painter.fillPath(Vosk::roundedRect(box, Vosk::controlRadius),
                         (trouble ? Vosk::errFill : Vosk::pillFill).color());
    if (trouble || !live) {
        // A stopped chip is only its outline.
        painter.setPen(QPen((trouble ? Vosk::errLine : Vosk::line).color(), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(Vosk::roundedRect(Vosk::hairlineRect(box), Vosk::controlRadius - 0.5));
    }

    const QColor ink = (trouble ? Vosk::errInk : live ? Vosk::ink : Vosk::muted).color();
    const double middle = box.height() / 2;
    const double indicator = indicatorWidth();
    if (trouble) {
        Symbols::paint(painter, QStringLiteral("exclamationmark.triangle"),
                       QRectF(paddingX, middle - triangleSize / 2, triangleSize, triangleSize), triangleSize,
                       ink);
    } else if (live) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(dot(m_container).color());
        painter.drawEllipse(QRectF(paddingX, middle - dotSize / 2, dotSize, dotSize));
    } else {
        painter.setPen(QPen(Vosk::muted.color(), 1.5));
        painter.setBrush(Qt::NoBrush);
        const double inset = 0.75;
        painter.drawEllipse(QRectF(paddingX + inset, middle - hollowSize / 2 + inset, hollowSize - 2 * inset,
                                   hollowSize - 2 * inset));
    }
    painter.setPen(ink);
    painter.setFont(labelFont());
    const double x = paddingX + indicator + spacing;
    painter.drawText(QRectF(x, 0, box.width() - x - paddingX + 1, box.height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shownLabel());
}

QString ContainerChip::shownLabel() const
{
    // Narrower than its name (a row gives a chip no more than its own width): cut in the middle, as
    // the card titles are; the tooltip holds the whole name.
    const double room = width() - paddingX - indicatorWidth() - spacing - paddingX + 1;
    return QFontMetricsF(labelFont()).elidedText(label(m_container), Qt::ElideMiddle, room);
}
