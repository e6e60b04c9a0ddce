#include "store/DeletionLayouts.h"
#include "store/DeletionLayoutsJudge.h"
#include "store/StoreOnEngine.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <iostream>

#include <unistd.h>

// A project is deleted, with the Trash where its plan offers it, in the middle of generated layouts of
// other projects, outside containers, volumes, links and nested folders. Nothing here says which uses
// the plan must see: what every other container, project and volume relies on is recorded by file
// identity and content before, and found again after; whatever left the disk must be what the plan
// named, and in the Trash. Then the last word is not ours: no running container may hold, as the
// kernel says, what is in the Trash now, and compose must bring every other project up again as it
// was started, its services seeing what they saw.

using namespace EngineTesting;
using namespace Layouts;

namespace {

struct Drawn {
    Theme theme;
    quint32 seed;
};

// One layout per way of using the folder and per shape of it; the seeds draw how each user reaches the
// folder, whether it runs, and what stands around it. Chosen so that the set draws on everything the
// coverage test below asks for.
constexpr Drawn drawn[] = {
    {Theme::BindAt, 7},           {Theme::BindUnder, 3},
    {Theme::BindAbove, 5},        {Theme::BindRoot, 1},
    {Theme::ProjectBind, 4},      {Theme::ProjectWorkingDir, 2},
    {Theme::ProjectInside, 6},    {Theme::ParentProjectBind, 8},
    {Theme::ComposeFileThere, 9}, {Theme::Include, 10},
    {Theme::Extends, 25},         {Theme::EnvFile, 12},
    {Theme::StartEnvFile, 13},    {Theme::BuildContext, 7},
    {Theme::BuildContext, 9},     {Theme::ConfigsAndSecrets, 15},
    {Theme::VolumeBind, 29},      {Theme::VolumeRbind, 4},
    {Theme::VolumeOverlay, 17},   {Theme::VolumeDevice, 5},
    {Theme::Alone, 19},           {Theme::ThroughLink, 20},
    {Theme::QuietParent, 21},     {Theme::TwoContexts, 22},
    {Theme::SystemFolder, 1},     {Theme::EnvInterpolated, 1},
    {Theme::EnvInterpolated, 3},  {Theme::OtherFileNames, 1},
    {Theme::OtherFileNames, 2},   {Theme::OtherFileNames, 3},
    {Theme::MovedLink, 1},        {Theme::Seccomp, 1},
    {Theme::ExternalVolume, 1},
};

Layout layoutAt(int index, const QString& world)
{
    return Layouts::generate(index, drawn[index].theme, drawn[index].seed, world);
}

class DeletionLayouts : public ActionsOnEngine, public testing::WithParamInterface<int> {
protected:
    QString world;
    QString trashFiles;
    QStringList othersMade;  // projects and volumes of the layout but the target's own
    QStringList outsideMade; // folders made outside the test's own, each under the root and named for the run
    // Held until the layout's containers are gone, after TearDown.
    std::optional<TestSupport::RootBindTurn> rootBinds;

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ActionsOnEngine::SetUp());
        ASSERT_TRUE(QDir().mkpath(root.filePath("w")));
        world = real(root.filePath("w"));
        trashFiles = root.filePath("data/Trash/files");
    }

    void TearDown() override
    {
        ActionsOnEngine::TearDown();
        for (const QString& folder : std::as_const(outsideMade))
            removeOutside(folder);
    }

    // What the Trash holds that this test may have put there: all of its own home Trash, and what the
    // Trash at the root's top holds under this run's names.
    QStringList trashed() const
    {
        const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        QStringList items;
        for (const QString& item : QDir(trashFiles).entryList(all))
            items << trashFiles + u'/' + item;
        if (!outsideMade.isEmpty())
            for (const QString& trash : topTrashes())
                for (const QString& item : QDir(trash + "/files").entryList(all))
                    if (item.startsWith(TestSupport::runPrefix()))
                        items << trash + "/files/" + item;
        return items;
    }

    // A path as a failure names it: within the test's world, from there.
    QString shown(const QString& path) const
    {
        return under(path, world) ? QDir(world).relativeFilePath(path) : path;
    }

    static QString startedIn(const Step& step) { return step.cwd.isEmpty() ? QDir::rootPath() : step.cwd; }

    // What the services of the other projects see of their files, while they run; what they were made
    // to see, for those only made. Read back once compose has brought them up again.
    void look(const Layout& layout, QList<Seen>& seen)
    {
        for (const Step& step : layout.steps) {
            if (step.kind != Step::Kind::Project || step.name == layout.target)
                continue;
            for (const Probe& probe : step.probes) {
                if (!step.running) {
                    ASSERT_TRUE(probe.expected)
                        << step.name.toStdString() << " is only made: say what it sees";
                    seen << Seen{step.name, probe, *probe.expected};
                    continue;
                }
                const Platform::Capture printed = probeRun(step.name, probe);
                ASSERT_EQ(printed.status, 0)
                    << "project " << step.name.toStdString() << "'s " << probe.service.toStdString()
                    << " cannot run `" << probe.script.toStdString() << "`: " << printed.err.toStdString();
                if (probe.expected) {
                    ASSERT_EQ(printed.out, *probe.expected)
                        << "project " << step.name.toStdString() << "'s " << probe.service.toStdString()
                        << " does not see what the layout gave it";
                }
                seen << Seen{step.name, probe, printed.out};
            }
        }
    }

    // The projects the user ran and took down: the store saw them run, and remembers them now that
    // they are down.
    void takeDown(const Layout& layout)
    {
        QStringList down;
        for (const Step& step : layout.steps) {
            if (step.kind != Step::Kind::Project || !step.remembered)
                continue;
            ASSERT_TRUE(project(step.name)) << "the store saw " << step.name.toStdString() << " run";
            const auto done = docker(
                QStringList{"compose", "-p", step.name} + step.args + QStringList{"down"}, startedIn(step));
            ASSERT_EQ(done.status, 0) << step.name.toStdString() << ": " << done.err.toStdString();
            down << step.name;
        }
        if (down.isEmpty())
            return;
        run(store->refresh(false));
        for (const QString& name : std::as_const(down)) {
            const std::optional<ComposeProject> remembered = project(name);
            ASSERT_TRUE(remembered && remembered->containers.isEmpty())
                << "the store remembers " << name.toStdString() << ", down";
        }
    }

    void make(const Step& step, const Layout& layout)
    {
        switch (step.kind) {
        case Step::Kind::Folder:
            ASSERT_TRUE(QDir().mkpath(step.path)) << step.path.toStdString();
            break;
        case Step::Kind::File: {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(step.path).path()));
            QFile file(step.path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << step.path.toStdString();
            file.write(step.text.toUtf8());
            break;
        }
        case Step::Kind::Link:
            ASSERT_TRUE(QDir().mkpath(QFileInfo(step.path).path()));
            ASSERT_EQ(
                ::symlink(QFile::encodeName(step.text).constData(), QFile::encodeName(step.path).constData()),
                0)
                << step.path.toStdString();
            break;
        case Step::Kind::Relink: {
            // As `ln -sfn` leaves it: the new link in the old one's place.
            const QByteArray fresh = QFile::encodeName(step.path + ".new");
            ASSERT_EQ(::symlink(QFile::encodeName(step.text).constData(), fresh.constData()), 0);
            ASSERT_EQ(::rename(fresh.constData(), QFile::encodeName(step.path).constData()), 0)
                << step.path.toStdString();
            break;
        }
        case Step::Kind::Image: {
            imagesMade << step.name;
            const auto done = docker({"tag", TestSupport::testImage(), step.name});
            ASSERT_EQ(done.status, 0) << done.err.toStdString();
            break;
        }
        case Step::Kind::Project: {
            projectsMade << step.name;
            volumesMade << step.volumes;
            if (step.name != layout.target)
                othersMade << step.name << step.volumes;
            const QStringList up = step.running ? QStringList{"up", "-d"} : QStringList{"up", "--no-start"};
            const auto done =
                docker(QStringList{"compose", "-p", step.name} + step.args + up, startedIn(step));
            ASSERT_EQ(done.status, 0) << step.name.toStdString() << ": " << done.err.toStdString();
            break;
        }
        case Step::Kind::Container: {
            containersMade << step.name;
            const QStringList made = step.running ? QStringList{"run", "-d"} : QStringList{"create"};
            const auto done =
                docker(made + QStringList{"--network", "none", "--stop-timeout", "1", "--name", step.name} +
                       step.args + QStringList{TestSupport::testImage(), "sleep", "600"});
            ASSERT_EQ(done.status, 0) << step.name.toStdString() << ": " << done.err.toStdString();
            break;
        }
        case Step::Kind::Volume: {
            createVolume(step.name, [&] {
                QStringList options;
                for (const QString& option : step.args)
                    options << "--opt" << option;
                return options;
            }());
            othersMade << step.name;
            break;
        }
        case Step::Kind::Context: {
            // The configuration is the test's own: the context goes with it.
            const QString host =
                docker({"context", "inspect", "default", "--format", "{{.Endpoints.docker.Host}}"})
                    .out.trimmed();
            ASSERT_FALSE(host.isEmpty());
            const auto done = docker({"context", "create", step.name, "--docker", "host=" + host});
            ASSERT_EQ(done.status, 0) << done.err.toStdString();
            break;
        }
        }
    }

    Use use(const QString& path, const QString& by, const QString& how, bool holds)
    {
        Use made{path, by, how, holds, entryAt(path, true), real(path)};
        EXPECT_TRUE(made.then) << by.toStdString() << "'s " << how.toStdString() << " " << path.toStdString()
                               << " was not there to begin with";
        return made;
    }

    // What every container, project and volume of the layout but the target relies on: what the engine
    // says its containers mount and were made from, and what the layout says their files and options
    // name.
    Recorded record(const Layout& layout)
    {
        Recorded recorded;
        QStringList asked = containersMade;
        for (const QString& name : std::as_const(projectsMade))
            if (name != layout.target)
                asked << containersOf(name);
        const auto inspected = asked.isEmpty()
                                   ? Platform::Capture{}
                                   : docker(QStringList{"inspect", "--type", "container"} + asked);
        EXPECT_EQ(inspected.status, 0) << inspected.err.toStdString();
        QMap<QString, OtherProject> projects;
        for (const QJsonValue& value : QJsonDocument::fromJson(inspected.out.toUtf8()).array()) {
            const QJsonObject container = value.toObject();
            const QString id = container["Id"].toString();
            const QString name = container["Name"].toString().mid(1);
            const QString who = "container " + name;
            recorded.containers.insert(id, name);
            if (container["State"].toObject()["Running"].toBool())
                recorded.running << id;
            for (const QJsonValue& mount : container["Mounts"].toArray())
                if (mount["Type"].toString() == "bind")
                    recorded.uses << use(mount["Source"].toString(), who, "bind source", true);
            const QJsonObject labels = container["Config"].toObject()["Labels"].toObject();
            const QString projectName = labels[Docker::projectLabel].toString();
            if (projectName.isEmpty())
                continue;
            OtherProject& other = projects[projectName];
            other.name = projectName;
            other.dir = labels[Docker::workingDirLabel].toString();
            other.files = labels[Docker::configFilesLabel].toString().split(',', Qt::SkipEmptyParts);
            other.envFiles = labels["com.docker.compose.project.environment_file"].toString().split(
                ',', Qt::SkipEmptyParts);
        }
        for (const OtherProject& other : std::as_const(projects)) {
            recorded.projects << other;
            const QString who = "project " + other.name;
            recorded.uses << use(other.dir, who, "working folder", false);
            for (const QString& file : other.files)
                recorded.uses << use(file, who, "compose file", false);
            for (const QString& file : other.envFiles)
                recorded.uses << use(file, who, "env file given at start", false);
        }
        for (const Layouts::Named& named : layout.named)
            recorded.uses << use(named.path, named.by, named.how, named.folder);
        for (const QString& name : std::as_const(othersMade)) {
            const auto created = docker({"volume", "inspect", "--format", "{{.CreatedAt}}", name});
            if (created.status == 0)
                recorded.volumes.insert(name, created.out.trimmed());
        }
        recorded.world = snapshot(QStringList{world} + layout.outside, true);
        return recorded;
    }

    // Why the folder stayed for a reason outside this test; none when it was offered and went, or stayed
    // for the test's own.
    std::optional<QString> keptByOthers(const TeardownPlan& plan) const
    {
        if (!plan.workingDir)
            return foreign(plan.notes.join(u' ')) ? std::optional<QString>(notesOf(plan)) : std::nullopt;
        const bool moved = !trashed().isEmpty();
        if (!moved && store->error() && foreign(*store->error()))
            return store->error();
        return std::nullopt;
    }

    static QString notesOf(const TeardownPlan& plan)
    {
        return plan.notes.isEmpty() ? QStringLiteral("(no notes)") : plan.notes.join(QStringLiteral(" | "));
    }

    // What the deletion took that it should not have, or left undone while saying it was done; one
    // line each. `unread`: what could not be looked at, by what.
    QStringList judge(const Layout& layout, const Recorded& before, const TeardownPlan& plan,
                      const QString& planReal, const std::optional<TeardownPlan>& changed,
                      const QList<Seen>& seen, QStringList& unread)
    {
        // Before anything starts again: what the running containers hold as the kernel says.
        QStringList lost = heldInTrash(before.containers, before.running,
                                       identities(snapshot(trashed(), true)), trashed(), unread);
        // A deletion that made its plan again and found it different removed nothing: what stands is
        // judged all the same, what it should have done is not.
        const bool trash = plan.workingDir.has_value() && !changed;

        // What left the disk, or became something else.
        const Snapshot after = snapshot(QStringList{world} + layout.outside, true);
        QStringList gone;
        for (auto entry = before.world.cbegin(); entry != before.world.cend(); ++entry)
            if (after.value(entry.key()) != entry.value())
                gone << entry.key();

        for (const Use& use : before.uses) {
            if (!use.then)
                continue;
            const std::optional<Entry> now = entryAt(use.path, true);
            const QString what = QStringLiteral("%1's %2 %3").arg(use.by, use.how, use.path);
            if (!now || now->identity != use.then->identity)
                lost << QStringLiteral("%1 now names %2, not what it named").arg(what, kindOf(now));
            else if (*now != *use.then)
                lost << what + " holds something else now";
            if (!use.holds)
                continue;
            // A container binding a folder above sees the folder go: allowed once the plan said so beside
            // the offer, naming it.
            const bool saidAbove = trash && use.how == u"bind source" && use.realThen != planReal &&
                                   under(planReal, use.realThen) &&
                                   plan.trashNotes.join(u'\n').contains(use.by.section(u' ', 1) + u' ');
            QStringList within;
            for (const QString& path : std::as_const(gone))
                if (under(path, use.realThen) && !(saidAbove && under(path, planReal)))
                    within << shown(path);
            if (!within.isEmpty())
                lost << QStringLiteral("%1 lost %2").arg(what, within.mid(0, 4).join(", ")) +
                            (within.size() > 4 ? QStringLiteral(" and %1 more").arg(within.size() - 4)
                                               : QString());
        }

        // Only what the plan named may have gone: its folder, and the link the project was started
        // from, which named nothing else.
        const bool startedFromLink = layout.targetDir != layout.targetReal && planReal == layout.targetReal;
        for (const QString& path : std::as_const(gone)) {
            const bool named =
                trash && (under(path, planReal) || (before.world[path].kind == 'l' && startedFromLink &&
                                                    (path == layout.targetDir || path == *plan.workingDir)));
            if (named)
                continue;
            const QString relative = shown(path);
            if (after.contains(path))
                lost << QStringLiteral("%1 is %2 now, not the %3 it was")
                            .arg(relative, kindOf(after[path]), kindOf(before.world[path]).mid(2));
            else
                lost << QStringLiteral("%1 (%2) left the disk, though the plan did not name it")
                            .arg(relative, kindOf(before.world[path]));
        }

        // The Trash holds exactly the folder the plan named, and everything that went is there.
        const QStringList items = trashed();
        if (items.size() > 1)
            lost << "the Trash took " + items.join(", ") + ", more than the plan's folder";
        if (items.size() == 1) {
            const std::optional<Entry> item = entryAt(items.first(), false);
            if (!trash)
                lost << "the Trash took " + items.first() + ", though nothing was to go there";
            else if (!item || item->identity != plan.folder)
                lost << QStringLiteral("the Trash took %1, not the folder the plan named (%2)")
                            .arg(kindOf(item), *plan.workingDir);
        }
        if (trash && plan.folder != before.world.value(layout.targetReal).identity)
            lost << "the plan named another folder than the project's: " + *plan.workingDir;
        const QSet<QPair<quint64, quint64>> inTrash = identities(snapshot(items, true));
        for (const QString& path : std::as_const(gone)) {
            const Platform::FileIdentity was = before.world[path].identity;
            const bool elsewhere =
                std::any_of(after.cbegin(), after.cend(), [&](const Entry& e) { return e.identity == was; });
            if (!after.contains(path) && !elsewhere && !inTrash.contains({was.device, was.inode}))
                lost << shown(path) + " is gone for good, not in the Trash";
        }
        if (layout.neverOffered && plan.workingDir)
            lost << QStringLiteral(
                        "the plan offered %1 for the Trash, a folder directly under the root of the "
                        "file system")
                        .arg(*plan.workingDir);
        if (trash && !store->error() && items.isEmpty())
            lost << "the deletion reported success, yet nothing went to the Trash";

        // Nobody else uses the folder: it is offered, else the test proves nothing.
        if (layout.alone && !changed && !keptByOthers(plan)) {
            if (!trash)
                lost << QStringLiteral("nobody else uses %1, yet the plan did not offer it: %2")
                            .arg(layout.targetDir, notesOf(plan));
            else if (items.isEmpty())
                lost << QStringLiteral("nobody else uses %1, yet it was not moved: %2")
                            .arg(layout.targetDir, store->error().value_or(QStringLiteral("nothing said")));
        }

        // The other containers still start, the other projects can still be read, their volumes are
        // the ones they had.
        const auto restarted = before.running.isEmpty()
                                   ? Platform::Capture{}
                                   : docker(QStringList{"restart", "-t", "0"} + before.running);
        for (const QString& line : restarted.err.split('\n', Qt::SkipEmptyParts)) {
            QString said = line;
            for (const QString& id : before.running)
                said.replace(id, before.containers[id]);
            lost << "a container no longer starts: " + said;
        }
        for (auto container = before.containers.cbegin(); container != before.containers.cend(); ++container)
            if (!before.running.contains(container.key()) &&
                docker({"container", "inspect", container.key()}).status != 0)
                lost << "container " + container.value() + " was removed";
        for (const OtherProject& other : before.projects) {
            QStringList args{"compose", "-p", other.name, "--project-directory", other.dir};
            for (const QString& file : other.files)
                args << "-f" << file;
            for (const QString& file : other.envFiles)
                args << "--env-file" << file;
            const auto read = docker(args + QStringList{"config", "-q"}, QDir::rootPath());
            if (read.status != 0)
                lost << "project " + other.name + " can no longer be read: " + read.err.trimmed();
        }
        for (auto volume = before.volumes.cbegin(); volume != before.volumes.cend(); ++volume) {
            const auto created = docker({"volume", "inspect", "--format", "{{.CreatedAt}}", volume.key()});
            if (created.status != 0)
                lost << "volume " + volume.key() + " was removed";
            else if (created.out.trimmed() != volume.value())
                lost << "volume " + volume.key() + " is another volume now";
        }

        // Compose itself has the last word: each other project starts again as it was started, and its
        // services see what they saw.
        lost << upAgain(layout, seen);
        return lost;
    }
};

} // namespace

TEST_P(DeletionLayouts, WhatOthersUseSurvivesAndTheTrashTakesOnlyThePlannedFolder)
{
    const Layout layout = layoutAt(GetParam(), world);
    if (layout.needsRoot && ::geteuid() != 0)
        GTEST_SKIP() << "not judged: " << layout.title.toStdString()
                     << ": its folder lies directly under the root of the file system, where only root may "
                        "make one";
    outsideMade << layout.outside;
    if (layout.bindsRoot || layout.alone)
        rootBinds.emplace(layout.bindsRoot);
    for (const Step& step : layout.steps)
        ASSERT_NO_FATAL_FAILURE(make(step, layout)) << layout.title.toStdString();
    if (layout.contexts) {
        run(store->loadContexts());
        ASSERT_EQ(store->runtimes().size(), 2) << "the second context is listed";
    }
    run(store->refresh(false));
    QList<Seen> seen;
    ASSERT_NO_FATAL_FAILURE(look(layout, seen)) << layout.title.toStdString();
    ASSERT_NO_FATAL_FAILURE(takeDown(layout)) << layout.title.toStdString();
    const std::optional<ComposeProject> target = project(layout.target);
    ASSERT_TRUE(target) << layout.title.toStdString();
    const Recorded before = record(layout);

    const TeardownPlan plan = run(store->teardownPlan(*target));
    const QString planReal = plan.workingDir ? real(*plan.workingDir) : QString();
    const std::optional<TeardownPlan> changed =
        run(store->deleteProject(plan, store->runtime(), plan.workingDir.has_value()));

    QStringList unread;
    const QStringList lost = judge(layout, before, plan, planReal, changed, seen, unread);
    // A volume of the project's own that a stranger may name stays, rightly, and so does what binds it
    // inside the folder: the folder is not offered then, for something outside this test.
    const bool onlyNotOffered = std::all_of(lost.cbegin(), lost.cend(), [](const QString& loss) {
        return loss.contains(QStringLiteral("yet the plan did not offer it"));
    });
    if (!lost.isEmpty() && onlyNotOffered && !plan.workingDir) {
        VOSKEL_SKIP_WHEN_STRANGERS_HOLD(strangerHolds(plan));
    }
    const std::string planned = plan.workingDir ? "offered " + plan.workingDir->toStdString()
                                                : "kept the folder: " + notesOf(plan).toStdString();
    ASSERT_TRUE(lost.isEmpty()) << layout.title.toStdString() << "\n  the plan " << planned
                                << "\n  the deletion said: "
                                << store->error().value_or("nothing wrong").toStdString() << "\n  lost:\n    "
                                << lost.join("\n    ").toStdString();
    std::cout << layout.title.toStdString() << "\n  the plan " << planned << "\n";
    // The shared engine may be too busy to answer while the plan is made again: then nothing goes.
    if (changed)
        GTEST_SKIP() << "not judged: the deletion found its plan no longer held and removed nothing: "
                     << notesOf(*changed).toStdString();
    if (const std::optional<QString> kept = keptByOthers(plan))
        GTEST_SKIP() << "not judged: the folder stayed for a reason outside this test: "
                     << kept->toStdString();
    if (!unread.isEmpty())
        GTEST_SKIP() << "not judged by what the kernel says the containers hold: "
                     << unread.join("; ").toStdString();
}

INSTANTIATE_TEST_SUITE_P(Drawn, DeletionLayouts, testing::Range(0, int(std::size(drawn))),
                         [](const testing::TestParamInfo<int>& info) {
                             return QStringLiteral("L%1_%2")
                                 .arg(info.param, 2, 10, QLatin1Char('0'))
                                 .arg(QString::fromLatin1(Layouts::themeName(drawn[info.param].theme)))
                                 .toStdString();
                         });

// What a container holds is found here through the mount of the same file system that holds the
// deepest part of its path, with the kernel's escapes undone; a file system mounted nowhere here, or
// a part of one that is not, is found nowhere.
TEST(DeletionLayoutsJudge, AContainersMountIsFoundThroughTheMountHereThatHoldsIt)
{
    const QList<KernelMount> here =
        mountTable("27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                   "45 27 254:0 /var/lib/docker /var/lib/docker rw - ext4 /dev/vda rw\n"
                   "50 27 254:1 /export /srv rw - ext4 /dev/vdb rw\n");
    const QList<KernelMount> held =
        mountTable("92 75 254:0 /tmp/a\\040b/data /d rw - ext4 /dev/vda rw\n"
                   "93 75 254:0 /var/lib/docker/volumes/v/_data /v rw - ext4 /dev/vda rw\n"
                   "94 75 254:1 /export/x /x rw - ext4 /dev/vdb rw\n"
                   "95 75 254:1 /exported /e rw - ext4 /dev/vdb rw\n"
                   "96 75 254:2 / /y rw - ext4 /dev/vdc rw\n"
                   "not a line of the table\n");
    ASSERT_EQ(held.size(), 5);
    EXPECT_EQ(held[0].point, "/d");
    EXPECT_EQ(pathHere(held[0], here), "/tmp/a b/data");
    EXPECT_EQ(pathHere(held[1], here), "/var/lib/docker/volumes/v/_data");
    EXPECT_EQ(pathHere(held[2], here), "/srv/x");
    EXPECT_EQ(pathHere(held[3], here), std::nullopt);
    EXPECT_EQ(pathHere(held[4], here), std::nullopt);
}

// The set as drawn touches every way of using a folder, every way of reaching it and every shape it
// takes, each at least once; and a seed draws the same layout every time.
TEST(DeletionLayoutsDrawn, EveryWayOfUsingAFolderIsDrawn)
{
    QSet<QString> traits;
    for (int i = 0; i < int(std::size(drawn)); ++i) {
        const Layout layout = layoutAt(i, "/w");
        EXPECT_EQ(layout.title, layoutAt(i, "/w").title);
        traits.unite(layout.traits);
    }
    const QStringList wanted{"bind:at",
                             "bind:under",
                             "bind:above",
                             "bind:/",
                             "compose bind",
                             "working folder",
                             "nested project",
                             "parent project",
                             "quiet parent project",
                             "-f file",
                             "include",
                             "extends",
                             "env_file",
                             "--env-file",
                             "build.context",
                             "build.dockerfile",
                             "configs/secrets",
                             "volume o=bind",
                             "volume o=rbind",
                             "volume overlay",
                             "volume device=",
                             "volume mounted by nothing",
                             "alone",
                             "two contexts",
                             "target through a link",
                             "target through an earlier link",
                             "user through a link",
                             "user through an earlier link",
                             "link in another project",
                             "user made, not started",
                             "system folder",
                             ".env interpolated",
                             ".env quoted",
                             "-f stack.yml",
                             "COMPOSE_FILE",
                             "--project-directory elsewhere",
                             "remembered and down",
                             "link moved after start",
                             "seccomp",
                             "external volume"};
    for (const QString& trait : wanted)
        EXPECT_TRUE(traits.contains(trait)) << trait.toStdString();
}
