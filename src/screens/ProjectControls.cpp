#include "screens/ProjectControls.h"

#include "app/design/FlowLayout.h"
#include "app/design/PreviewChrome.h"
#include "app/design/VoskButton.h"
#include "app/parts/Alert.h"
#include "app/parts/DialogAnswer.h"
#include "app/parts/EmptyState.h"
#include "app/parts/Host.h"
#include "engine/Compose.h"
#include "engine/Docker.h"
#include "platform/ByteCount.h"
#include "platform/Numbers.h"
#include "screens/ProjectChooser.h"
#include "screens/ProjectSheets.h"
#include "sheets/CommandRunView.h"
#include "sheets/LogSource.h"
#include "sheets/LogsView.h"
#include "sheets/ReclaimButton.h"
#include "sheets/ReclaimSelection.h"
#include "sheets/SheetHost.h"
#include "store/AppStore.h"

#include <QMenu>
#include <QPointer>

#include <memory>
#include <utility>

namespace {

constexpr double buttonWidth = 46;

QCoro::Task<> relocateProject(QPointer<AppStore> store, ComposeProject project, QPointer<QWidget> over)
{
    const std::optional<QString> dir = co_await chooseProjectDirectory(over.data());
    if (!dir || !store)
        co_return;
    const std::optional<QString> message = co_await store->relocate(project, *dir);
    if (message && store)
        store->setError(message);
}

// Opens the rebuild's sheet once the store has looked at the project's folder and files, off the
// window's thread; the store says why when it cannot rebuild.
QCoro::Task<> rebuildProject(QPointer<AppStore> store, ComposeProject project, std::optional<Runtime> on,
                             QPointer<QWidget> over)
{
    auto look = store->upCommand(project, {QStringLiteral("--build")});
    const std::optional<AppStore::ComposeRun> run = co_await std::move(look);
    if (!run || !store || !over)
        co_return;
    // The images change from the sheet's start until it is closed, or goes without being closed.
    const QString name = project.name;
    store->beginProjectChange(name, on);
    const auto ended = std::make_shared<bool>(false);
    const auto end = [store, name, on, ended] {
        if (std::exchange(*ended, true) || !store)
            return;
        store->endProjectChange(name, on);
    };
    auto* sheet = new CommandRunView(
        QStringLiteral("Rebuilding ") + project.displayName(),
        QStringLiteral("$ docker ") + run->args.join(u' '),
        [args = run->args, on, dir = run->dir] { return Docker::process(args, on, dir); },
        [store, end](std::optional<int>) {
            end();
            if (store)
                store->refresh(false);
        });
    QObject::connect(sheet, &QObject::destroyed, store.data(), end);
    SheetHost::open(over.data(), sheet);
}

QCoro::Task<> confirmDownOf(QPointer<AppStore> store, ComposeProject project, QPointer<QWidget> over)
{
    auto* alert = new Alert(QStringLiteral("Down ") + project.displayName() + u'?',
                            ProjectControls::downMessage(project), over.data());
    alert->setObjectName(QStringLiteral("downAlert"));
    alert->addButton(QStringLiteral("Cancel"), VoskButtonStyle::Variant::quiet, QDialog::Rejected,
                     QStringLiteral("cancelButton"));
    alert->addButton(QStringLiteral("Down"), VoskButtonStyle::Variant::danger, QDialog::Accepted,
                     QStringLiteral("downButton"), true);
    QPointer<Alert> guard(alert);
    const int answer = co_await answerOf(alert);
    if (guard)
        guard->deleteLater();
    if (answer == QDialog::Accepted && store)
        store->down(project);
}

} // namespace

ProjectControls::Offer ProjectControls::Offer::of(const ComposeProject& project, const ProjectFolder& folder,
                                                  bool remembered, bool listed)
{
    const bool hasContainers = !project.containers.isEmpty();
    Offer offer;
    // What needs no engine: the folder, and forgetting.
    offer.reveal = folder.exists;
    // Not while the folder is still being looked at: it may well be there.
    offer.locate = folder.unusable();
    // A project with containers comes back with the next listing however often it is forgotten.
    offer.forget = remembered && !hasContainers;
    if (!listed) {
        offer.remove = false;
        offer.freeSpace = false;
        return offer;
    }
    offer.start = hasContainers ? project.runningCount() < project.totalCount() : folder.atHand();
    // compose would take another project for one of a name it does not take: its containers are
    // started as they are.
    offer.startComposes = folder.atHand() && Docker::composeAcceptsName(project.name);
    offer.stop = std::any_of(project.containers.cbegin(), project.containers.cend(),
                             [](const Container& c) { return c.isLive(); });
    // Neither needs a file: compose goes by the containers' labels.
    offer.logs = hasContainers;
    offer.down = hasContainers;
    if (folder.atHand()) {
        offer.up = hasContainers;
        offer.rebuild = folder.builds;
    }
    return offer;
}

std::optional<QString> ProjectControls::unlisted(const AppStore& store, const ComposeProject& project)
{
    return EmptyState::unlisted(store, project.runtime ? project.runtime : store.runtime());
}

QString ProjectControls::downMessage(const ComposeProject& project)
{
    const qsizetype containers = project.containers.size();
    const QString plural = containers == 1 ? QString() : QStringLiteral("s");
    if (!Docker::composeAcceptsName(project.name))
        return QStringLiteral(
                   "Removes the %1 container%2 one by one; no network goes with them. Named volumes are "
                   "kept. Compose cannot bring back a project of this name, so it leaves Voskel with "
                   "its containers.")
            .arg(containers)
            .arg(plural);
    return QStringLiteral(
               "Removes the %1 container%2 and the project network. Named volumes are kept, and the "
               "project stays in Voskel so Start can bring it back.")
        .arg(containers)
        .arg(plural);
}

ProjectControls::ProjectControls(AppStore& store, const ComposeProject& project, const ProjectFolder& folder,
                                 bool emphasize, QWidget* parent)
    : QWidget(parent), m_store(store), m_project(project), m_folder(folder), m_emphasize(emphasize)
{
    setObjectName(QStringLiteral("projectControls"));
    m_flow = new FlowLayout(7, this);
    m_flow->setContentsMargins(0, 0, 0, 0);

    m_start = new VoskButton(QStringLiteral("Start"), VoskButtonStyle::Variant::quiet, buttonWidth, this);
    m_start->setObjectName(QStringLiteral("startButton"));
    connect(m_start, &VoskButton::clicked, this, &ProjectControls::start);
    m_flow->addWidget(m_start);

    m_stop = new VoskButton(QStringLiteral("Stop"), VoskButtonStyle::Variant::quiet, buttonWidth, this);
    m_stop->setObjectName(QStringLiteral("stopButton"));
    m_stop->setToolTip(QStringLiteral("Stops the containers and keeps them, so Start is quick"));
    connect(m_stop, &VoskButton::clicked, this, &ProjectControls::stop);
    m_flow->addWidget(m_stop);

    m_free = new ReclaimButton(m_store, QString(), m_project, this);
    m_free->setObjectName(QStringLiteral("freeButton"));
    m_free->setToolTip(
        QStringLiteral("Choose which of this project's stopped containers and unused images to remove"));
    m_flow->addWidget(m_free);

    m_more = new EllipsisMenuButton(this);
    m_more->setObjectName(QStringLiteral("projectMenuButton"));
    m_more->setFixedHeight(24);
    m_menu = new QMenu(m_more);
    m_menu->setObjectName(QStringLiteral("projectMenu"));
    m_more->setMenu(m_menu);
    m_flow->addWidget(m_more);

    const auto item = [this](const QString& text, const char* name, void (ProjectControls::*slot)()) {
        QAction* action = m_menu->addAction(text, this, slot);
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    m_logs = item(QStringLiteral("Project logs…"), "logsAction", &ProjectControls::openLogs);
    m_reveal = item(QStringLiteral("Open in File Manager"), "revealAction", &ProjectControls::reveal);
    m_locate = item(QStringLiteral("Locate compose file…"), "locateAction", &ProjectControls::locate);
    m_groupLine = m_menu->addSeparator();
    m_up = item(QStringLiteral("Up (apply the compose file)"), "upAction", &ProjectControls::up);
    m_rebuild = item(QStringLiteral("Rebuild and start (up --build)…"), "rebuildAction",
                     &ProjectControls::openRebuild);
    m_down = item(QStringLiteral("Down (stop and remove containers)…"), "downAction",
                  &ProjectControls::confirmDown);
    m_menu->addSeparator();
    m_forget = item(QStringLiteral("Remove from Voskel"), "forgetAction", &ProjectControls::forget);
    m_delete = item(QStringLiteral("Delete project…"), "deleteAction", &ProjectControls::openDelete);

    connect(&m_store, &AppStore::projectChangesChanged, this, &ProjectControls::apply);
    apply();
}

void ProjectControls::setProject(const ComposeProject& project, const ProjectFolder& folder, bool emphasize)
{
    m_project = project;
    m_folder = folder;
    m_emphasize = emphasize;
    apply();
}

void ProjectControls::takeStatuses(const ComposeProject& project)
{
    m_project = project;
    m_free->setProject(m_project);
}

void ProjectControls::apply()
{
    const std::optional<Runtime> on = runtime();
    const bool remembered =
        m_store.registry().knows(m_project.name, on ? std::optional<QString>(on->id()) : std::nullopt);
    const Offer offer = Offer::of(m_project, m_folder, remembered, !unlisted(m_store, m_project));

    // What the sheet the button opens would list.
    qint64 freeable = 0;
    for (const Reclaimable& item : ReclaimSelection::candidates(m_store.usage(), m_project))
        freeable = Platform::saturatingAdd(freeable, item.bytes);

    const bool first = !m_applied;
    m_applied = true;
    if (first || offer != m_offer) {
        m_start->setVisible(offer.start);
        m_start->setToolTip(offer.startComposes
                                ? QStringLiteral("compose up: creates and starts every container")
                                : QStringLiteral("Starts the containers that exist"));
        m_stop->setVisible(offer.stop);
        m_logs->setEnabled(offer.logs);
        m_reveal->setVisible(offer.reveal);
        m_locate->setVisible(offer.locate);
        m_groupLine->setVisible(offer.group());
        m_up->setVisible(offer.up);
        m_rebuild->setVisible(offer.rebuild);
        m_down->setVisible(offer.down);
        m_forget->setVisible(offer.forget);
        m_delete->setEnabled(offer.remove);
        m_offer = offer;
    }
    m_start->setVariant(m_emphasize ? VoskButtonStyle::Variant::accent : VoskButtonStyle::Variant::quiet);

    m_freeable = freeable;
    const QString title =
        freeable >= 1 ? QStringLiteral("Free ") + Platform::fileSize(freeable) + u'…' : QString();
    if (m_free->text() != title)
        m_free->setText(title);
    m_free->setProject(m_project);
    // What the last measurement found is no offer while an action has changed the project since.
    m_free->setVisible(offer.freeSpace && freeable >= 1 && m_store.freeableKnown(m_project));
}

ComposeProject ProjectControls::whole() const
{
    return m_store.wholeProject(m_project);
}

std::optional<Runtime> ProjectControls::runtime() const
{
    return m_project.runtime ? m_project.runtime : m_store.runtime();
}

QWidget* ProjectControls::host() const
{
    return QWidget::window();
}

void ProjectControls::start()
{
    // A project without containers has nothing to start but through compose, and up says why when
    // compose cannot.
    if (m_offer.startComposes || m_project.containers.isEmpty())
        m_store.up(whole());
    else
        m_store.startAll(whole());
}

void ProjectControls::stop()
{
    m_store.stopAll(whole());
}

void ProjectControls::openLogs()
{
    // Project logs come from compose, which would show another project's for this one, or none.
    if (!Docker::composeAcceptsName(m_project.name)) {
        m_store.setError(Docker::composeRefusalMessage(m_project.name));
        return;
    }
    const std::optional<Runtime> on = runtime();
    SheetHost::open(host(), new LogsView(LogSource::project(whole()), on, m_store.isApple(on)));
}

void ProjectControls::reveal()
{
    if (m_project.workingDir && !Host::current().reveal(*m_project.workingDir))
        m_store.setError(Host::couldNotOpen(*m_project.workingDir));
}

void ProjectControls::locate()
{
    relocateProject(&m_store, m_project, host());
}

void ProjectControls::up()
{
    m_store.up(whole());
}

void ProjectControls::openRebuild()
{
    // Rebuilt from the files its containers were made from, as Up does; never from another one.
    rebuildProject(&m_store, whole(), runtime(), host());
}

void ProjectControls::confirmDown()
{
    confirmDownOf(&m_store, whole(), host());
}

void ProjectControls::forget()
{
    m_store.forget(m_project);
}

void ProjectControls::openDelete()
{
    ProjectSheets::openDelete(m_store, whole(), host());
}
