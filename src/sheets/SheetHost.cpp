#include "sheets/SheetHost.h"

#include "app/design/FocusOrder.h"
#include "app/parts/Alert.h"

#include <QDialog>
#include <QLineEdit>

namespace {

// A sheet opens ready for typing, in its first empty field in the order Tab visits them; a sheet
// without one keeps the focus it chose itself.
void focusFirstEmptyField(QDialog* sheet)
{
    for (QWidget* widget = sheet->nextInFocusChain(); widget && widget != sheet;
         widget = widget->nextInFocusChain()) {
        auto* field = qobject_cast<QLineEdit*>(widget);
        if (field && field->text().isEmpty() && !field->isReadOnly() && field->isEnabled() &&
            field->isVisibleTo(sheet) && (field->focusPolicy() & Qt::TabFocus)) {
            field->setFocus();
            return;
        }
    }
}

} // namespace

namespace SheetHost {

QDialog* open(QWidget* over, QDialog* sheet)
{
    QWidget* window = over ? over->window() : nullptr;
    if (window && sheet->parentWidget() != window)
        sheet->setParent(window, sheet->windowFlags() | Qt::Dialog);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    FocusOrder::follow(sheet);
    sheet->open();
    focusFirstEmptyField(sheet);
    return sheet;
}

Alert* alert(QWidget* over, const QString& text, const QString& detail)
{
    auto* box = new Alert(text, detail, over ? over->window() : nullptr);
    box->setObjectName(QStringLiteral("alert"));
    box->addButton(QStringLiteral("OK"), VoskButtonStyle::Variant::accent, QDialog::Accepted,
                   QStringLiteral("okButton"), true);
    open(over, box);
    return box;
}

} // namespace SheetHost
