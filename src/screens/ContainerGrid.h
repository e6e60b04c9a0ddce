#pragma once

#include "app/design/KeyedRows.h"
#include "engine/Container.h"

#include <QWidget>

#include <memory>

class AdaptiveGrid;
class AppStore;
class ContainerCard;

// Container cards in as many columns as fit, kept by runtime and container id across refreshes.
class ContainerGrid : public QWidget {
    Q_OBJECT

public:
    ContainerGrid(AppStore& store, bool inProject, QWidget* parent = nullptr);
    ~ContainerGrid() override;

    void sync(const QList<Container>& containers);
    ContainerCard* card(const Container& c) const;

    static constexpr double minimumCardWidth = 280;
    static constexpr double spacing = 14;

private:
    AppStore& m_store;
    bool m_inProject;
    std::unique_ptr<KeyedRows<Container, ContainerCard, AdaptiveGrid>> m_cards;
};
