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
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int padding = 20;
// What a grid in no scroll area (a picture) is taken to show of itself, from its top.
constexpr int shownOutsideAScrollArea = 1200;
// How tall a row of cards is taken to be before any was made.
constexpr double firstRowHeight = 200;

// The first of `projects` that compose could bring up (`folderAt` its index is at hand) and that does
// not fully run, among those `offered` takes; read in list order only as far as that one.
template <typename FolderAt, typename Offered>
std::optional<QString> firstToStart(const QList<ComposeProject>& projects, FolderAt folderAt, Offered offered)
{
    for (qsizetype i = 0; i < projects.size(); ++i) {
        const ComposeProject& project = projects.at(i);
        if (folderAt(i).atHand() && project.runningCount() < project.totalCount() && offered(project))
            return project.id();
    }
    return std::nullopt;
}

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
    return firstToStart(
        projects, [&](qsizetype i) { return folders.value(projects.at(i).id()); },
        [](const ComposeProject&) { return true; });
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
    m_gridHolder = holder;
    m_grid = new AdaptiveGrid(minimumCardWidth, spacing, holder);
    m_grid->setContentsMargins(0, 0, 0, 0);
    section->addWidget(holder);
    // A new width may take another number of columns, and so other cards.
    holder->installEventFilter(this);
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
    // A project as it was at the same place the last time keeps how its folder is looked at: with
    // hundreds remembered, a poll that changes one container works out that one's again.
    QStringList keys;
    QStringList fresh;
    keys.reserve(projects.size());
    for (qsizetype i = 0; i < projects.size(); ++i) {
        if (i < m_projects.size() && projects.at(i) == m_projects.at(i)) {
            keys << m_keys.at(i);
            continue;
        }
        keys << FolderChecks::keyOf(projects.at(i));
        fresh << keys.last();
    }
    // The others' folders were looked at when their keys were new.
    m_checks->lookAt(fresh);
    m_projects = projects;
    m_keys = keys;
    m_emphasized = emphasizedNow();
    placeCards();
    m_cardsStale = false;
    m_projectsSection->setVisible(!projects.isEmpty());

    const QList<Container> loose = Docker::ungrouped(m_store.matchingContainers());
    m_loose->sync(loose);
    m_loose->setVisible(!loose.isEmpty());
    m_empty->setVisible(projects.isEmpty() && loose.isEmpty());
}

std::optional<QString> ProjectsContent::emphasizedNow() const
{
    // Start is not offered where the runtime has not answered: the accent goes to a project it is.
    return firstToStart(
        m_projects, [this](qsizetype i) { return m_checks->resultOf(m_keys.at(i)); },
        [this](const ComposeProject& project) { return !ProjectControls::unlisted(m_store, project); });
}

void ProjectsContent::checkFolders()
{
    if (m_stale || !isVisible())
        return;
    // The cards made are those on screen or near it; the others' folders are looked at again once they
    // come near, so the looks every few seconds do not grow with the projects remembered.
    m_checks->lookAgain(m_projects.mid(m_window.first, m_window.count));
}

QScrollArea* ProjectsContent::scrollArea()
{
    if (m_area && m_area->isAncestorOf(this))
        return m_area;
    m_area = nullptr;
    for (QWidget* above = parentWidget(); above; above = above->parentWidget()) {
        auto* area = qobject_cast<QScrollArea*>(above);
        if (!area || !area->viewport()->isAncestorOf(this))
            continue;
        m_area = area;
        connect(area->verticalScrollBar(), &QScrollBar::valueChanged, this, &ProjectsContent::placeSoon);
        area->viewport()->installEventFilter(this);
        break;
    }
    return m_area;
}

void ProjectsContent::placeSoon()
{
    // Once, after what moved the grid is over: a scroll or a resize may come from within a layout, and
    // placing the cards lays the grid out again.
    if (m_placing)
        return;
    m_placing = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_placing = false;
            if (!m_stale)
                placeCards();
        },
        Qt::QueuedConnection);
}

void ProjectsContent::placeCards()
{
    const int width = std::max(m_gridHolder->width(), int(minimumCardWidth));
    const int columns = AdaptiveGrid::columns(width, minimumCardWidth, spacing);
    int shownTop = 0;
    int shownBottom = shownOutsideAScrollArea;
    if (QScrollArea* area = scrollArea()) {
        const QWidget* viewport = area->viewport();
        shownTop = m_gridHolder->mapFrom(viewport, QPoint(0, 0)).y();
        shownBottom = shownTop + viewport->height();
    }
    const int total = int(m_projects.size());
    const double rowHeight = m_rowHeight > 0 ? m_rowHeight : firstRowHeight;
    m_window = CardWindow::of(total, columns, rowHeight, spacing, shownTop, shownBottom, leastCards);
    m_folders.clear();
    for (qsizetype i = m_window.first; i < m_window.first + m_window.count; ++i)
        m_folders.insert(m_projects.at(i).id(), m_checks->resultOf(m_keys.at(i)));
    m_cards->sync(m_projects.mid(m_window.first, m_window.count));
    // The rows made say how tall the others would be.
    const int madeRows = (m_window.count + columns - 1) / columns;
    if (madeRows > 0) {
        const QMargins room = m_grid->contentsMargins();
        const int made = m_grid->heightForWidth(width) - room.top() - room.bottom();
        m_rowHeight = std::max(1.0, (made - spacing * (madeRows - 1)) / madeRows);
    }
    m_window =
        m_window.withRowHeight(total, columns, m_rowHeight > 0 ? m_rowHeight : firstRowHeight, spacing);
    const QMargins room(0, m_window.above, 0, m_window.below);
    if (m_grid->contentsMargins() != room)
        m_grid->setContentsMargins(room);
}

bool ProjectsContent::eventFilter(QObject* watched, QEvent* event)
{
    // The grid's width or the viewport's height changed: other cards may be near the part on screen.
    if (event->type() == QEvent::Resize &&
        (watched == m_gridHolder || (m_area && watched == m_area->viewport())))
        placeSoon();
    return QWidget::eventFilter(watched, event);
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
