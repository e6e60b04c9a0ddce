#include "sheets/ReclaimRow.h"

#include "app/design/FocusRing.h"
#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"
#include "platform/ByteCount.h"

#include <QHBoxLayout>
#include <QPainter>

ReclaimRow::ReclaimRow(const Reclaimable& item, bool on, std::function<void()> toggle, QWidget* parent)
    : QAbstractButton(parent), m_toggle(std::move(toggle))
{
    setObjectName(QStringLiteral("reclaimRow"));
    // Checkable only so assistive technology hears "checked"; the tick follows setOn alone.
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);

    m_tick = new SymbolView(QStringLiteral("square"), 13, Vosk::muted, this, 14);
    m_name = new VoskLabel(QString(), TextStyles::transcript, Vosk::ink, this);
    m_name->setElideMode(Qt::ElideMiddle);
    m_name->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    m_note = new VoskLabel(QString(), TextStyles::monoNote, Vosk::muted, this);
    m_note->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    m_size = new VoskLabel(QString(), TextStyles::monoNote, Vosk::muted, this);
    m_size->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 3, 0, 3);
    row->setSpacing(8);
    row->addWidget(m_tick);
    row->addWidget(m_name);
    row->addWidget(m_note);
    row->addStretch(1);
    row->addWidget(m_size);

    connect(this, &QAbstractButton::clicked, this, [this] {
        if (m_toggle)
            m_toggle();
    });

    display(item);
    setOn(on);
}

const Token& ReclaimRow::noteInk(Reclaimable::Recovery recovery)
{
    switch (recovery) {
    case Reclaimable::Recovery::Restorable:
        return Vosk::muted;
    case Reclaimable::Recovery::NeedsSource:
        return Vosk::badgeInk;
    case Reclaimable::Recovery::Gone:
        return Vosk::errInk;
    }
    return Vosk::muted;
}

void ReclaimRow::setItem(const Reclaimable& item)
{
    // A measurement that changed nothing about the item touches nothing.
    if (item != m_item)
        display(item);
}

void ReclaimRow::display(const Reclaimable& item)
{
    m_item = item;
    m_name->setPlainText(item.name);
    m_name->setToolTip(Vosk::toolTip(item.name));
    m_note->setPlainText(item.note.value_or(QString()));
    m_note->setVisible(item.note.has_value());
    m_note->setInk(noteInk(item.recovery));
    m_size->setPlainText(Platform::fileSize(item.bytes));
    setAccessibleName(item.name);
}

void ReclaimRow::setOn(bool on)
{
    setChecked(on);
    m_tick->setSymbol(on ? QStringLiteral("checkmark.square.fill") : QStringLiteral("square"));
    const Token& tint = on ? Vosk::errInk : Vosk::muted;
    if (&m_tick->tint() != &tint)
        m_tick->setTint(tint);
}

void ReclaimRow::paintEvent(QPaintEvent*)
{
    // The row draws nothing of its own but the keyboard focus; its parts draw themselves.
    if (!FocusRing::shows(this))
        return;
    QPainter painter(this);
    FocusRing::paint(painter, QRectF(rect()), Vosk::controlRadius);
}
