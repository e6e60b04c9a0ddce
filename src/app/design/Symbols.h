#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

class QPainter;
class Token;

// The symbols the screens name ("arrow.clockwise", "ellipsis", ...) drawn from the bundled
// bootstrap-icons SVGs and tinted when painted. An unknown name draws nothing.
namespace Symbols {

// Every symbol name the table knows.
QStringList names();
// The bundled drawing for a symbol name; empty when the name is unknown.
QString resourceFor(const QString& name);
bool has(const QString& name);

// The symbol at `size` device-independent pixels (its square box), in `color`.
QPixmap pixmap(const QString& name, double size, const QColor& color, qreal devicePixelRatio = 1);
// Paints the symbol centred in `box`, `size` pixels square, tinted with `color`.
void paint(QPainter& painter, const QString& name, const QRectF& box, double size, const QColor& color);
// The symbol as an icon for tool buttons and menus, tinted with `tint` in whatever look is shown when
// it is drawn, so a change of look needs no new icon. Disabled, it is drawn in the muted colour.
QIcon icon(const QString& name, const Token& tint);
// An icon drawn by `paint` into whatever rectangle is asked for, whenever it is asked for.
using IconPainter = std::function<void(QPainter&, const QRect&, QIcon::Mode)>;
QIcon paintedIcon(IconPainter paint, const QString& key);

} // namespace Symbols

// A symbol as a widget: fixed size, tinted with a token that resolves when it paints.
class SymbolView : public QWidget {
    Q_OBJECT

public:
    // `width` widens the box beyond the symbol (icon columns of a fixed width); 0 keeps it square.
    SymbolView(const QString& name, double size, const Token& tint, QWidget* parent = nullptr,
               double width = 0);

    void setSymbol(const QString& name);
    QString symbol() const { return m_name; }
    void setTint(const Token& tint);
    const Token& tint() const { return *m_tint; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_name;
    double m_size;
    double m_width;
    const Token* m_tint;
};
