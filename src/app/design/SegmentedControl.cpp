#include "app/design/SegmentedControl.h"

#include "app/design/FocusRing.h"
#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButtonStyle.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr double symbolSize = 12;
constexpr double symbolSpacing = 5;
constexpr double padding = 12;
constexpr double inset = 2;

} // namespace

SegmentedControl::SegmentedControl(const QList<Segment>& segments, QWidget* parent)
    : QWidget(parent), m_segments(segments)
{
    setFont(TextStyles::label.font());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
}

void SegmentedControl::setCurrentIndex(int index)
{
    if (index < 0 || index >= count() || index == m_current)
        return;
    m_current = index;
    update();
}

int SegmentedControl::segmentAt(double x, double width, int count)
{
    if (count <= 0 || width <= 0 || x < 0 || x >= width)
        return -1;
    return std::min(count - 1, int(x / (width / count)));
}

double SegmentedControl::segmentWidth() const
{
    const QFontMetricsF metrics(font());
    double widest = 0;
    for (const Segment& segment : m_segments) {
        double width = metrics.horizontalAdvance(segment.title);
        if (!segment.symbol.isEmpty())
            width += symbolSize + symbolSpacing;
        widest = std::max(widest, width);
    }
    return widest + 2 * padding;
}

QSize SegmentedControl::sizeHint() const
{
    const double height = std::max(VoskButtonStyle::minimumHeight, QFontMetricsF(font()).height() + 8);
    return {int(std::ceil(segmentWidth() * count() + 2 * inset)), int(std::ceil(height))};
}

void SegmentedControl::choose(int index)
{
    if (index < 0 || index >= count())
        return;
    setCurrentIndex(index);
    emit activated(index);
}

void SegmentedControl::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    choose(segmentAt(event->position().x() - inset, width() - 2 * inset, count()));
}

void SegmentedControl::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Left:
        choose(std::max(0, m_current - 1));
        break;
    case Qt::Key_Right:
        choose(std::min(count() - 1, m_current + 1));
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void SegmentedControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(VoskButtonStyle::disabledOpacity);

    const QRectF bounds = QRectF(rect());
    painter.fillPath(Vosk::roundedRect(bounds, Vosk::controlRadius), Vosk::control.color());
    painter.setPen(QPen(Vosk::line.color(), 1));
    painter.drawPath(Vosk::roundedRect(Vosk::hairlineRect(bounds), Vosk::controlRadius - 0.5));

    const QRectF inner = bounds.adjusted(inset, inset, -inset, -inset);
    const double width = count() > 0 ? inner.width() / count() : 0;
    const QFontMetricsF metrics(font());
    for (int i = 0; i < count(); ++i) {
        // Whole-pixel edges keep the chosen segment's outline sharp.
        const double left = std::round(inner.left() + i * width);
        const double right = std::round(inner.left() + (i + 1) * width);
        const QRectF box(left, inner.top(), right - left, inner.height());
        const bool chosen = i == m_current;
        if (chosen) {
            // Outlined in the muted colour: the card fill alone hardly differs from the track in the
            // dark look.
            painter.fillPath(Vosk::roundedRect(box, Vosk::controlRadius - inset), Vosk::card.color());
            painter.setPen(QPen(Vosk::muted.color(), 1));
            painter.drawPath(Vosk::roundedRect(Vosk::hairlineRect(box), Vosk::controlRadius - inset));
        }
        const Segment& segment = m_segments.at(i);
        const QColor ink = chosen ? Vosk::ink.color() : Vosk::muted.color();
        const double titleWidth = metrics.horizontalAdvance(segment.title);
        const double blockWidth = titleWidth + (segment.symbol.isEmpty() ? 0 : symbolSize + symbolSpacing);
        double x = box.center().x() - blockWidth / 2;
        if (!segment.symbol.isEmpty()) {
            Symbols::paint(painter, segment.symbol, QRectF(x, box.top(), symbolSize, box.height()),
                           symbolSize, ink);
            x += symbolSize + symbolSpacing;
        }
        painter.setPen(ink);
        painter.setFont(font());
        painter.drawText(QRectF(x, box.top(), titleWidth + 1, box.height()),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, segment.title);
    }
    if (FocusRing::shows(this))
        FocusRing::paint(painter, bounds, Vosk::controlRadius);
}
