#pragma once

#include <QString>

class Alert;
class QDialog;
class QWidget;

// How every screen shows a sheet or an alert: window-modal over the window that holds the widget
// that asked, opened with open() (no nested event loop), deleted once closed. The window, not the
// asking widget, becomes the parent, so a card that vanishes on the next refresh takes no sheet, and
// no child process a sheet runs, with it.
namespace SheetHost {

// Shows `sheet` over the window of `over`, with the focus in its first empty text field, and returns
// it (for the caller to keep a QPointer).
QDialog* open(QWidget* over, QDialog* sheet);

template <typename Sheet>
Sheet* open(QWidget* over, Sheet* sheet)
{
    open(over, static_cast<QDialog*>(sheet));
    return sheet;
}

// An alert with one "OK" button (object name "okButton") over the window of `over` (a sheet is a
// window too): `text` says what failed, `detail` why. Object name "alert".
Alert* alert(QWidget* over, const QString& text, const QString& detail = {});

} // namespace SheetHost
