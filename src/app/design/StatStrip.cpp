#include "app/design/StatStrip.h"

#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

StatStrip::StatStrip(const std::optional<QString>& cpu, const std::optional<QString>& memory,
                     const std::optional<QString>& disk, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 9, 12, 9);
    row->setSpacing(8);
    const QString labels[3] = {QStringLiteral("CPU"), QStringLiteral("Memory"), QStringLiteral("Disk")};
    for (int i = 0; i < 3; ++i) {
        auto* box = new QWidget(this);
        auto* column = new QVBoxLayout(box);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(2);
        column->addWidget(new VoskLabel(labels[i], TextStyles::statLabel, Vosk::muted, box));
        auto* value = new VoskLabel(Vosk::absent(), TextStyles::monoField, Vosk::muted, box);
        value->setMinimumScale(0.8);
        value->setElideMode(Qt::ElideRight);
        column->addWidget(value);
        row->addWidget(box, 1);
        m_cells[i] = {box, labels[i], value};
    }
    setFigures(cpu, memory, disk);
}

void StatStrip::setFigures(const std::optional<QString>& cpu, const std::optional<QString>& memory,
                           const std::optional<QString>& disk)
{
    show(m_cells[0], cpu);
    show(m_cells[1], memory);
    show(m_cells[2], disk);
}

void StatStrip::show(Cell& cell, const std::optional<QString>& value)
{
    cell.value->setTextStyle(value ? TextStyles::figure : TextStyles::monoField);
    cell.value->setInk(value ? Vosk::ink : Vosk::muted);
    cell.value->setPlainText(value.value_or(Vosk::absent()));
    cell.box->setAccessibleName(cell.label + QStringLiteral(", ") + value.value_or(Vosk::absent()));
}

VoskLabel* StatStrip::valueLabel(int cell) const
{
    return cell >= 0 && cell < 3 ? m_cells[cell].value : nullptr;
}

void StatStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(Vosk::roundedRect(QRectF(rect()), Vosk::stripRadius), Vosk::page.color());
}
