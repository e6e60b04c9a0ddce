#include "sheets/SheetHost.h"

#include <QDialog>
#include <QMessageBox>

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

QMessageBox* alert(QWidget* over, const QString& text, const QString& detail)
{
    // One plain label for both: the reason often holds a path, which must never read as markup.
    const QString shown = detail.isEmpty() ? text : text + QStringLiteral("\n\n") + detail;
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Voskel"), QString(), QMessageBox::Ok,
                                over ? over->window() : nullptr);
    box->setObjectName(QStringLiteral("alert"));
    box->setTextFormat(Qt::PlainText);
    box->setText(shown);
    open(over, box);
    return box;
}

} // namespace SheetHost
