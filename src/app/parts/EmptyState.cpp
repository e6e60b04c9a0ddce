#include "app/parts/EmptyState.h"

#include "app/design/Symbols.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "store/AppStore.h"

#include <QVBoxLayout>

#include <algorithm>

EmptyState::EmptyState(AppStore& store, Category category, QWidget* projectActions, QWidget* parent)
    : QWidget(parent), m_store(store), m_category(category), m_projectActions(projectActions)
{
    setObjectName(QStringLiteral("emptyState"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 56, 0, 56);
    layout->setSpacing(10);
    layout->setAlignment(Qt::AlignTop);

    m_icon = new SymbolView(symbol(category, {}), 26, Vosk::muted, this);
    layout->addWidget(m_icon, 0, Qt::AlignHCenter);
    m_title = new VoskLabel(title(category, {}), TextStyles::emptyTitle, Vosk::ink, this);
    m_title->setObjectName(QStringLiteral("emptyTitle"));
    m_title->setAlignment(Qt::AlignHCenter);
    m_title->setWordWrap(true);
    // The whole width, its text centred: placed by alignment it would get the narrower width a wrapped
    // label asks for and only the height the full width needs, cutting off its second line.
    layout->addWidget(m_title);

    m_clear =
        new VoskButton(QStringLiteral("Clear filter"), VoskButtonStyle::Variant::quiet, std::nullopt, this);
    m_clear->setObjectName(QStringLiteral("clearFilterButton"));
    connect(m_clear, &VoskButton::clicked, this, [this] { m_store.setFilter({}); });
    layout->addSpacing(2);
    layout->addWidget(m_clear, 0, Qt::AlignHCenter);
    if (m_projectActions) {
        m_projectActions->setParent(this);
        layout->addWidget(m_projectActions, 0, Qt::AlignHCenter);
    }

    for (const auto changed :
         {&AppStore::filterChanged, &AppStore::listedChanged, &AppStore::refreshErrorChanged,
          &AppStore::runtimeChanged, &AppStore::showAllChanged})
        connect(&m_store, changed, this, &EmptyState::follow);
    follow();
}

bool EmptyState::filtering(const QString& filter)
{
    return !AppStore::filterQuery(filter).isEmpty();
}

QString EmptyState::title(Category category, const QString& filter)
{
    const QString kind = rawValue(category).toLower();
    if (filtering(filter))
        return QStringLiteral("No %1 match \u201C%2\u201D").arg(kind, filter);
    return QStringLiteral("No %1").arg(kind);
}

QString EmptyState::symbol(Category category, const QString& filter)
{
    if (filtering(filter))
        return QStringLiteral("line.3.horizontal.decrease.circle");
    return symbolName(category);
}

std::optional<QString> EmptyState::unlisted(const AppStore& store)
{
    if (store.listed())
        return std::nullopt;
    const bool silent = store.refreshError().has_value();
    if (store.showAll())
        return silent ? QStringLiteral("No runtime is answering")
                      : QStringLiteral("Waiting for the runtimes\u2026");
    return unlisted(store, store.runtime());
}

std::optional<QString> EmptyState::unlisted(const AppStore& store, const std::optional<Runtime>& runtime)
{
    if (store.hasListed(runtime))
        return std::nullopt;
    const QString name = runtime ? runtime->id() : QStringLiteral("the runtime");
    // With every runtime shown, one that did not answer is named among the unanswered, and one found
    // unreachable is not asked at all.
    const QList<RuntimeEntry>& runtimes = store.runtimes();
    const bool unreachable = std::any_of(runtimes.cbegin(), runtimes.cend(), [&](const RuntimeEntry& entry) {
        return entry.runtime == runtime && !entry.reachable;
    });
    if (store.refreshError() || (store.listed() && (store.unanswered().contains(name) || unreachable)))
        return runtime ? name + QStringLiteral(" is not answering")
                       : QStringLiteral("The runtime is not answering");
    return QStringLiteral("Waiting for ") + name + u'\u2026';
}

void EmptyState::follow()
{
    // An empty list that is no runtime's answer offers nothing to add or to clear: it is not known
    // to be empty.
    if (const std::optional<QString> waiting = unlisted(m_store)) {
        m_icon->setSymbol(m_store.refreshError() ? QStringLiteral("exclamationmark.circle")
                                                 : symbolName(m_category));
        m_title->setPlainText(*waiting);
        m_clear->setVisible(false);
        if (m_projectActions)
            m_projectActions->setVisible(false);
        return;
    }
    const QString filter = m_store.filter();
    const bool narrowed = filtering(filter);
    m_icon->setSymbol(symbol(m_category, filter));
    m_title->setPlainText(title(m_category, filter));
    m_clear->setVisible(narrowed);
    if (m_projectActions)
        m_projectActions->setVisible(!narrowed && m_category == Category::projects);
}
