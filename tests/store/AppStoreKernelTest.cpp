#include "store/DeletionFixture.h"
#include "store/KernelUsers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <memory>
#include <mutex>

using namespace StoreTesting;
using Call = ScriptedEngine::Call;

namespace {

// The kernel's answer as the test gives it, to the plan and to the last look before the move: this
// process's own table as it is, and beside it what the test puts there, nothing else. No stranger on
// the machine can change what these tests judge. The real reading is back when it ends.
class KernelStandIn {
public:
    KernelStandIn()
    {
        set({});
        setKernelView([state = m_state](std::chrono::milliseconds) {
            const std::lock_guard guard(state->lock);
            return state->host;
        });
    }
    ~KernelStandIn() { setKernelView({}); }
    KernelStandIn(const KernelStandIn&) = delete;
    KernelStandIn& operator=(const KernelStandIn&) = delete;

    void set(const QList<Platform::MountNamespace>& others, const QStringList& unread = {},
             const QStringList& partial = {})
    {
        const std::lock_guard guard(m_state->lock);
        m_state->host = {true, Platform::mountTable(), others, unread, partial};
    }

private:
    struct State {
        std::mutex lock;
        Platform::HostMounts host;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

const QString backupId = QString(64, u'c');

// A container outside the project, as the engine lists it and as its processes' control group names it.
Container backup()
{
    Container made = container("backup");
    made.id = backupId.left(12);
    return made;
}

// The namespace of the backup container, showing the folder at `path` (as this process's own table
// locates it) at `point`.
Platform::MountNamespace backupShowing(const QString& path, const QString& point)
{
    const std::optional<Platform::TreeLocation> at =
        Platform::locate(QFileInfo(path).canonicalFilePath(), Platform::mountTable());
    EXPECT_TRUE(at) << path.toStdString();
    return {"4242",
            "sleep",
            {"0::/system.slice/docker-" + backupId + ".scope"},
            {{"0:99", "/", "/"}, {at ? at->device : QByteArray(), at ? at->inFileSystem : QString(), point}}};
}

bool says(const QStringList& notes, const QString& what)
{
    return std::any_of(notes.cbegin(), notes.cend(),
                       [&what](const QString& note) { return note.contains(what); });
}

} // namespace

// The plan asks the kernel: a container that has the folder, or a folder inside it, mounted keeps it
// out of the offer, named; one that has a folder above it mounted is said beside the offer, as are the
// tables that could not be read and a partial view of the processes, and the offer stands.
TEST_F(Deletion, ThePlanAsksTheKernelWhoHasTheFolderMounted)
{
    const QString dir = folder("shop");
    ASSERT_TRUE(QDir().mkpath(dir + "/data"));
    KernelStandIn kernel;
    world(alpha, {member("shop-web", dir)});
    world(beta, {backup()});
    storeOn({entry(alpha), entry(beta)}, alpha);
    ASSERT_EQ(planned(dir).workingDir, dir);

    kernel.set({backupShowing(dir + "/data", "/d")});
    TeardownPlan shown = planned(dir);
    EXPECT_EQ(shown.workingDir, std::nullopt);
    EXPECT_TRUE(
        says(shown.notes, dir + " is not offered for the Trash: used by backup, which has it mounted at /d"))
        << shown.notes.join("\n").toStdString();

    // Said beside the offer, and only there.
    kernel.set({backupShowing(root.path(), "/host")});
    shown = planned(dir);
    EXPECT_EQ(shown.workingDir, dir);
    const QString above = "backup has " + QFileInfo(root.path()).canonicalFilePath() +
                          " mounted at /host, which holds this folder";
    EXPECT_TRUE(says(shown.trashNotes, above)) << shown.trashNotes.join("\n").toStdString();
    EXPECT_FALSE(says(shown.notes, above)) << shown.notes.join("\n").toStdString();

    // The engine says the same container binds it: said once, from the engine's side.
    engine->setBinds(beta, Docker::BindMap{{backup().id, {root.path()}}});
    shown = planned(dir);
    EXPECT_EQ(shown.workingDir, dir);
    EXPECT_EQ(shown.trashNotes, QStringList{"backup binds " + root.path() +
                                            ", which holds this folder: what goes to the Trash is gone from "
                                            "there too."});
    engine->setBinds(beta, Docker::BindMap{});

    const QString hidden = "Voskel runs in a process namespace of its own, as in a sandbox.";
    kernel.set({}, {"90 (runc)"}, {hidden});
    shown = planned(dir);
    EXPECT_EQ(shown.workingDir, dir);
    EXPECT_TRUE(says(shown.trashNotes, "process 90 (runc)")) << shown.trashNotes.join("\n").toStdString();
    EXPECT_TRUE(says(shown.trashNotes, hidden)) << shown.trashNotes.join("\n").toStdString();
}

// The kernel is asked once more just before the folder moves: a container that mounted it meanwhile
// keeps it where it is, and the failure names it.
TEST_F(Deletion, AMountTheKernelShowsJustBeforeTheMoveKeepsTheFolder)
{
    const QString dir = folder("shop");
    KernelStandIn kernel;
    world(beta, {backup()});
    const TeardownPlan shown = offeredBesideBeta(dir);
    world(beta, {backup()});
    AppStore& s = *store;
    auto down = engine->hold(Call::Capture, alpha);

    auto task = s.deleteProject(shown, alpha, true);
    ASSERT_TRUE(eventually([&] { return down->waitArrived(std::chrono::milliseconds(0)); }));
    kernel.set({backupShowing(dir, "/srv")});
    down->open();
    run(std::move(task));

    EXPECT_EQ(s.error(), dir + " was not moved to the Trash: used by backup, which has it mounted at /srv.");
    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));
    EXPECT_FALSE(trashed("shop"));
}
