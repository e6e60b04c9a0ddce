#include "sheets/SheetHost.h"

#include "app/parts/Alert.h"

#include <QDialog>

namespace SheetHost {

QDialog* open(QWidget* over, QDialog* sheet)
{
    QWidget* window = over ? over->window() : nullptr;
    if (window && sheet->parentWidget() != window)
        sheet->setParent(window, sheet->windowFlags() | Qt::Dialog);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->open();
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
