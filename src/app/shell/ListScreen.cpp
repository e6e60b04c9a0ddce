#include "app/shell/ListScreen.h"

#include "app/design/VoskCard.h"
#include "app/parts/EmptyState.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>

ListScreen::ListScreen(AppStore& store, Category category, const QString& cardName, QWidget* parent)
    : QWidget(parent)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // No stop of its own for Tab, which goes on to the controls inside; a click still lets keys scroll it.
    scroll->setFocusPolicy(Qt::ClickFocus);
    outer->addWidget(scroll);

    m_content = new QWidget(scroll);
    auto* column = new QVBoxLayout(m_content);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    m_bar = new QHBoxLayout;
    column->addLayout(m_bar);

    m_empty = new EmptyState(store, category, nullptr, m_content);
    column->addWidget(m_empty);
    m_card = new VoskCard(m_content);
    m_card->setObjectName(cardName);
    m_rows = new QVBoxLayout(m_card);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(0);
    column->addWidget(m_card);
    column->addStretch(1);
    scroll->setWidget(m_content);
}

QWidget* ListScreen::card() const
{
    return m_card;
}

void ListScreen::showEmpty(bool empty)
{
    if (m_empty->isVisibleTo(this) != empty)
        m_empty->setVisible(empty);
    if (m_card->isVisibleTo(this) == empty)
        m_card->setVisible(!empty);
}
