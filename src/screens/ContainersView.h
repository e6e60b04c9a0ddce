#pragma once

#include "app/design/KeyedRows.h"
#include "engine/Container.h"
#include "screens/ContainerCard.h"

#include <QScrollArea>

#include <optional>

class AdaptiveGrid;
class AppStore;
class ChangeBatch;
class EmptyState;
class Eyebrow;
class VitalsRow;

// The containers section: the vitals of the whole machine, then every container that matches the
// filter as a grid of cards, ordered by name, or the empty state. Cards are kept by container across
// refreshes, and a poll that changes nothing touches no widget.
class ContainersContent : public QWidget {
    Q_OBJECT

public:
    explicit ContainersContent(AppStore& store, QWidget* parent = nullptr);

    // The store's matching containers by name in plain code-point order; equal names keep their order.
    static QList<Container> sorted(const QList<Container>& containers);

    // Applies the store's present state now rather than on the next turn of the event loop.
    void refresh();

    ContainerCard* card(const Container& c) const { return m_cards->row(ContainerCard::key(c)); }
    qsizetype cardCount() const { return m_cards->size(); }
    ContainerCard* cardAt(qsizetype index) const { return m_cards->at(index); }
    AdaptiveGrid* grid() const { return m_grid; }
    VitalsRow* vitals() const { return m_vitals; }

    static constexpr double minimumCardWidth = 280;
    static constexpr double spacing = 14;

private:
    AppStore& m_store;
    ChangeBatch* m_batch;
    VitalsRow* m_vitals;
    QWidget* m_listSection;
    Eyebrow* m_count;
    AdaptiveGrid* m_grid;
    std::optional<KeyedRows<Container, ContainerCard, AdaptiveGrid>> m_cards;
    EmptyState* m_empty;
    // The store's figures (statistics, disk usage, addresses) or the runtimes moved since the last
    // refresh, so every card looks again; otherwise only cards whose container changed do.
    bool m_figuresMoved = true;
};

// The containers section in its scroll view, as the main window shows it.
class ContainersView : public QScrollArea {
    Q_OBJECT

public:
    explicit ContainersView(AppStore& store, QWidget* parent = nullptr);

    ContainersContent* content() const { return m_content; }

private:
    ContainersContent* m_content;
};
