#include "app/design/VoskLabel.h"

#include "app/design/Theme.h"
#include "app/design/Vosk.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

VoskLabel::VoskLabel(const QString& text, const TextStyle& style, const Token& ink, QWidget* parent)
    : QLabel(parent), m_plain(text), m_style(style), m_ink(&ink)
{
    setTextFormat(Qt::PlainText);
    // Its own role, not the parent's: inside a button a label would otherwise paint in the button's
    // text colour instead of its ink.
    setForegroundRole(QPalette::WindowText);
    setFont(style.font());
    QLabel::setText(shown(text));
    applyInk();
    connect(&Theme::instance(), &Theme::lookChanged, this, &VoskLabel::applyInk);
}

void VoskLabel::setPlainText(const QString& text)
{
    if (text == m_plain)
        return;
    m_plain = text;
    QLabel::setText(shown(text));
}

void VoskLabel::setTextStyle(const TextStyle& style)
{
    m_style = style;
    setFont(style.font());
    QLabel::setText(shown(m_plain));
    setMaximumLines(m_maximumLines);
}

void VoskLabel::setInk(const Token& ink)
{
    if (&ink == m_ink)
        return;
    m_ink = &ink;
    applyInk();
}

void VoskLabel::setElideMode(Qt::TextElideMode mode)
{
    m_elide = mode;
    if (mode != Qt::ElideNone)
        setWordWrap(false);
    updateGeometry();
    update();
}

void VoskLabel::setMinimumScale(double factor)
{
    m_minimumScale = std::isfinite(factor) ? std::clamp(factor, 0.1, 1.0) : 1.0;
    updateGeometry();
    update();
}

void VoskLabel::setMaximumLines(int lines)
{
    m_maximumLines = std::max(0, lines);
    if (m_maximumLines == 0) {
        setMaximumHeight(QWIDGETSIZE_MAX);
        return;
    }
    setWordWrap(true);
    setAlignment((alignment() & ~Qt::AlignVertical_Mask) | Qt::AlignTop);
    const QMargins margins = contentsMargins();
    const double height = QFontMetricsF(font()).lineSpacing() * m_maximumLines;
    setMaximumHeight(int(std::ceil(height)) + margins.top() + margins.bottom() + 2 * margin());
}

void VoskLabel::setBreakLongRuns(bool on)
{
    if (on == m_breakLongRuns)
        return;
    m_breakLongRuns = on;
    if (on)
        setWordWrap(true);
    QLabel::setText(shown(m_plain));
}

QString VoskLabel::shown(const QString& text) const
{
    const QString styled = m_style.display(text);
    if (!m_breakLongRuns)
        return styled;
    // Longer than any word of a sentence, shorter than a line of the narrowest wrapping label.
    constexpr qsizetype longRun = 24;
    // A zero width space between the characters (whole clusters, never inside one) of a long run lets
    // a line end there.
    QString broken;
    broken.reserve(styled.size() * 2);
    QStringList run;
    const auto flush = [&] {
        broken += run.join(run.size() > longRun ? QString(QChar(0x200B)) : QString());
        run.clear();
    };
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, styled);
    qsizetype from = 0;
    for (qsizetype to = characters.toNextBoundary(); to > 0; to = characters.toNextBoundary()) {
        const QString cluster = styled.sliced(from, to - from);
        from = to;
        if (cluster.front().isSpace()) {
            flush();
            broken += cluster;
        } else {
            run << cluster;
        }
    }
    flush();
    return broken;
}

void VoskLabel::applyInk()
{
    QPalette colors = palette();
    const QColor ink = m_ink->color();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        colors.setColor(group, QPalette::WindowText, ink);
        colors.setColor(group, QPalette::Text, ink);
    }
    setPalette(colors);
}

bool VoskLabel::fitsItself() const
{
    return !wordWrap() && (m_elide != Qt::ElideNone || m_minimumScale < 1);
}

VoskLabel::Fit VoskLabel::fit(double width) const
{
    return fitText(text(), m_style, width, m_minimumScale, m_elide);
}

VoskLabel::Fit VoskLabel::fitText(const QString& text, const TextStyle& style, double width,
                                  double minimumScale, Qt::TextElideMode elide)
{
    const auto advance = [&](double scale) {
        return QFontMetricsF(scale < 1 ? style.scaled(scale).font() : style.font()).horizontalAdvance(text);
    };
    const double natural = advance(1);
    if (natural <= width || natural <= 0)
        return {1, text};
    // Faces do not scale exactly with their size (hinting, rounding), so narrow in on a fitting size.
    double scale = std::max(minimumScale, width / natural);
    for (int step = 0; step < 4 && scale > minimumScale; ++step) {
        const double measured = advance(scale);
        if (measured <= width)
            break;
        scale = std::max(minimumScale, scale * width / measured - 0.005);
    }
    if (advance(scale) <= width || elide == Qt::ElideNone)
        return {scale, text};
    return {scale, QFontMetricsF(style.scaled(scale).font()).elidedText(text, elide, width)};
}

QSize VoskLabel::minimumSizeHint() const
{
    if (!fitsItself())
        return QLabel::minimumSizeHint();
    const QFontMetricsF metrics(font());
    const QMargins margins = contentsMargins();
    const double floor = m_elide != Qt::ElideNone ? metrics.horizontalAdvance(QStringLiteral("…"))
                                                  : metrics.horizontalAdvance(text()) * m_minimumScale;
    return {int(std::ceil(floor)) + margins.left() + margins.right(),
            int(std::ceil(metrics.height())) + margins.top() + margins.bottom()};
}

QStringList VoskLabel::cappedLines() const
{
    // A selectable label draws itself, its selection with it; held to the top, it shows its start.
    if (m_maximumLines == 0 || !wordWrap() || (textInteractionFlags() & Qt::TextSelectableByMouse))
        return {};
    const QString shown = text();
    const double width = QRectF(contentsRect()).adjusted(margin(), margin(), -margin(), -margin()).width();
    QTextLayout layout(shown, font());
    QTextOption option(alignment());
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    QList<int> starts;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid() && starts.size() <= m_maximumLines;
         line = layout.createLine()) {
        line.setLineWidth(width);
        starts << line.textStart();
    }
    layout.endLayout();
    if (starts.size() <= m_maximumLines)
        return {};
    QStringList lines;
    for (int i = 0; i + 1 < m_maximumLines; ++i)
        lines << shown.mid(starts[i], starts[i + 1] - starts[i]).trimmed();
    // The last line holds the rest, cut where it no longer fits.
    QString rest = shown.mid(starts[m_maximumLines - 1]).simplified();
    lines << QFontMetricsF(font()).elidedText(rest, Qt::ElideRight, width);
    return lines;
}

void VoskLabel::paintEvent(QPaintEvent* event)
{
    if (!fitsItself()) {
        // More lines than it may show: drawn from the top, the last line ending in "…". Left to the
        // label, the text would be centred on its height and lose its first line as well as its last.
        const QStringList lines = cappedLines();
        if (lines.isEmpty()) {
            QLabel::paintEvent(event);
            return;
        }
        const QRectF area = QRectF(contentsRect()).adjusted(margin(), margin(), -margin(), -margin());
        const QFontMetricsF metrics(font());
        QPainter painter(this);
        painter.setFont(font());
        painter.setPen(m_ink->color());
        double top = area.top();
        for (const QString& line : lines) {
            painter.drawText(QRectF(area.left(), top, area.width(), metrics.lineSpacing()),
                             int(alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignTop | Qt::TextSingleLine,
                             line);
            top += metrics.lineSpacing();
        }
        return;
    }
    const QRectF area = QRectF(contentsRect()).adjusted(margin(), margin(), -margin(), -margin());
    const Fit fitted = fit(area.width());
    QPainter painter(this);
    painter.setFont(fitted.scale < 1 ? m_style.scaled(fitted.scale).font() : font());
    painter.setPen(m_ink->color());
    painter.drawText(area, int(alignment()) | Qt::TextSingleLine, fitted.text);
}
