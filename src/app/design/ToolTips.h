#pragma once

#include <QStringList>

class QApplication;
class QFont;

// How every tooltip of the application is laid out: as wide as its text, up to `maximumWidth`, and
// wrapped at blanks beyond that (a run without blanks longer than a line is broken inside itself).
// Qt left to itself gives a tooltip with markup a box of fixed proportions, so a short one wraps
// after every other word. What shows is the tooltip's text as it reads: plain text as it is, markup
// as the text it stands for.
namespace ToolTips {

inline constexpr int maximumWidth = 420;

// The lines `text` takes in `font` at most `width` pixels wide; its own line breaks are kept, and the
// blanks a line is broken at are dropped.
QStringList lines(const QString& text, const QFont& font, int width);

// What the tooltip window is given for the plain `text`: its lines, each exactly as it is.
QString shaped(const QString& text, const QFont& font, int width = maximumWidth);

// Lays out every widget's tooltip this way. Needs the QApplication; later calls do nothing.
void install(QApplication& application);

} // namespace ToolTips
