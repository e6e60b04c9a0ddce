#include "sheets/SheetParts.h"

#include "app/design/Divider.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"

#include <QDialog>
#include <QLineEdit>
#include <QVBoxLayout>

namespace SheetParts {

VoskLabel* title(const QString& text, QWidget* parent)
{
    auto* label = new VoskLabel(text, TextStyles::sheetTitle, Vosk::ink, parent);
    label->setObjectName(QStringLiteral("titleLabel"));
    label->setElideMode(Qt::ElideMiddle);
    return label;
}

QLineEdit* lineField(const QString& placeholder, const QString& objectName, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    edit->setPlaceholderText(placeholder);
    edit->setFont(TextStyles::monoField.font());
    return edit;
}

QVBoxLayout* stack(QDialog* sheet, QWidget* header, QWidget* body)
{
    auto* column = new QVBoxLayout(sheet);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(header);
    column->addWidget(new Divider(sheet));
    column->addWidget(body, 1);
    return column;
}

void fitHeight(QDialog* sheet, int width)
{
    QLayout* column = sheet->layout();
    const int height =
        column->hasHeightForWidth() ? column->totalHeightForWidth(width) : column->totalSizeHint().height();
    sheet->setFixedSize(width, height);
}

} // namespace SheetParts
