#include "app/shell/Sidebar.h"

#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"
#include "app/parts/ChangeBatch.h"
#include "app/shell/NavItem.h"
#include "store/AppStore.h"

#include <QPainter>
#include <QVBoxLayout>

Sidebar::Sidebar(AppStore& store, Category category, QWidget* parent)
    : QWidget(parent), m_store(store), m_category(category)
{
    setObjectName(QStringLiteral("sidebar"));
    auto* layout = new QVBoxLayout(this);
    // The entries reach into the left padding for their accent mark.
    layout->setContentsMargins(10 - NavItem::markRoom, 14, 10, 14);
    layout->setSpacing(0);

    auto* heading = new VoskLabel(QStringLiteral("Library"), TextStyles::sectionLabel, Vosk::muted, this);
    heading->setContentsMargins(10 + NavItem::markRoom, 0, 10, 10);
    layout->addWidget(heading);

    auto* entries = new QVBoxLayout;
    entries->setSpacing(2);
    for (const Category each : allCategories()) {
        auto* item = new NavItem(each, this);
        item->setSelected(each == m_category);
        connect(item, &NavItem::clicked, this, [this, each] {
            setCategory(each);
            emit chosen(each);
        });
        entries->addWidget(item);
        m_items.append(item);
    }
    layout->addLayout(entries);
    layout->addStretch(1);

    m_changes = new ChangeBatch(this, [this] { recount(); });
    for (const auto changed :
         {&AppStore::containersChanged, &AppStore::imagesChanged, &AppStore::volumesChanged,
          &AppStore::filterChanged, &AppStore::registryChanged, &AppStore::showAllChanged,
          &AppStore::runtimeChanged, &AppStore::listedChanged})
        m_changes->watch(&m_store, changed);
    recount();
}

void Sidebar::setCategory(Category category)
{
    m_category = category;
    for (NavItem* item : m_items)
        item->setSelected(item->category() == category);
}

NavItem* Sidebar::item(Category category) const
{
    for (NavItem* item : m_items)
        if (item->category() == category)
            return item;
    return nullptr;
}

std::optional<qsizetype> Sidebar::count(const AppStore& store, Category category)
{
    if (!store.listed())
        return std::nullopt;
    switch (category) {
    case Category::projects:
        return store.projects().size();
    case Category::containers:
        return store.matchingContainers().size();
    case Category::images:
        return store.matchingImages().size();
    case Category::volumes:
        return store.matchingVolumes().size();
    }
    return 0;
}

void Sidebar::recount()
{
    for (NavItem* item : m_items)
        item->setCount(count(m_store, item->category()));
}

void Sidebar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Vosk::chrome.color());
}
