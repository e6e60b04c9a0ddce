#include "screens/ProjectsContent.h"

#include "app/design/AdaptiveGrid.h"
#include "app/design/Eyebrow.h"
#include "app/parts/ChangeBatch.h"
#include "app/parts/EmptyState.h"
#include "engine/Listings.h"
#include "screens/AddProjectButton.h"
#include "screens/ContainerGrid.h"
#include "screens/FolderChecks.h"
#include "screens/ProjectCard.h"
#include "screens/ProjectControls.h"
#include "screens/ProjectSheets.h"
#include "screens/VitalsRow.h"
#include "store/AppStore.h"

#include <QHBoxLayout>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {

constexpr int padding = 20;

} // namespace

// "Not in a project": a card per container that no compose project claims, kept by container id.
class LooseCard : public QWidget {
public:
    LooseCard(AppStore& store, QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("looseCard"));
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(9);
        column->addWidget(new Eyebrow(QStringLiteral("Not in a project"), this));
        m_grid = new ContainerGrid(store, false, this);
        column->addWidget(m_grid);
    }

    void sync(const QList<Container>& loose) { m_grid->sync(loose); }

private:
    ContainerGrid* m_grid;
};

void ProjectsContent::watch(ChangeBatch& batch, const AppStore& store)
{
    batch.watch(&store, &AppStore::containersChanged);
    batch.watch(&store, &AppStore::statsChanged);
    batch.watch(&store, &AppStore::usageChanged);
    batch.watch(&store, &AppStore::awaitingUsageChanged);
    batch.watch(&store, &AppStore::refreshErrorChanged);
    batch.watch(&store, &AppStore::listedChanged);
    batch.watch(&store, &AppStore::unansweredChanged);
    batch.watch(&store, &AppStore::addressesChanged);
    batch.watch(&store, &AppStore::showAllChanged);
    batch.watch(&store, &AppStore::runtimeChanged);
    batch.watch(&store, &AppStore::runtimesChanged);
    batch.watch(&store, &AppStore::registryChanged);
    batch.watch(&store, &AppStore::filterChanged);
}

std::optional<QString> ProjectsContent::emphasized(const QList<ComposeProject>& projects,
                                                   const QHash<QString, ProjectFolder>& folders)
{
    for (const ComposeProject& project : projects) {
        if (!folders.value(project.id()).atHand())
            continue;
        if (project.runningCount() < project.totalCount())
            return project.id();
    }
    return std::nullopt;
}

ProjectsContent::ProjectsContent(AppStore& store, QWidget* parent)
    : QWidget(parent), m_store(store), m_checks(new FolderChecks(this))
{
    setObjectName(QStringLiteral("projectsContent"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(22);

    auto* now = new QVBoxLayout;
    now->setSpacing(9);
    now->addWidget(new Eyebrow(QStringLiteral("Right now"), this));
    m_vitals = new VitalsRow(m_store, this);
    now->addWidget(m_vitals);
    column->addLayout(now);

    m_projectsSection = new QWidget(this);
    m_projectsSection->setObjectName(QStringLiteral("projectsSection"));
    auto* section = new QVBoxLayout(m_projectsSection);
    section->setContentsMargins(0, 0, 0, 0);
    section->setSpacing(9);
    section->addWidget(new Eyebrow(QStringLiteral("Your projects"), m_projectsSection));
    auto* holder = new QWidget(m_projectsSection);
    holder->setObjectName(QStringLiteral("projectGrid"));
    m_grid = new AdaptiveGrid(minimumCardWidth, spacing, holder);
    m_grid->setContentsMargins(0, 0, 0, 0);
    section->addWidget(holder);
    m_cards = std::make_unique<KeyedRows<ComposeProject, ProjectCard, AdaptiveGrid>>(
        m_grid, [](const ComposeProject& p) { return p.id(); },
        [this, holder](const ComposeProject& p) {
            auto* card = new ProjectCard(m_store, p, m_folders.value(p.id()), p.id() == m_emphasized, holder);
            connect(card, &ProjectCard::opened, this, &ProjectsContent::opened);
            return card;
        },
        [this](ProjectCard* card, const ComposeProject& p, int) {
            const ProjectFolder folder = m_folders.value(p.id());
            const bool emphasize = p.id() == m_emphasized;
            // A poll moves figures, a listing the status texts of young containers ("Up 5 seconds"):
            // a card takes those alone and keeps the rest as drawn.
            if (!m_cardsStale && card->shows(p, folder, emphasize))
                card->showFigures();
            else if (m_cardsStale || !card->takeStatuses(p, folder, emphasize))
                card->setProject(p, folder, emphasize);
        });
    column->addWidget(m_projectsSection);

    m_loose = new LooseCard(m_store, this);
    column->addWidget(m_loose);

    auto* actions = new QWidget;
    auto* buttons = new QHBoxLayout(actions);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(8);
    buttons->addWidget(new AddProjectButton(m_store, VoskButtonStyle::Variant::accent, actions));
    if (QWidget* clone = ProjectSheets::cloneButton(m_store, actions))
        buttons->addWidget(clone);
    m_empty = new EmptyState(m_store, Category::projects, actions, this);
    column->addWidget(m_empty);
    column->addStretch(1);

    m_batch = new ChangeBatch(this, [this] { refresh(); });
    watch(*m_batch, m_store);
    // Besides its project, its folder and the statistics, a card shows what these say.
    const auto cardsStale = [this] { m_cardsStale = true; };
    for (const auto changed :
         {&AppStore::usageChanged, &AppStore::refreshErrorChanged, &AppStore::addressesChanged,
          &AppStore::showAllChanged, &AppStore::runtimeChanged, &AppStore::runtimesChanged,
          &AppStore::registryChanged, &AppStore::filterChanged, &AppStore::listedChanged,
          &AppStore::unansweredChanged})
        connect(&m_store, changed, this, cardsStale);
    m_batch->watch(m_checks, &FolderChecks::changed);
    refresh();
}

ProjectsContent::~ProjectsContent() = default;

void ProjectsContent::refresh()
{
    // Hidden behind an opened project: catch up when shown again, not on every poll meanwhile. (A
    // list not shown yet, as a picture is made, is drawn all the same.)
    if (isHidden() && testAttribute(Qt::WA_WState_ExplicitShowHide)) {
        m_stale = true;
        return;
    }
    m_stale = false;

    const QList<ComposeProject> projects = m_store.projects();
    m_checks->look(projects);
    QHash<QString, ProjectFolder> folders;
    for (const ComposeProject& project : projects)
        folders.insert(project.id(), m_checks->result(project));
    m_projects = projects;
    m_folders = folders;
    // Start is not offered where the runtime has not answered: the accent goes to a project it is.
    QList<ComposeProject> startable = projects;
    startable.removeIf(
        [this](const ComposeProject& p) { return ProjectControls::unlisted(m_store, p).has_value(); });
    m_emphasized = emphasized(startable, m_folders);
    m_cards->sync(projects);
    m_cardsStale = false;
    m_projectsSection->setVisible(!projects.isEmpty());

    const QList<Container> loose = Docker::ungrouped(m_store.matchingContainers());
    m_loose->sync(loose);
    m_loose->setVisible(!loose.isEmpty());
    m_empty->setVisible(projects.isEmpty() && loose.isEmpty());
}

void ProjectsContent::checkFolders()
{
    if (m_stale || !isVisible())
        return;
    m_checks->lookAgain(m_projects);
}

void ProjectsContent::waitForFolders()
{
    m_checks->wait();
    refresh();
}

ProjectCard* ProjectsContent::card(const QString& id) const
{
    return m_cards->row(id);
}

void ProjectsContent::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_stale)
        refresh();
}
