#pragma once

#include <QString>

class QDialog;
class QWidget;

// Stand-ins for screens and sheets this build does not have yet: a plain labelled widget, and a small
// window-modal sheet with a Close button. Each carries an object name so tests can find it.
namespace Placeholder {

QWidget* screen(const QString& title, const QString& objectName, QWidget* parent = nullptr);
// Opened (with open()) over `parent`'s window and deleted when closed.
QDialog* openSheet(QWidget* parent, const QString& title, const QString& objectName);

} // namespace Placeholder
