#include "app/shell/ListRow.h"

#include "app/design/Divider.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

ListRow::ListRow(QWidget* parent) : QWidget(parent)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    m_divider = new Divider(this);
    outer->addWidget(m_divider);

    m_row = new QHBoxLayout;
    m_row->setContentsMargins(14, 11, 14, 11);
    m_row->setSpacing(12);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    m_name = new VoskLabel({}, TextStyles::rowTitle, Vosk::ink, this);
    m_detail = new VoskLabel({}, TextStyles::mono, Vosk::muted, this);
    texts->addWidget(m_name);
    texts->addWidget(m_detail);
    m_row->addLayout(texts, 1);
    // No confirmation, by design: an image can be pulled again, and the engine itself refuses to
    // remove a volume that a container uses.
    m_remove = new VoskButton(QStringLiteral("Remove"), VoskButtonStyle::Variant::quiet, std::nullopt, this);
    m_remove->setObjectName(QStringLiteral("removeButton"));
    addControl(m_remove);
    outer->addLayout(m_row);
}

void ListRow::addControl(QWidget* control)
{
    m_row->addWidget(control, 0, Qt::AlignVCenter);
}

void ListRow::showTexts(const QString& name, const QString& detail, int position)
{
    m_name->setPlainText(name);
    m_detail->setPlainText(detail);
    const bool divided = position > 0;
    if (m_divider->isVisibleTo(this) != divided)
        m_divider->setVisible(divided);
}
