#pragma once

#include <QRectF>

class QApplication;
class QPainter;
class QStyleOption;
class QWidget;

// The keyboard focus ring every control draws: an accent ring along the control's edge with a thin
// line of the page colour inside it, so it also reads on an accent fill. It shows only while the
// focus came from the keyboard (Tab, Backtab, a shortcut); a click anywhere in the window puts it
// away until the keyboard moves the focus again.
namespace FocusRing {

// Stroke of the accent ring; the page-coloured line inside it is one pixel.
inline constexpr double width = 2;

// The widget has the focus and its window got it from the keyboard.
bool shows(const QWidget* widget);
// The same for a control the style draws.
bool shows(const QStyleOption& option);

// Draws the ring inside `bounds`, following corners of `radius`.
void paint(QPainter& painter, const QRectF& bounds, double radius);

// Makes a mouse press end the keyboard's focus cue in its window, as Qt itself never does. Needs the
// QApplication; later calls do nothing.
void install(QApplication& application);

// Draws the ring round `frame` whenever `control` shows it, over whatever `frame` holds: for a control
// that draws none of its own (a text editor), or one that sits inside a surround that should wear it.
// `control` is `frame` or inside it.
void wear(QWidget* frame, QWidget* control);

} // namespace FocusRing
