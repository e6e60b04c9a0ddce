#include "settings/SizePicker.h"

#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"

#include <QComboBox>
#include <QHBoxLayout>

SizePicker::SizePicker(const QString& label, const QString& zeroTitle, const QString& unit,
                       const QList<int>& choices, QWidget* parent)
    : QWidget(parent), m_zeroTitle(zeroTitle), m_unit(unit), m_choices(choices), m_box(new QComboBox(this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    auto* caption = new VoskLabel(label, TextStyles::caption, Vosk::ink, this);
    caption->setBuddy(m_box);
    row->addWidget(caption);
    m_box->setFont(TextStyles::caption.font());
    m_box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_box->setAccessibleName(label);
    row->addWidget(m_box);
    connect(m_box, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || index >= m_entries.size())
            return;
        const int value = m_entries.at(index).value;
        m_value = value;
        // A marked value the user moved away from is no longer offered.
        fill();
        emit chosen(value);
    });
    fill();
}

void SizePicker::setValue(int value)
{
    // Zero and below all mean the tool's own size.
    value = std::max(value, 0);
    if (value == m_value)
        return;
    m_value = value;
    fill();
}

void SizePicker::fill()
{
    const QList<SizeChoices::Entry> entries = SizeChoices::entries(m_choices, m_zeroTitle, m_unit, m_value);
    if (entries != m_entries) {
        m_entries = entries;
        m_box->clear();
        for (const SizeChoices::Entry& entry : entries) {
            m_box->addItem(entry.text, entry.value);
            if (entry.outside)
                m_box->setItemData(m_box->count() - 1,
                                   QStringLiteral("Saved earlier; this machine offers less"),
                                   Qt::ToolTipRole);
        }
    }
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).value == m_value)
            m_box->setCurrentIndex(int(i));
    }
}
