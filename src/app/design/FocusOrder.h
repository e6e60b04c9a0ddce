#pragma once

#include <QList>

class QApplication;
class QWidget;

// Where Tab goes: through a window's controls in the order its layouts place them on screen (the
// items of each layout in turn, a widget's own controls before whatever follows it), whatever order
// they were made in; and the control it reaches is scrolled into view in every scroll area that holds
// it. Cards, rows and notices made long after their window keep their place this way.
namespace FocusOrder {

// The controls inside `root` that Tab may reach, in the order on screen: disabled ones and those of a
// window not shown yet included, what was hidden and windows inside `root` (sheets, menus) left out.
QList<QWidget*> onScreen(QWidget* root);

// Chains the controls of onScreen(root) in that order.
void follow(QWidget* root);

// Has Tab and Backtab follow the order on screen of the window they are pressed in, and every scroll
// area show the control the keyboard moves the focus to. Needs the QApplication; later calls do
// nothing.
void install(QApplication& application);

} // namespace FocusOrder
