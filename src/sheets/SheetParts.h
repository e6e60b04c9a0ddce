#pragma once

#include <QString>

class QDialog;
class QLineEdit;
class QVBoxLayout;
class QWidget;
class VoskLabel;

// Pieces the form sheets share: their text fields, and a sheet stacked as header, rule and body.
namespace SheetParts {

// A sheet's title in its header: one line, cut in the middle when it does not fit. Object name
// "titleLabel".
VoskLabel* title(const QString& text, QWidget* parent);

// A one-line text field in the forms' monospaced face.
QLineEdit* lineField(const QString& placeholder, const QString& objectName, QWidget* parent);

// Lays `sheet` out as `header`, a rule in the line colour and `body`, edge to edge.
QVBoxLayout* stack(QDialog* sheet, QWidget* header, QWidget* body);

// Fixes the sheet at `width` with the height its content needs at that width.
void fitHeight(QDialog* sheet, int width);

} // namespace SheetParts
