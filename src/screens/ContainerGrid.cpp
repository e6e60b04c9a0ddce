#include "screens/ContainerGrid.h"

#include "app/design/AdaptiveGrid.h"
#include "screens/ContainerCard.h"

ContainerGrid::ContainerGrid(AppStore& store, bool inProject, QWidget* parent)
    : QWidget(parent), m_store(store), m_inProject(inProject)
{
    setObjectName(QStringLiteral("containerGrid"));
    auto* grid = new AdaptiveGrid(minimumCardWidth, spacing, this);
    grid->setContentsMargins(0, 0, 0, 0);
    m_cards = std::make_unique<KeyedRows<Container, ContainerCard, AdaptiveGrid>>(
        grid, &ContainerCard::key,
        [this](const Container& c) { return new ContainerCard(m_store, c, m_inProject, this); },
        [](ContainerCard* card, const Container& c, int) { card->setContainer(c); });
}

ContainerGrid::~ContainerGrid() = default;

void ContainerGrid::sync(const QList<Container>& containers)
{
    m_cards->sync(containers);
}

ContainerCard* ContainerGrid::card(const Container& c) const
{
    return m_cards->row(ContainerCard::key(c));
}
