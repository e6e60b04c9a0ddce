#include "screens/ContainersView.h"

#include "app/design/AdaptiveGrid.h"
#include "app/design/Eyebrow.h"
#include "app/parts/ChangeBatch.h"
#include "app/parts/EmptyState.h"
#include "screens/ContainerCard.h"
#include "screens/VitalsRow.h"
#include "store/AppStore.h"

#include <QVBoxLayout>

#include <algorithm>

namespace {

// A section: its eyebrow over its content, 9 apart.
QVBoxLayout* section(QWidget* box)
{
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(9);
    return column;
}

} // namespace

QList<Container> ContainersContent::sorted(const QList<Container>& containers)
{
    QList<Container> result = containers;
    std::stable_sort(result.begin(), result.end(),
                     [](const Container& a, const Container& b) { return a.name < b.name; });
    return result;
}

ContainersContent::ContainersContent(AppStore& store, QWidget* parent) : QWidget(parent), m_store(store)
{
    setObjectName(QStringLiteral("containersContent"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(22);

    auto* now = new QWidget(this);
    QVBoxLayout* nowColumn = section(now);
    nowColumn->addWidget(new Eyebrow(QStringLiteral("Right now"), now));
    m_vitals = new VitalsRow(store, now);
    nowColumn->addWidget(m_vitals);
    column->addWidget(now);

    m_listSection = new QWidget(this);
    QVBoxLayout* listColumn = section(m_listSection);
    m_count = new Eyebrow(QString(), m_listSection);
    m_count->setObjectName(QStringLiteral("countEyebrow"));
    listColumn->addWidget(m_count);
    auto* gridBox = new QWidget(m_listSection);
    m_grid = new AdaptiveGrid(minimumCardWidth, spacing, gridBox);
    listColumn->addWidget(gridBox);
    column->addWidget(m_listSection);
    m_cards.emplace(
        m_grid, &ContainerCard::key,
        [this, gridBox](const Container& c) { return new ContainerCard(m_store, c, false, gridBox); },
        [this](ContainerCard* card, const Container& c, int) {
            if (m_figuresMoved || !(card->container() == c))
                card->setContainer(c);
        });

    m_empty = new EmptyState(store, Category::containers, nullptr, this);
    column->addWidget(m_empty);
    column->addStretch(1);

    m_batch = new ChangeBatch(this, [this] { refresh(); });
    m_batch->watch(&store, &AppStore::containersChanged);
    m_batch->watch(&store, &AppStore::filterChanged);
    const auto figures = [this, &store](auto signal) {
        m_batch->watch(&store, signal);
        connect(&store, signal, this, [this] { m_figuresMoved = true; });
    };
    figures(&AppStore::statsChanged);
    figures(&AppStore::usageChanged);
    figures(&AppStore::addressesChanged);
    figures(&AppStore::showAllChanged);
    figures(&AppStore::runtimeChanged);
    figures(&AppStore::runtimesChanged);
    refresh();
}

void ContainersContent::refresh()
{
    const QList<Container> shown = sorted(m_store.matchingContainers());
    m_cards->sync(shown);
    m_figuresMoved = false;
    const bool empty = shown.isEmpty();
    m_listSection->setVisible(!empty);
    m_empty->setVisible(empty);
    m_count->setPlainText(shown.size() == 1 ? QStringLiteral("1 container")
                                            : QStringLiteral("%1 containers").arg(shown.size()));
}

ContainersView::ContainersView(AppStore& store, QWidget* parent) : QScrollArea(parent)
{
    setObjectName(QStringLiteral("containersView"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // No stop of its own for Tab, which goes on to the controls inside; a click still lets keys scroll it.
    setFocusPolicy(Qt::ClickFocus);
    m_content = new ContainersContent(store, this);
    setWidget(m_content);
}
