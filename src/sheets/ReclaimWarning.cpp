#include "sheets/ReclaimWarning.h"

#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"
#include "engine/Reclaim.h"

#include <QHBoxLayout>

#include <algorithm>

ReclaimWarning::ReclaimWarning(const QList<Reclaimable>& items, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("reclaimWarning"));
    m_symbol = new SymbolView(QStringLiteral("exclamationmark.triangle"), 11, Vosk::badgeInk, this);
    m_text = new VoskLabel(QString(), TextStyles::warning, Vosk::badgeInk, this);
    m_text->setObjectName(QStringLiteral("warningLabel"));
    m_text->setElideMode(Qt::ElideRight);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(m_symbol, 0, Qt::AlignVCenter);
    row->addWidget(m_text, 1, Qt::AlignVCenter);
    setItems(items);
}

void ReclaimWarning::setItems(const QList<Reclaimable>& items)
{
    const std::optional<QString> warning = Docker::reclaimWarning(items);
    const bool anyGone = std::any_of(items.cbegin(), items.cend(), [](const Reclaimable& item) {
        return item.recovery == Reclaimable::Recovery::Gone;
    });
    const Token& ink = anyGone ? Vosk::errInk : Vosk::badgeInk;
    m_text->setPlainText(warning.value_or(QString()));
    if (&m_text->ink() != &ink) {
        m_text->setInk(ink);
        m_symbol->setTint(ink);
    }
    // The parts hide rather than the whole, which may stand on its own (a gallery picture).
    m_symbol->setVisible(warning.has_value());
    m_text->setVisible(warning.has_value());
}

QString ReclaimWarning::text() const
{
    return m_text->plainText();
}

const Token& ReclaimWarning::ink() const
{
    return m_text->ink();
}
