#include "app/shell/Placeholder.h"

#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"

#include <QDialog>
#include <QVBoxLayout>

namespace Placeholder {

QWidget* screen(const QString& title, const QString& objectName, QWidget* parent)
{
    auto* widget = new QWidget(parent);
    widget->setObjectName(objectName);
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(20, 56, 20, 56);
    auto* label = new VoskLabel(QStringLiteral("%1 are not available in this build.").arg(title),
                                TextStyles::emptyTitle, Vosk::muted, widget);
    label->setAlignment(Qt::AlignHCenter);
    layout->addWidget(label, 0, Qt::AlignHCenter | Qt::AlignTop);
    layout->addStretch(1);
    return widget;
}

QDialog* openSheet(QWidget* parent, const QString& title, const QString& objectName)
{
    auto* sheet = new QDialog(parent ? parent->window() : nullptr);
    sheet->setObjectName(objectName);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setWindowTitle(title);
    sheet->setFixedSize(460, 160);
    auto* layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(20, 20, 20, 20);
    auto* heading = new VoskLabel(title, TextStyles::sheetTitle, Vosk::ink, sheet);
    heading->setElideMode(Qt::ElideMiddle);
    layout->addWidget(heading);
    layout->addWidget(new VoskLabel(QStringLiteral("This is not available in this build yet."), TextStyles::caption,
                                    Vosk::muted, sheet));
    layout->addStretch(1);
    auto* close = new VoskButton(QStringLiteral("Close"), VoskButtonStyle::Variant::quiet, std::nullopt, sheet);
    close->setObjectName(QStringLiteral("closeButton"));
    QObject::connect(close, &VoskButton::clicked, sheet, &QDialog::reject);
    layout->addWidget(close, 0, Qt::AlignRight);
    sheet->open();
    return sheet;
}

} // namespace Placeholder
