#include "app/design/VitalCard.h"

#include "app/design/Meter.h"
#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// The figure's face at `scale` of its size.
QFont figureFont(double scale)
{
    return scale < 1 ? TextStyles::vitalValue.scaled(scale).font() : TextStyles::vitalValue.font();
}

// The figure and its unit on one baseline. When they do not fit, the figure's face shrinks to three
// quarters and then the figure is shortened.
class Figure : public QWidget {
public:
    explicit Figure(QWidget* parent) : QWidget(parent)
    {
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        setFixedHeight(int(std::ceil(QFontMetricsF(TextStyles::vitalValue.font()).height())));
    }

    void set(const std::optional<QString>& value, const QString& unit)
    {
        if (value == m_value && unit == m_unit)
            return;
        m_value = value;
        m_unit = unit;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const VitalCard::FigureFit fit =
            VitalCard::fitFigure(m_value.value_or(Vosk::absent()), m_unit, width());
        const QFont face = figureFont(fit.scale);
        const double baseline = QFontMetricsF(TextStyles::vitalValue.font()).ascent();

        QPainter painter(this);
        painter.setFont(face);
        painter.setPen(m_value ? Vosk::ink.color() : Vosk::muted.color());
        painter.drawText(QPointF(0, baseline), fit.figure);
        if (!fit.unit.isEmpty()) {
            painter.setFont(TextStyles::caption.font());
            painter.setPen(Vosk::muted.color());
            painter.drawText(
                QPointF(QFontMetricsF(face).horizontalAdvance(fit.figure) + VitalCard::unitSpacing, baseline),
                fit.unit);
        }
    }

private:
    std::optional<QString> m_value;
    QString m_unit;
};

} // namespace

VitalCard::VitalCard(const QString& icon, const QString& title, const std::optional<QString>& value,
                     const QString& unit, double fraction, const Token& tint, const Token* rest,
                     QWidget* footer, QWidget* parent)
    : VoskCard(parent), m_title(title), m_value(value), m_unit(unit), m_fraction(fraction),
      m_footer(footer ? footer : new QWidget)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(int(padding), int(padding), int(padding), int(padding));
    column->setSpacing(int(rowSpacing));

    auto* header = new QHBoxLayout;
    header->setSpacing(7);
    header->addWidget(new SymbolView(icon, 12, Vosk::muted, this));
    header->addWidget(new VoskLabel(title, TextStyles::vitalTitle, Vosk::muted, this));
    header->addStretch(1);
    column->addLayout(header);

    auto* figure = new Figure(this);
    figure->set(value, unit);
    m_figure = figure;
    column->addWidget(figure);

    m_meter = new Meter(meterFraction(), tint, rest, this);
    column->addWidget(m_meter);

    auto* footerFrame = new QHBoxLayout;
    footerFrame->setContentsMargins(0, 0, 0, 0);
    footerFrame->addWidget(m_footer, 1, Qt::AlignLeft | Qt::AlignVCenter);
    auto* footerBox = new QWidget(this);
    footerBox->setLayout(footerFrame);
    footerBox->setMinimumHeight(int(footerHeight));
    column->addWidget(footerBox);
    column->addStretch(1);

    describe();
}

VitalCard::FigureFit VitalCard::fitFigure(const QString& figure, const QString& unit, double width)
{
    const QFontMetricsF unitMetrics(TextStyles::caption.font());
    const double unitWidth = unit.isEmpty() ? 0 : unitMetrics.horizontalAdvance(unit) + unitSpacing;
    // Both whole, the figure at a scale no smaller than three quarters.
    const VoskLabel::Fit beside = VoskLabel::fitText(
        figure, TextStyles::vitalValue, std::max(0.0, width - unitWidth), minimumScale, Qt::ElideNone);
    const auto advance = [](double scale, const QString& text) {
        return QFontMetricsF(figureFont(scale)).horizontalAdvance(text);
    };
    if (advance(beside.scale, figure) <= width - unitWidth)
        return {beside.scale, figure, unit};
    // The figure whole at its smallest, with what room is left for the unit.
    const double smallest = advance(minimumScale, figure);
    if (smallest <= width) {
        const double room = width - smallest - unitSpacing;
        const QString cut = room > 0 ? unitMetrics.elidedText(unit, Qt::ElideRight, room) : QString();
        return {minimumScale, figure, cut == QStringLiteral("\u2026") ? QString() : cut};
    }
    const VoskLabel::Fit alone =
        VoskLabel::fitText(figure, TextStyles::vitalValue, width, minimumScale, Qt::ElideRight);
    return {alone.scale, alone.text, QString()};
}

double VitalCard::meterFraction() const
{
    return m_value ? m_fraction : 0;
}

void VitalCard::setFigure(const std::optional<QString>& value, const QString& unit, double fraction)
{
    m_value = value;
    m_unit = unit;
    m_fraction = fraction;
    static_cast<Figure*>(m_figure)->set(value, unit);
    m_meter->setFraction(meterFraction());
    describe();
}

void VitalCard::setMeterColors(const Token& tint, const Token* rest)
{
    m_meter->setColors(tint, rest);
}

void VitalCard::describe()
{
    // Read out as one element: title, figure and unit.
    QString text = m_title + QStringLiteral(", ") + m_value.value_or(Vosk::absent());
    if (!m_unit.isEmpty())
        text += QLatin1Char(' ') + m_unit;
    setAccessibleName(text);
}
