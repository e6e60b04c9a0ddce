#include "app/design/Symbols.h"

#include "app/design/Vosk.h"

#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

#include <cmath>

namespace {

// The names the screens use and the drawing that stands in for each.
struct Entry {
    const char* name;
    const char* icon;
};

constexpr Entry table[] = {
    {"arrow.clockwise", "arrow-clockwise"},
    {"arrow.down.circle", "arrow-down-circle"},
    {"arrow.triangle.2.circlepath", "arrow-repeat"},
    {"arrow.up.right", "arrow-up-right"},
    {"checkmark.square.fill", "check-square-fill"},
    {"chevron.down", "chevron-down"},
    {"chevron.left", "chevron-left"},
    {"chevron.right", "chevron-right"},
    {"circle.lefthalf.filled", "circle-half"},
    {"cpu", "cpu"},
    {"doc.on.doc", "copy"},
    {"ellipsis", "three-dots"},
    {"exclamationmark.circle", "exclamation-circle"},
    {"exclamationmark.triangle", "exclamation-triangle"},
    {"externaldrive", "hdd"},
    {"externaldrive.badge.checkmark", "database-check"},
    {"internaldrive", "device-hdd"},
    {"line.3.horizontal.decrease.circle", "filter-circle"},
    {"memorychip", "memory"},
    {"moon", "moon"},
    {"opticaldisc", "disc"},
    {"plus", "plus-lg"},
    {"shippingbox", "box-seam"},
    {"square", "square"},
    {"square.stack.3d.up", "stack"},
    {"sun.max", "sun"},
    {"trash", "trash3"},
};

QSvgRenderer* renderer(const QString& name)
{
    // Parsed once per symbol and kept for the life of the process (never torn down after the
    // application object); painting happens on the GUI thread only.
    static auto* renderers = new QHash<QString, QSvgRenderer*>;
    const auto found = renderers->constFind(name);
    if (found != renderers->constEnd())
        return *found;
    QSvgRenderer* svg = nullptr;
    const QString resource = Symbols::resourceFor(name);
    if (!resource.isEmpty()) {
        svg = new QSvgRenderer(resource);
        if (!svg->isValid()) {
            delete svg;
            svg = nullptr;
        }
    }
    renderers->insert(name, svg);
    return svg;
}

// Draws afresh at every request, so the colours are those of the look shown at that moment.
class PaintedIconEngine final : public QIconEngine {
public:
    PaintedIconEngine(Symbols::IconPainter paint, const QString& key) : m_paint(std::move(paint)), m_key(key)
    {
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        painter->save();
        m_paint(*painter, rect, mode);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        }
        return QPixmap::fromImage(image);
    }

    QIconEngine* clone() const override { return new PaintedIconEngine(m_paint, m_key); }
    QString key() const override { return m_key; }

private:
    Symbols::IconPainter m_paint;
    QString m_key;
};

} // namespace

QIcon Symbols::paintedIcon(IconPainter paint, const QString& key)
{
    return QIcon(new PaintedIconEngine(std::move(paint), key));
}

QIcon Symbols::icon(const QString& name, const Token& tint)
{
    const Token* ink = &tint;
    return paintedIcon(
        [name, ink](QPainter& painter, const QRect& rect, QIcon::Mode mode) {
            const QColor color = mode == QIcon::Disabled ? Vosk::muted.color() : ink->color();
            paint(painter, name, QRectF(rect), std::min(rect.width(), rect.height()), color);
        },
        QStringLiteral("vosk-symbol"));
}

QStringList Symbols::names()
{
    QStringList result;
    for (const Entry& entry : table)
        result.append(QString::fromLatin1(entry.name));
    return result;
}

QString Symbols::resourceFor(const QString& name)
{
    for (const Entry& entry : table) {
        if (name == QLatin1String(entry.name))
            return QStringLiteral(":/Icons/%1.svg").arg(QLatin1String(entry.icon));
    }
    return {};
}

bool Symbols::has(const QString& name)
{
    return !resourceFor(name).isEmpty();
}

QPixmap Symbols::pixmap(const QString& name, double size, const QColor& color, qreal devicePixelRatio)
{
    QSvgRenderer* svg = renderer(name);
    if (!svg || !std::isfinite(size) || size <= 0 || size > 1024 || devicePixelRatio <= 0)
        return {};
    const int side = std::max(1, int(std::ceil(size * devicePixelRatio)));
    const QString key = QStringLiteral("vosk-symbol:%1:%2:%3").arg(name).arg(side).arg(color.rgba(), 0, 16);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;

    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg->render(&painter, QRectF(0, 0, side, side));
        // The drawings are single-colour: keep their coverage, take the colour from the tint.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, result);
    return result;
}

void Symbols::paint(QPainter& painter, const QString& name, const QRectF& box, double size,
                    const QColor& color)
{
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QPixmap image = pixmap(name, size, color, ratio);
    if (image.isNull())
        return;
    const QPointF topLeft(box.center().x() - size / 2, box.center().y() - size / 2);
    painter.drawPixmap(QRectF(topLeft, QSizeF(size, size)), image, QRectF(image.rect()));
}

SymbolView::SymbolView(const QString& name, double size, const Token& tint, QWidget* parent, double width)
    : QWidget(parent), m_name(name), m_size(size), m_width(width), m_tint(&tint)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SymbolView::setSymbol(const QString& name)
{
    if (name == m_name)
        return;
    m_name = name;
    update();
}

void SymbolView::setTint(const Token& tint)
{
    m_tint = &tint;
    update();
}

QSize SymbolView::sizeHint() const
{
    const int side = int(std::ceil(m_size));
    return {std::max(side, int(std::ceil(m_width))), side};
}

void SymbolView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    Symbols::paint(painter, m_name, QRectF(rect()), m_size, m_tint->color());
}
