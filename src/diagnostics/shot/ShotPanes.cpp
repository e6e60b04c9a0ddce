#include "diagnostics/shot/ShotPanes.h"

#include "app/design/Divider.h"
#include "app/design/Vosk.h"
#include "app/parts/Banner.h"
#include "app/shell/Sidebar.h"
#include "diagnostics/shot/ShotFixtures.h"
#include "screens/ContainersView.h"
#include "screens/DeleteProjectContent.h"
#include "screens/DeleteProjectView.h"
#include "screens/ProjectDetailContent.h"
#include "screens/ProjectsContent.h"
#include "settings/EngineRow.h"
#include "settings/RuntimeToolsSection.h"
#include "sheets/ReclaimSelection.h"
#include "sheets/ReclaimView.h"
#include "store/AppStore.h"
#include "toolchain/ToolchainStore.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

namespace ShotPanes {

namespace {

// A column on the page colour, as the main window's detail side and the Settings window are.
class Page : public QWidget {
public:
    explicit Page(QWidget* parent = nullptr) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Vosk::page.color()); }
};

// The tools section over a toolchain store that lives exactly as long as the pane.
class ToolsPane : public Page {
public:
    ToolsPane(Platform::Settings& settings, Preferences& preferences, bool stale)
        // Homebrew counts as there whatever this machine has: the pictures show what it offers.
        : m_toolchain(
              std::make_unique<ToolchainStore>(settings, ToolchainStore::Host{[] { return true; }, {}}))
    {
        const SystemStatus running{true, QStringLiteral("1.5.0"), QStringLiteral("1.4.1")};
        m_toolchain->setStatus(stale ? running : SystemStatus{});
        if (stale) {
            m_toolchain->setBuilder({true, true, 4, qint64(8) * 1024 * 1024 * 1024});
            // Checked today, at a fixed time of day: the pictures are the same whenever they are drawn.
            m_toolchain->setLastChecked(QDateTime(QDate::currentDate(), QTime(9, 41)));
        } else {
            // Never checked, whatever the pane before it left in the settings they share.
            m_toolchain->setLastChecked(std::nullopt);
        }
        m_toolchain->setTools(tools(stale));

        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(20, 20, 20, 20);
        column->setSpacing(0);
        m_section = new RuntimeToolsSection(*m_toolchain, preferences, SocketAccess::system(), this);
        column->addWidget(m_section);
        column->addStretch(1);
    }

    // The section reads the store until it is gone.
    ~ToolsPane() override { delete m_section; }

private:
    std::unique_ptr<ToolchainStore> m_toolchain;
    RuntimeToolsSection* m_section;
};

const Tool& catalogued(const char* formula)
{
    for (const Tool& tool : Toolchain::all())
        if (tool.formula == QLatin1String(formula))
            return tool;
    Q_UNREACHABLE();
}

// The first project of that name, else the first of all; `projects` is not empty.
const ComposeProject& named(const QList<ComposeProject>& projects, const char* name)
{
    const auto found =
        std::find_if(projects.cbegin(), projects.cend(),
                     [name](const ComposeProject& project) { return project.name == QLatin1String(name); });
    return found != projects.cend() ? *found : projects.first();
}

Tool versioned(const char* formula, std::optional<QString> installed, std::optional<QString> latest,
               bool brew)
{
    Tool tool = catalogued(formula);
    tool.installed = std::move(installed);
    tool.latest = std::move(latest);
    tool.brewManaged = brew;
    return tool;
}

} // namespace

std::unique_ptr<QWidget> screen(AppStore& store, Category category, bool banner, bool narrow)
{
    auto root = std::make_unique<QWidget>();
    auto* row = new QHBoxLayout(root.get());
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    // The sidebar keeps its choice to itself; nothing else listens.
    auto* sidebar = new Sidebar(store, category, root.get());
    sidebar->setFixedWidth(narrow ? 190 : 210);
    row->addWidget(sidebar);
    row->addWidget(new Divider(Qt::Vertical, root.get()));

    auto* detail = new Page(root.get());
    auto* column = new QVBoxLayout(detail);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    if (banner) {
        Banner* error = Banner::error(detail);
        error->setMessage(store.error());
        Banner* notice = Banner::notice(detail);
        notice->setMessage(store.notice());
        Banner* update = Banner::update(detail);
        update->setMessage(QString::fromLatin1(updateText));
        for (Banner* strip : {error, notice, update})
            column->addWidget(strip);
    }
    // A card's "Details" leads nowhere here: nothing listens.
    if (category == Category::projects) {
        auto* projects = new ProjectsContent(store, detail);
        // A picture is taken once: with the folders as they are, not as they are while being looked at.
        projects->waitForFolders();
        column->addWidget(projects);
    } else {
        column->addWidget(new ContainersContent(store, detail));
    }
    column->addStretch(1);
    row->addWidget(detail, 1);
    return root;
}

std::unique_ptr<QWidget> projectDetail(AppStore& store)
{
    const QList<ComposeProject> projects = store.projects();
    auto page = std::make_unique<Page>();
    auto* column = new QVBoxLayout(page.get());
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    // "All projects" leads nowhere here: nothing listens.
    if (!projects.isEmpty()) {
        auto* detail = new ProjectDetailContent(store, named(projects, "atlas-analytics"), page.get());
        detail->waitForFolder();
        column->addWidget(detail);
    }
    column->addStretch(1);
    return page;
}

TeardownPlan deletePlan(const QString& project)
{
    TeardownPlan plan;
    plan.project = project;
    plan.containers = {QStringLiteral("storefront-api-1"), QStringLiteral("storefront-web-1")};
    plan.volumes = {{QStringLiteral("storefront_pgdata"), {}, QStringLiteral("69.4 MB")},
                    {QStringLiteral("storefront_uploads"),
                     {QStringLiteral("atlas-analytics-worker-1")},
                     QStringLiteral("318.8 MB")}};
    plan.workingDir = ShotFixtures::root() + QStringLiteral("/storefront");
    return plan;
}

std::unique_ptr<QWidget> deleteSheet(AppStore& store)
{
    const QList<ComposeProject> projects = store.projects();
    auto page = std::make_unique<Page>();
    if (projects.isEmpty())
        return page;
    const ComposeProject& project = named(projects, "storefront");
    auto* column = new QVBoxLayout(page.get());
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    // The sheet's own title row over its plan; the footer stays out, as nothing here can be confirmed.
    column->addWidget(DeleteProjectView::header(project.name, page.get()));
    column->addWidget(new Divider(page.get()));
    column->addWidget(new DeleteProjectContent(deletePlan(project.name), true, page.get()));
    column->addStretch(1);
    return page;
}

std::unique_ptr<QWidget> reclaimSheet(AppStore& store)
{
    auto sheet = std::make_unique<ReclaimView>(store, std::nullopt);
    sheet->showMeasured(reclaimChoice(ReclaimSelection::candidates(store.usage(), std::nullopt)));
    return sheet;
}

std::unique_ptr<QWidget> toolsPane(Platform::Settings& settings, Preferences& preferences, bool stale)
{
    return std::make_unique<ToolsPane>(settings, preferences, stale);
}

QSet<QString> reclaimChoice(const QList<Reclaimable>& candidates)
{
    static const QStringList names{QStringLiteral("atlas-analytics-worker-1"),
                                   QStringLiteral("legacy-invoicing-php-1"),
                                   QStringLiteral("storefront-api:dev")};
    QSet<QString> chosen;
    for (const Reclaimable& item : candidates)
        if (names.contains(item.name))
            chosen.insert(item.id());
    return chosen;
}

QList<Tool> tools(bool stale)
{
    if (stale)
        return {
            versioned("container", QStringLiteral("1.4.1"), QStringLiteral("1.5.0"), true),
            versioned("socktainer", QStringLiteral("1.2.1"), QStringLiteral("1.2.1"), true),
            versioned("docker", QStringLiteral("29.8.1"), QStringLiteral("29.8.1"), true),
            versioned("docker-compose", QStringLiteral("5.5.1"), QStringLiteral("5.5.1"), true),
        };
    return {
        versioned("container", QStringLiteral("1.4.1"), std::nullopt, false),
        versioned("socktainer", std::nullopt, std::nullopt, false),
        versioned("docker", QStringLiteral("29.8.1"), std::nullopt, false),
        versioned("docker-compose", std::nullopt, std::nullopt, false),
    };
}

} // namespace ShotPanes
