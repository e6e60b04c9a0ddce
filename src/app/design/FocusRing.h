#pragma once

#include <QColor>
#include <QRectF>

#include <functional>
#include <optional>

class QApplication;
class QPainter;
class QStyleOption;
class QWidget;

// The focus ring every control draws: a ring along the control's edge with a thin line of the page
// colour inside it. Its colour stands out both from the page around the control and from the control's
// own fill: the deeper accent, and on a fill too close to that (the accent button's) ink or white,
// whichever reads on it. A control shows it only while the focus came from the keyboard (Tab,
// Backtab, a shortcut); a click anywhere in the window puts it away until the keyboard moves the focus
// again. A field that takes typing shows it whenever it has the focus, however it got there (a sheet
// that opens on it, a click): the caret alone is easily missed.
namespace FocusRing {

// Stroke of the ring; the page-coloured line inside it is one pixel.
inline constexpr double width = 2;
// The least contrast the ring keeps with the fill inside it and the page around it.
inline constexpr double leastContrast = 3;

// The widget has the focus, and its window got it from the keyboard or the widget takes typing.
bool shows(const QWidget* widget);
// The same for a control the style draws, `widget` when the style was given one.
bool shows(const QStyleOption& option, const QWidget* widget = nullptr);
// Whether `widget` is a field that takes typing: an editable line, text editor, spin box or combo box.
bool takesTyping(const QWidget* widget);

// The ring's colour on a control filled with `fill`; none: the control has no fill of its own.
QColor color(const std::optional<QColor>& fill = std::nullopt);
// How far apart two colours read, from 1 (the same) to 21 (black on white).
double contrast(const QColor& a, const QColor& b);

// Draws the ring inside `bounds`, following corners of `radius`, on a control filled with `fill`.
void paint(QPainter& painter, const QRectF& bounds, double radius,
           const std::optional<QColor>& fill = std::nullopt);

// Makes a mouse press end the keyboard's focus cue in its window, as Qt itself never does. Needs the
// QApplication; later calls do nothing.
void install(QApplication& application);

// Draws the ring round `frame` whenever `control` shows it, over whatever `frame` holds: for a control
// that draws none of its own (a text editor), or one that sits inside a surround that should wear it.
// `control` is `frame` or inside it. With `when`, only while that holds too; whoever changes what it
// reads updates `frame`.
void wear(QWidget* frame, QWidget* control, std::function<bool()> when = {});

} // namespace FocusRing
