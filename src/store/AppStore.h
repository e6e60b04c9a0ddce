#pragma once

#include "engine/ComposeProject.h"
#include "engine/Container.h"
#include "engine/Docker.h"
#include "engine/ProjectRegistry.h"
#include "engine/Runtime.h"
#include "engine/Stats.h"
#include "engine/Teardown.h"
#include "engine/Usage.h"
#include "platform/DiskLook.h"
#include "store/BusyHold.h"
#include "store/ComposeRun.h"
#include "store/FreshPlan.h"
#include "store/RuntimeListing.h"
#include "store/StoreEngine.h"

#include <QCoroTask>
#include <QDateTime>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace Platform {
class Cancellation;
class Settings;
} // namespace Platform

// Everything the application knows about the container runtimes: which exist, which is shown, the
// listings of the runtimes in view, disk usage, live statistics, the banner texts and the remembered
// compose projects. Lives on the main thread and is changed only there; engine work runs on the
// utility pool and its results come back here, where a result that the user has since made stale
// is dropped. Every setter notifies only when the value really changes.
class AppStore : public QObject {
    Q_OBJECT

public:
    static constexpr const char* showAllKey = "showAllRuntimes";
    static constexpr const char* pendingTrashMovesKey = "pendingTrashMoves";

    // What a registry login came to: whether the client accepted it, and what it said.
    struct LoginResult {
        bool ok = false;
        QString said;

        bool operator==(const LoginResult&) const = default;
    };

    // The runtime picker's value for "all runtimes": U+0000 and "all", which no runtime can be named.
    static QString allRuntimesTag();
    // When nothing has been measured yet: usage taken then is always stale.
    static QDateTime distantPast();

    // Reads the show-all setting and the project registry from `defaults`, which must outlive the
    // store. Starts nothing and runs no command.
    explicit AppStore(Platform::Settings& defaults, QObject* parent = nullptr);
    AppStore(Platform::Settings& defaults, std::shared_ptr<StoreEngine> engine, StoreClock clock,
             QObject* parent = nullptr);
    ~AppStore() override;

    // Observable state.
    const QList<RuntimeEntry>& runtimes() const { return m_runtimes; }
    const std::optional<Runtime>& runtime() const { return m_runtime; }
    bool showAll() const { return m_showAll; }
    // The runtimes in scope that did not answer the last applied refresh, by name, in list order; with
    // every runtime shown also those whose socket is gone, which are never asked.
    const QStringList& unanswered() const { return m_unanswered; }
    // The runtimes in scope, by identifier, whose last listing ended without an answer (past its limit,
    // or refused): until they answer, no refresh waits for them and they are neither measured nor sampled.
    QStringList silent() const;
    bool isSilent(const std::optional<Runtime>& runtime) const;
    // Whether the listing of some runtime is under way.
    bool listingUnderWay() const;
    // Whether the listings hold an answer of the runtimes in scope. False from start() and from every
    // switch of the runtime shown or of show-all until a refresh's listing is applied: meanwhile the
    // lists are empty for want of an answer, and say nothing of what the runtimes hold. A store never
    // started holds what it was given, and counts as listed.
    bool listed() const { return m_listed; }
    // Whether the listings hold the containers of `runtime`, one of the scope, as it answered: not
    // while listed() is false, nor, with every runtime shown, while it was not asked (it was not found
    // reachable) or is one of the unanswered. Its remembered projects are listed meanwhile, and nothing
    // is known of what they run.
    bool hasListed(const std::optional<Runtime>& runtime) const;
    const QList<Container>& containers() const { return m_containers; }
    const QList<DockerImage>& images() const { return m_images; }
    const QList<DockerVolume>& volumes() const { return m_volumes; }
    const std::optional<DiskUsage>& usage() const { return m_usage; }
    // When the last disk-usage load began; distantPast() marks usage as stale.
    const QDateTime& usageAt() const { return m_usageAt; }
    // Whether the disk tiles may say usage is being measured: a measurement of a runtime in scope is
    // under way, and none of this scope has come back without figures since the scope was last switched
    // or figures last came. A measurement that ended at its limit leaves it false.
    // usage() holds each runtime's figures from its last measurement only: none of one whose last ended
    // without figures or whose listing does not answer, so no earlier figure passes for a current one.
    bool awaitingUsage() const;
    const std::optional<LiveStats>& stats() const { return m_stats; }
    // The last processor-time sample per runtime identifier ("" for the client's own context).
    const QMap<QString, CPUSample>& cpuSamples() const { return m_cpuSamples; }
    // Statistics passes begun since statistics were last dropped.
    qint64 statsAsked() const { return m_statsAsked; }
    // Apple container identifier -> IPv4 address.
    const QMap<QString, QString>& addresses() const { return m_addresses; }
    const std::optional<QString>& error() const { return m_error; }
    const std::optional<QString>& notice() const { return m_notice; }
    // Whether any action is under way: true while one hold of holdBusy() is kept, or the refresh a
    // press of Refresh asked for runs.
    bool busy() const { return m_busyHolds > 0 || m_pressWaits; }
    bool windowVisible() const { return m_windowVisible; }
    const QString& filter() const { return m_filter; }
    const ProjectRegistry& registry() const { return m_registry; }
    Platform::Settings& defaults() const { return m_defaults; }
    // The error text the last failed refresh put up, while it may still be cleared by a good one.
    const std::optional<QString>& refreshError() const { return m_refreshError; }
    bool isStarted() const { return m_pollTask.has_value(); }

    // Plain assignments for the views and for the modes that fill a store from fixtures. Assigning
    // `showAll` here neither saves the setting nor refreshes: the runtime picker uses show().
    void setRuntimes(const QList<RuntimeEntry>& runtimes);
    void setRuntime(const std::optional<Runtime>& runtime);
    void setShowAll(bool showAll);
    void setContainers(const QList<Container>& containers);
    void setImages(const QList<DockerImage>& images);
    void setVolumes(const QList<DockerVolume>& volumes);
    void setUsage(const std::optional<DiskUsage>& usage);
    void setStats(const std::optional<LiveStats>& stats);
    void setAddresses(const QMap<QString, QString>& addresses);
    void setError(const std::optional<QString>& error);
    void setNotice(const std::optional<QString>& notice);
    void setWindowVisible(bool visible);
    void setFilter(const QString& filter);
    void setRegistry(const ProjectRegistry& registry);

    // Keeps the store busy while it is held: see store/BusyHold.h.
    using BusyHold = ::BusyHold;
    [[nodiscard]] BusyHold holdBusy();

    // The filter as the queries match it: without the blanks and tabs around it (line breaks stay),
    // in lower case. Empty means nothing is filtered out.
    static QString filterQuery(const QString& filter);

    // Queries, computed afresh on every call.
    // The runtimes whose listings are fetched and shown; an absent entry is the client's own context.
    QList<std::optional<Runtime>> scope() const;
    QList<Runtime> addableRuntimes() const;
    std::optional<Runtime> defaultAddRuntime() const;
    QList<Container> matchingContainers() const;
    QList<DockerImage> matchingImages() const;
    QList<DockerVolume> matchingVolumes() const;
    // The projects of the runtimes in scope, the remembered ones without containers merged in.
    QList<ComposeProject> projects() const;
    // containers() as compose projects (Docker::group), worked out once per listing.
    const QList<ComposeProject>& groups() const;
    // A project of projects() as it is without the filter: all its containers, not only those that
    // match. What acts on a project (start, stop, down, delete) acts on this. `shown` itself when the
    // project has no containers at all.
    ComposeProject wholeProject(const ComposeProject& shown) const;
    // Running containers of every runtime in scope, whatever the filter.
    int runningCount() const;
    // Display sizes of the volumes listed on `on` (none: the shown runtime) as the engine measured what
    // they hold in the last disk usage; a volume not measured, or empty, has none.
    QMap<QString, QString> volumeSizes(const std::optional<Runtime>& on) const;
    bool isApple(const std::optional<Runtime>& runtime) const;
    // The IPv4 address of a running container on Apple's runtime.
    std::optional<QString> address(const Container& container) const;
    // What the runtime picker shows as selected: the all-runtimes tag, a runtime identifier or "".
    QString selection() const;

    // Discovers the runtimes and starts the refresh and statistics loops, once per store; the loops
    // end on their own when the store is gone.
    void start();
    // Rediscovers the runtimes, then refreshes. Runs on by itself when the result is not awaited.
    // Once started, the listing's rhythm also rediscovers when the client's context folder changed.
    QCoro::Task<> loadContexts();
    // Rediscovers the runtimes only, and gives the one to show first. A failed discovery leaves the
    // list empty and is remembered: while all runtimes are shown and none is left to ask, a refresh
    // reports it.
    QCoro::Task<std::optional<Runtime>> discover();
    // Lists every runtime in scope, each applied as it comes unless it has gone stale meanwhile, one
    // listing at a time per runtime (askFor). Returns once each has answered or failed, but for those
    // already silent. A failure of the shown runtime hands over to a reachable one, unless this refresh
    // already follows a hand-over.
    QCoro::Task<> refresh(bool afterHandover);
    // Shows every reachable runtime, or the selected one; saved as a setting, then refreshed. A
    // discovery that finds one runtime left while all are shown shows that one the same way.
    QCoro::Task<> show(bool all);
    // The runtime picker's choice: allRuntimesTag() or a runtime identifier. An unknown
    // identifier does nothing.
    QCoro::Task<> select(QString tag);
    // How a refresh sets or clears `error`: a failure text is shown and remembered; success clears
    // the error only while it is still that remembered text, never one an action put up.
    void settle(const std::optional<QString>& refreshFailure);

    // The toolbar's refresh: rediscovers the runtimes (when their folder changed) and refreshes, busy
    // until then, and measures each runtime in scope neither being measured nor measured within
    // pressMeasuringPause. Presses meanwhile fold into one more rediscovery and refresh.
    void refreshNow();
    // Figures a few seconds old are as current as the user can tell, and hands that press again and
    // again should not keep the engine walking every volume.
    static constexpr std::chrono::seconds pressMeasuringPause{5};

    // Loaders. Failures are silent: a runtime that does not answer is left out of the result.
    // Disk usage measures each runtime on a pool of its own, one measurement per runtime at a time: a
    // runtime already being measured is not measured again, its measurement under way counts for this
    // load too; with `afresh`, one begun before this load is waited out and another begun after it.
    QCoro::Task<> loadUsage(bool afresh = false);
    QCoro::Task<> loadStats();
    QCoro::Task<> loadAddresses();

    // User actions. Each starts at once and runs on by itself when its task is not awaited; awaiting
    // it waits for the refresh that shows the outcome. An action runs on the runtime of the item it
    // acts on, else on the runtime shown when it is called. Actions do not queue: two may overlap.
    //
    // The common path: marks the store busy, runs `docker <args>` in `cwd` on `on`, puts the failure
    // text into `error` (a success clears it), drops busy, makes disk usage stale and refreshes. The
    // command runs on a pool of its own, so actions that hang take no thread from listings, plans and
    // measurements. It may take as long as one command of a removal before it is ended and fails as
    // the runtime not answering; `bounded` false (Up, which may build for long) lifts that limit, and
    // only the application's way out ends it. With `project`, the command changes that compose
    // project's containers or images on `on`, from its start to its end (see beginProjectChange).
    QCoro::Task<> act(QStringList args, std::optional<QString> cwd, std::optional<Runtime> on,
                      std::optional<QString> project = std::nullopt, bool bounded = true);
    QCoro::Task<> restart(const Container& container);
    QCoro::Task<> start(const Container& container);
    QCoro::Task<> stop(const Container& container);
    QCoro::Task<> pause(const Container& container);
    QCoro::Task<> unpause(const Container& container);
    QCoro::Task<> remove(const Container& container);
    // Typed references are taken without surrounding blanks and tabs; one that is empty then does
    // nothing at all.
    QCoro::Task<> commit(Container container, QString reference);
    QCoro::Task<> remove(const DockerImage& image);
    // Always on the shown runtime.
    QCoro::Task<> pull(QString reference);
    QCoro::Task<> tag(DockerImage image, QString reference);
    QCoro::Task<> remove(const DockerVolume& volume);
    QCoro::Task<> stopAll(const ComposeProject& project);
    QCoro::Task<> startAll(const ComposeProject& project);
    void dismissError();
    void dismissNotice();

    // A command that changes a compose project's containers or images (up, rebuild, down, start, stop,
    // deletion) marks the project on its runtime from its start to its end. What the last disk-usage
    // measurement says the project could free stands again only once one begun after the end has come
    // back, and no such command is under way: until then freeableKnown() is false. Ending also makes
    // disk usage due. Every begin needs its end, on the same runtime (none: the client's own context).
    void beginProjectChange(const QString& project, const std::optional<Runtime>& on);
    void endProjectChange(const QString& project, const std::optional<Runtime>& on);
    bool freeableKnown(const ComposeProject& project) const;

    using ComposeRun = ::ComposeRun;

    // Compose projects. Both name the project, so compose acts on the project the containers belong
    // to whatever name the folder or the environment would give, and neither runs compose for a name
    // compose does not take (up says so in `error`; down removes the containers one by one). up does
    // nothing unless the project's folder exists and holds a compose file, looked at off this thread:
    // a look that does not answer within the limit is the error "<folder> does not answer.". It reads
    // the compose files and env files, in the project folder, that the project's containers were made
    // from, or a remembered project was started from; one of them missing is the error and nothing
    // runs. Containers made from several sets are each brought up from their own set, and nothing else
    // of it (`up -d --no-deps <services>`, one set after the other). up checks every set first: an
    // invalid one sets `error` and nothing runs, a warning becomes the notice (no warning clears it).
    // down reads no file: compose goes by the containers' labels, so it also takes down a project whose
    // folder is gone. An up of a project whose up is under way does nothing.
    QCoro::Task<> up(ComposeProject project);
    QCoro::Task<> down(ComposeProject project);
    // The command up would run, with `extra` after "up -d", for what runs it elsewhere (a rebuild in a
    // sheet); none when up would run nothing or one command per set, with the reason in `error` where
    // there is one.
    QCoro::Task<std::optional<ComposeRun>> upCommand(ComposeProject project, QStringList extra);
    // Remembers the project in `dir` under `on`, else under the shown runtime; switches to that
    // runtime when another one is shown. None on success, else the message for the caller's form.
    QCoro::Task<std::optional<QString>> addProject(QString dir, std::optional<Runtime> on);
    // Points a remembered project at another folder holding the same compose project. Adding and
    // relocating are refused while the project's containers were made in another folder that is still
    // there; once it is gone, the folder given is the project's until its containers are made anew.
    QCoro::Task<std::optional<QString>> relocate(ComposeProject project, QString dir);
    void forget(const ComposeProject& project);

    // What deleting the project would remove, from what the engines list now (makePlan): the folder is
    // offered for the Trash only while nothing a container of any listed runtime uses lies in it. Never
    // fails: what cannot be read is left out, and what ran out of time or keeps the folder is a note of
    // the plan. Only volumes compose made for the project are planned. `cancel` ends the engine
    // queries still under way, for a sheet closed meanwhile.
    QCoro::Task<TeardownPlan> teardownPlan(ComposeProject project,
                                           std::shared_ptr<Platform::Cancellation> cancel = nullptr);
    // Carries a plan out on `on`: the project down (or its containers removed, also when compose
    // refuses the project's name), every planned container still there then removed by identifier,
    // its own volumes removed, optionally its folder moved to the Trash, and then, when nothing
    // failed, the project forgotten. Every failure is collected into `error`, one line each (a
    // planned container that stays is named); busy lasts until the refresh after it has finished.
    // A command still running after its limit (a runtime that takes it and never answers) is ended
    // and reported as not answering, so the sheet waiting for the deletion is never held for good.
    // After windDown() no further step starts, and the project stays remembered.
    // Before anything goes, the plan is made again from what is there now (a folder that has not
    // answered within 10 seconds fails the deletion): when it would remove or move anything else than
    // `plan` (other containers by identifier, volumes by creation time, with the Trash another folder
    // or one someone else uses now), nothing is removed and the new plan comes back for the user to
    // confirm; otherwise none does. The folder is looked at once more just before it is moved: one
    // that someone else uses by then stays, and the failure says why.
    QCoro::Task<std::optional<TeardownPlan>> deleteProject(TeardownPlan plan, std::optional<Runtime> on,
                                                           bool trashDirectory);
    // For the application's way out: every deletion and reclaim under way ends its running command
    // (with what that started) and starts no further step; a move to the Trash under way finishes.
    // They then end as soon as they can, without the refresh; a reclaim asked for afterwards removes
    // nothing.
    void windDown();
    // Whether windDown() was called: the application is on its way out.
    bool woundDown() const { return m_woundDown; }
    // Forgets every project whose deletion moved its folder to the Trash after the application that
    // asked for it was gone (a quit during a slow move): a project noted before its move whose folder
    // is no longer where it was. Its note goes once the folder has answered either way. start() runs it.
    QCoro::Task<> forgetTrashedProjects();
    // How many deletions are under way.
    int deletions() const { return int(m_deletions.size()); }
    // How many reclaims are under way, from the first removal to the refresh after the last.
    int reclaims() const { return int(m_reclaims.size()); }
    // For tests: how long one command of a deletion, of reclaiming space or of an action may take.
    void setRemovalLimit(std::chrono::milliseconds limit) { m_removalLimit = limit; }
    // For tests: how long an action waits for a look at a project's folder, and what every such look
    // does first (a test stalls it there as a hung mount would).
    void setFolderLooks(std::chrono::milliseconds limit, std::function<void()> first);

    // Removes the chosen candidates, each on its own runtime, reloads usage and listings and says in
    // the notice how much was freed. Returns the failure texts of the commands that failed; one still
    // running after its limit is ended and fails as the runtime not answering. An image whose tag now
    // names another image, and a volume made again under its name, are not removed and fail alone.
    QCoro::Task<QStringList> reclaim(QList<Reclaimable> items);
    // Of the volume candidates among `items`, those something holds or may hold (VolumeWeighing), by
    // their identifier: how each is held, one sentence each. They are not unused, whatever the
    // measurement said.
    QCoro::Task<QMap<QString, QStringList>> heldVolumes(QList<Reclaimable> items);
    // Logs the shown runtime's client in to a registry; the password goes to the client's standard
    // input only. Changes nothing in the store.
    QCoro::Task<LoginResult> login(QString server, QString username, QString password);

signals:
    void runtimesChanged();
    void runtimeChanged();
    void showAllChanged();
    void unansweredChanged();
    void containersChanged();
    void imagesChanged();
    void volumesChanged();
    void usageChanged();
    void usageAtChanged();
    void awaitingUsageChanged();
    void statsChanged();
    void cpuSamplesChanged();
    void statsAskedChanged();
    void addressesChanged();
    void errorChanged();
    void noticeChanged();
    void busyChanged();
    void windowVisibleChanged();
    void filterChanged();
    void registryChanged();
    void refreshErrorChanged();
    void deletionsChanged();
    void listedChanged();
    void silentChanged();
    void projectChangesChanged();
    void reclaimsChanged();

private:
    friend class ::BusyHold;

    // What a background result is checked against when it comes back.
    struct Snapshot {
        std::optional<Runtime> runtime;
        bool showAll = false;
    };

    Snapshot snapshot() const { return {m_runtime, m_showAll}; }

    // Stores `value` and tells observers, unless the field already holds an equal value.
    template <typename T>
    void assign(T& field, const T& value, void (AppStore::*changed)())
    {
        if (field == value)
            return;
        field = value;
        m_projects.reset();
        if (static_cast<const void*>(&field) == &m_containers)
            m_groups.reset();
        emit(this->*changed)();
    }
    bool isStale(const Snapshot& before) const;
    // The scope without the runtimes that did not answer their last listing: measuring them would only
    // wait out the time limit again.
    QList<std::optional<Runtime>> answeringScope() const;

    // A listing of `runtime`, one at a time (OneAtATime), ended once applied or dropped.
    QFuture<void> askFor(const std::optional<Runtime>& runtime, bool afterHandover, bool fresh);
    QCoro::Task<> runListings(std::optional<Runtime> runtime);
    QCoro::Task<> listOnce(std::optional<Runtime> runtime, bool afterHandover);
    QCoro::Task<> takeAnswer(std::optional<Runtime> runtime, ListingAnswer answer, bool afterHandover);
    // The lists, unanswered and error as the scope last answered; `failed` may name one in the notice.
    void composeLists(bool failed);
    void setSilent(const QString& runtime, bool silent);
    // Reachability as a look at the endpoints found it; entries it did not look at stay as they were.
    void takeReachability(const QHash<QString, bool>& reachable);
    // Forgets what the store knew of runtimes that have left the scope.
    void keepToScope();
    // Drops runtimes no longer listed from unanswered, and from the notice that names them.
    void forgetVanished();
    // Empties what was shown, for another runtime or for all of them.
    void switchScope();
    // Shows every reachable runtime, or the selected one, saved as a setting, from empty lists.
    void takeShowAll(bool all);
    // One beat of the rhythm: each runtime in scope not being listed is, and the context folder looked at.
    void beat();
    QCoro::Task<> lookAtContexts();
    // What discovery would read in the context folder now; none without one, or an answer in time.
    QCoro::Task<std::optional<QByteArray>> contextsNow() const;
    // loadContexts() with `seen`, read in the context folder before the contexts are listed.
    QCoro::Task<> discoverFrom(std::optional<QByteArray> seen);
    // Rediscovers unless the context folder is as discovery last read it; then refreshes.
    QCoro::Task<> refreshContexts();
    QCoro::Task<> lookAgainAtReachability();
    // Rediscovers now, or once the one under way has ended; `pressed` keeps the store busy until then.
    void rediscover(bool pressed);
    QCoro::Task<> rediscoverFolded();

    void setUnanswered(const QStringList& unanswered);
    void setListed(bool listed);
    void setUsageAt(const QDateTime& usageAt);
    void setCpuSamples(const QMap<QString, CPUSample>& samples);
    void setStatsAsked(qint64 asked);
    void setRefreshError(const std::optional<QString>& text);
    void setPressWaits(bool waits);

    // Switches to the first reachable runtime when the shown one is unreachable or gone.
    bool handOver();
    void forgetStats();
    // The projects `containers` form in scope, merged with the remembered ones, in list order.
    QList<ComposeProject> projectsOf(const QList<Container>& containers) const;
    // ProjectRegistry::merge(discovered, known) for `runtime` (its identifier), the remembered projects
    // listed without containers kept from one call to the next while they stay the same.
    QList<ComposeProject> merged(const QList<ComposeProject>& discovered, const QList<KnownProject>& known,
                                 const QString& runtime) const;
    void remember(const QList<ComposeProject>& projects, const std::optional<Runtime>& runtime);
    // Remembers what the containers of the remembered projects among `projects` bind-mount, asked off
    // this thread only for those whose containers changed; one question per runtime at a time.
    void askForMounts(const QList<ComposeProject>& projects, const std::optional<Runtime>& runtime);
    QCoro::Task<> learnMounts(Runtime runtime, QMap<QString, QStringList> idsByProject);
    // Takes `registry` as the store's and writes it to the settings.
    void keepRegistry(const ProjectRegistry& registry);
    // The projects whose folders are being moved to the Trash with nothing left but to forget them
    // (by runtime identifier, name and folder), as the settings hold them under pendingTrashMovesKey.
    // Noting one writes the settings to disk at once, before its move starts; the note goes once the
    // project is forgotten or its move failed. `folder` is the folder that moves, when it is not the
    // project's own working folder as written (a link is on that).
    void noteTrashMove(const KnownProject& project, const QString& runtimeId, bool pending,
                       const QString& folder = {});
    // Remembers a project given by the user under `runtime`, replacing one of the same name.
    void keepProject(const KnownProject& project, const Runtime& runtime);
    // The project of `name` on `runtime` as its containers form it, when it has any.
    std::optional<ComposeProject> runningAs(const QString& name, const Runtime& runtime) const;
    // What the containers of the project of `name` on `runtime` make of a folder being added or located
    // for it (`resolved`: its path with every link resolved): refused with a message, or taken, which
    // moves the project from the folder they name when that one is gone.
    struct Claim {
        std::optional<QString> refusal;
        QString movedFrom;
    };
    QCoro::Task<Claim> claimFolder(QString name, QString dir, QString resolved, Runtime runtime);
    // up's commands without the guard against a second up: one per set the project was started from.
    QCoro::Task<std::optional<QList<ComposeRun>>> lookForUp(ComposeProject project, QStringList extra);
    // The runtime a deletion acts on first, then every runtime listed: whose containers may use a folder.
    QList<std::optional<Runtime>> everyRuntime(const std::optional<Runtime>& on) const;
    // What a deletion plan of `project` on `on` is made from, besides the engines' answers.
    PlanAsk planAsk(const ComposeProject& project, const std::optional<Runtime>& on) const;
    // The item's own runtime, else the one shown now.
    std::optional<Runtime> actingOn(const std::optional<Runtime>& own) const { return own ? own : m_runtime; }
    static QString changeKey(const QString& project, const std::optional<Runtime>& on);
    // Lets go of the changed projects on `runtime` that a measurement begun by `load` began after.
    void settleProjectChanges(const QString& runtime, qint64 load);
    bool usageIsDue() const;
    // One runtime's disk measurement, and the load that began it; taken once, by whoever sees it end.
    struct Measurement {
        std::optional<Runtime> runtime;
        qint64 load = 0;
        QFuture<std::optional<DiskUsage>> result;
        std::shared_ptr<bool> taken;
    };
    // The measurement of `runtime` under way, else a new one begun by `load`.
    Measurement measure(const std::optional<Runtime>& runtime, qint64 load);
    // Takes the figures of a measurement that has ended into usage, while its runtime is in scope.
    void take(const Measurement& measurement);
    // usage as the figures of the runtimes in scope make it.
    void composeUsage();
    // Each runtime's total now; what a reclaim freed since `before` and `partsBefore`, none if nothing.
    QHash<QString, qint64> usageTotals() const;
    std::optional<qint64> reclaimed(const std::optional<qint64>& before,
                                    const QHash<QString, qint64>& partsBefore) const;
    void setUsageFailed(bool failed);

    static QCoro::Task<> refreshLoop(QPointer<AppStore> store);
    static QCoro::Task<> statsLoop(QPointer<AppStore> store);

    Platform::Settings& m_defaults;
    std::shared_ptr<StoreEngine> m_engine;
    StoreClock m_clock;
    std::chrono::milliseconds m_removalLimit = Docker::removalLimit;
    // Has a look server make `look` at a project's folder, after the test's stall if any; nothing once
    // the folder has not answered within the limit.
    template <typename R>
    QCoro::Task<std::optional<R>> lookAtFolder(Platform::LookRequest<R> look) const
    {
        look.beforeLook = m_beforeFolderLook;
        return Platform::lookAtDisk(std::move(look), m_folderLimit);
    }

    std::chrono::milliseconds m_folderLimit = Platform::folderAnswerLimit;
    std::function<void()> m_beforeFolderLook;

    QList<RuntimeEntry> m_runtimes;
    std::optional<Runtime> m_runtime;
    bool m_showAll = false;
    QStringList m_unanswered;
    bool m_listed = true;
    // By runtime identifier: each runtime's last answer, its listings, its last failure, and those whose
    // last listing did not answer.
    QHash<QString, RuntimeShare> m_shares;
    OneAtATime m_listings;
    QSet<QString> m_nextAfterHandover;
    QHash<QString, QString> m_failures;
    QSet<QString> m_silent;
    QList<Container> m_containers;
    QList<DockerImage> m_images;
    QList<DockerVolume> m_volumes;
    std::optional<DiskUsage> m_usage;
    QDateTime m_usageAt;
    // What projects() last gave; every change of a field through assign() drops it.
    mutable std::optional<QList<ComposeProject>> m_projects;
    // What groups() last gave; a change of the containers drops it.
    mutable std::optional<QList<ComposeProject>> m_groups;
    // By runtime identifier: its remembered projects, the names its containers listed, and what merged()
    // made of them: those remembered of the projects listed, and the others as projects.
    struct Resting {
        QList<KnownProject> known;
        QStringList listed;
        QList<KnownProject> theirs;
        QList<ComposeProject> projects;
    };
    mutable QHash<QString, Resting> m_resting;
    std::optional<LiveStats> m_stats;
    QMap<QString, CPUSample> m_cpuSamples;
    qint64 m_statsAsked = 0;
    QMap<QString, QString> m_addresses;
    std::optional<QString> m_error;
    std::optional<QString> m_notice;
    int m_busyHolds = 0;
    bool m_windowVisible = false;
    QString m_filter;
    ProjectRegistry m_registry;
    std::optional<QString> m_refreshError;
    std::optional<QString> m_discoveryFailure;
    // Until the runtimes are known (set once), every runtime shown is no runtime at all: nothing to list yet.
    bool m_discovered = false;
    std::optional<QCoro::Task<>> m_pollTask;
    std::optional<QCoro::Task<>> m_statsTask;
    std::optional<QCoro::Task<>> m_trashedTask;
    // What stops each deletion under way.
    QList<std::shared_ptr<Platform::Cancellation>> m_deletions;
    // The projects (by id) whose up, or whose rebuild's look at the folder, is under way.
    QSet<QString> m_bringingUp;
    QHash<QString, QHash<QString, QStringList>> m_mountsAsked; // runtime -> project -> containers asked of
    QSet<QString> m_askingMounts;                              // the runtimes asked now
    // Disk-usage loads begun.
    qint64 m_usageLoads = 0;
    // The measurement under way per runtime (Docker::runtimeId); finished ones are let go.
    QHash<QString, Measurement> m_measuring;
    // Each runtime's figures from its last measurement, while that one brought figures.
    QHash<QString, DiskUsage> m_usageParts;
    // When each runtime's last measurement ended.
    QHash<QString, QDateTime> m_measuredAt;
    // The last measurement of this scope to come back came back without figures, and none are left.
    bool m_usageFailed = false;
    // A rediscovery is under way, another is asked for once it ends, and a press waits for that.
    bool m_rediscovering = false;
    bool m_rediscoverAgain = false;
    bool m_pressWaits = false;
    // What discovery last read in the client's context folder, and whether a look there is under way.
    std::optional<QByteArray> m_contextsSeen;
    bool m_lookingAtContexts = false;
    bool m_lookingAtReachability = false;
    struct ProjectChange {
        QString runtime; // identifier
        int underWay = 0;
        qint64 since = 0; // the usage loads begun by its last start or end
    };
    // By changeKey().
    QHash<QString, ProjectChange> m_projectChanges;
    // What stops each reclaim under way.
    QList<std::shared_ptr<Platform::Cancellation>> m_reclaims;
    bool m_woundDown = false;
};
