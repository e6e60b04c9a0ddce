#include "store/KernelUsers.h"

#include "support/KernelReading.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using KernelReading::quoted;

namespace {

const QString web = QString(64, u'a');
const QString mine = QString(64, u'b');

Container container(const QString& id, const QString& name, const QString& project = {})
{
    Container made;
    made.id = id.left(12);
    made.name = name;
    if (!project.isEmpty())
        made.labels.insert(QStringLiteral("com.docker.compose.project"), project);
    return made;
}

// This process sees /srv on 8:1 whole; the folder is /srv/app.
Platform::HostMounts host(const QList<Platform::MountNamespace>& others, const QStringList& unread = {})
{
    return {true, {{"8:1", "/", "/"}}, others, unread};
}

Platform::MountNamespace space(const QString& pid, const QString& id, const char* root, const char* point)
{
    return {pid,
            QStringLiteral("sleep"),
            id.isEmpty() ? QStringList()
                         : QStringList{QStringLiteral("0::/system.slice/docker-%1.scope").arg(id)},
            {{"0:70", "/", "/"}, {"8:1", QString::fromUtf8(root), QString::fromUtf8(point)}}};
}

const QList<Container> listed{container(web, "web", "shop"), container(mine, "app", "app")};

// Where `path` is in this process's own table.
Platform::TreeLocation located(const QString& path)
{
    const std::optional<Platform::TreeLocation> at = Platform::locate(path, Platform::mountTable());
    EXPECT_TRUE(at) << path.toStdString();
    return at.value_or(Platform::TreeLocation());
}

// A namespace of `id` (none: of no container) that shows the folder `what` (or, below it, `inside`)
// at `point`.
Platform::MountNamespace showing(const QString& pid, const QString& id, const Platform::TreeLocation& what,
                                 const QString& point, const QString& inside = {})
{
    Platform::MountNamespace shown = space(pid, id, "/", "/");
    shown.mounts.last() = {what.device, what.inFileSystem + inside, point};
    return shown;
}

// A stand-in for the engine's folders: every volume's, and one volume's data folder with a folder
// inside.
struct VolumeFolders {
    QTemporaryDir root;
    QString volumes = root.filePath("volumes");
    QString data = volumes + "/v/_data";
    QString inside = data + "/sub";

    VolumeFolders() { EXPECT_TRUE(QDir().mkpath(inside)); }
};

bool names(const QStringList& texts, const QString& what)
{
    return std::any_of(texts.cbegin(), texts.cend(),
                       [&what](const QString& text) { return text.contains(what); });
}

} // namespace

// A mount of the folder, or of a folder inside it, keeps it: named by the container its process belongs
// to, or as another process's mount; the project's own containers, and volumes gone before the move,
// do not.
TEST(KernelUsers, WhatAnotherNamespaceHasMountedKeepsTheFolder)
{
    KernelVerdict verdict =
        kernelVerdict(host({space("41", web, "/srv/app/data", "/d")}), "/srv/app", listed, {mine.left(12)});
    EXPECT_EQ(verdict.refusal, "used by web of shop, which has it mounted at /d");

    verdict = kernelVerdict(host({space("77", {}, "/srv/app", "/mnt/x")}), "/srv/app", listed, {});
    EXPECT_EQ(verdict.refusal, "used by a mount of another process: /mnt/x (process 77, sleep)");

    verdict =
        kernelVerdict(host({space("50", mine, "/srv/app/data", "/d"), space("51", {}, "/srv/app", "/v")}),
                      "/srv/app", listed, {mine.left(12)}, {"/v"});
    EXPECT_EQ(verdict.refusal, std::nullopt) << verdict.refusal->toStdString();
    EXPECT_TRUE(verdict.notes.isEmpty()) << verdict.notes.join('\n').toStdString();

    // A sibling folder, or the folder's parent shown whole as this process sees it, is no use.
    verdict = kernelVerdict(host({space("60", {}, "/srv/application", "/d"), space("61", {}, "/", "/host")}),
                            "/srv/app", listed, {});
    EXPECT_EQ(verdict.refusal, std::nullopt);
}

// Only what shows the folder withholds it. What holds it (but the whole file system), tables that
// could not be read and a partial view of the processes are said beside the offer, naming who and why;
// tables that could not be read at all are said to be so.
TEST(KernelUsers, WhatHoldsTheFolderOrWasNotSeenIsSaidBesideTheOffer)
{
    Platform::HostMounts partly =
        host({space("41", web, "/srv", "/host"), space("42", {}, "/", "/all")}, {"90 (runc)", "91 (sh)"});
    partly.partial = {"/proc is mounted with hidepid=invisible: other users' processes, and their mounts, "
                      "are hidden."};
    KernelVerdict verdict = kernelVerdict(partly, "/srv/app", listed, {});
    EXPECT_EQ(verdict.refusal, std::nullopt) << verdict.refusal->toStdString();
    EXPECT_EQ(verdict.notes,
              (QStringList{"web of shop has /srv mounted at /host, which holds this folder: what goes to the "
                           "Trash is gone from there too.",
                           "Nobody can say whether processes 90 (runc), 91 (sh) have this folder mounted: "
                           "their mounts could not be read.",
                           partly.partial[0]}));

    // A namespace that shows the folder and what holds it uses it.
    partly.others << space("43", {}, "/srv/app", "/d");
    partly.others.last().mounts << Platform::MountEntry{"8:1", "/srv", "/s"};
    verdict = kernelVerdict(partly, "/srv/app", listed, {});
    EXPECT_EQ(verdict.refusal, "used by a mount of another process: /d (process 43, sleep)");

    verdict = kernelVerdict(Platform::HostMounts(), "/srv/app", listed, {});
    EXPECT_EQ(verdict.refusal, std::nullopt);
    ASSERT_EQ(verdict.notes.size(), 1);
    EXPECT_TRUE(verdict.notes[0].contains("could not be read")) << verdict.notes[0].toStdString();
}

// Of the volume's data folder, what another namespace shows of it, or of a folder inside it, keeps the
// volume, named by container where one is known; a folder above it is named apart; the project's own
// containers are no users. What could not be seen, or a data folder not to be found, is a doubt.
TEST(KernelVolumes, WhatShowsTheDataFolderKeepsTheVolume)
{
    const VolumeFolders folders;
    const Platform::TreeLocation data = located(folders.data);
    const Platform::TreeLocation volumes = located(folders.volumes);
    Platform::HostMounts host{true, Platform::mountTable(), {}, {}};
    host.others = {showing("41", web, data, "/x"), showing("42", {}, data, "/y", "/sub"),
                   showing("43", {}, volumes, "/all"), showing("44", mine, data, "/mine")};
    KernelVolumeVerdict verdict = kernelVolumeVerdict(host, folders.data, listed, {mine.left(12)});
    EXPECT_EQ(verdict.users, (QStringList{"web of shop, which has it mounted at /x",
                                          "a mount of another process: /y (process 42, sleep)"}));
    EXPECT_EQ(verdict.above, QStringList{"process 43 (sleep) has " + folders.volumes + " mounted at /all"});
    EXPECT_TRUE(verdict.doubts.isEmpty()) << verdict.doubts.join("\n").toStdString();

    // The project's own container is a user until it is the project's.
    verdict = kernelVolumeVerdict(host, folders.data, listed, {});
    EXPECT_TRUE(names(verdict.users, "app of app")) << verdict.users.join("\n").toStdString();

    host.others.clear();
    host.unread = {"90 (runc)"};
    host.partial = {"Voskel runs in a process namespace of its own."};
    verdict = kernelVolumeVerdict(host, folders.data, listed, {});
    EXPECT_TRUE(verdict.users.isEmpty());
    EXPECT_EQ(verdict.doubts.size(), 2) << verdict.doubts.join("\n").toStdString();
    EXPECT_TRUE(names(verdict.doubts, "90 (runc)"));

    host.unread.clear();
    host.partial.clear();
    verdict = kernelVolumeVerdict(host, folders.data + "-gone", listed, {});
    EXPECT_EQ(verdict.doubts.size(), 1) << "a data folder that is not there is not judged";
    verdict = kernelVolumeVerdict(Platform::HostMounts(), folders.data, listed, {});
    EXPECT_EQ(verdict.doubts.size(), 1) << "tables that could not be read judge nothing";
}

// The same, as the kernel keeps it: processes that bind the data folder, a folder inside it, or the
// folder that holds every volume's, each in a mount namespace of its own.
TEST(KernelVolumes, ABindInAnyNamespaceIsFoundInTheKernelsTables)
{
    VOSKEL_REQUIRE_ROOT();
    const VolumeFolders folders;
    const auto bind = [&](const QString& what, const QString& point) {
        EXPECT_TRUE(QDir().mkpath(folders.root.filePath(point)));
        return QStringLiteral("mount --bind %1 %2").arg(quoted(what), quoted(folders.root.filePath(point)));
    };
    const KernelReading::PrivateMounts at(bind(folders.data, "at"));
    const KernelReading::PrivateMounts under(bind(folders.inside, "under"));
    const KernelReading::PrivateMounts above(bind(folders.volumes, "above"));
    for (const KernelReading::PrivateMounts* each : {&at, &under, &above})
        ASSERT_TRUE(each->pid()) << each->why().toStdString();

    const KernelVolumeVerdict verdict = kernelVolumeVerdict(Platform::hostMounts(), folders.data, {}, {});
    EXPECT_EQ(verdict.users.size(), 2) << verdict.users.join("\n").toStdString();
    EXPECT_TRUE(names(verdict.users, QStringLiteral("process %1,").arg(*at.pid())));
    EXPECT_TRUE(names(verdict.users, QStringLiteral("process %1,").arg(*under.pid())));
    EXPECT_TRUE(names(verdict.above, QStringLiteral("process %1 (sleep) has %2 mounted at %3")
                                         .arg(*above.pid(), folders.volumes, folders.root.filePath("above"))))
        << verdict.above.join("\n").toStdString();
}

// A bind of the data folder in this machine's own table keeps the volume; the engine's own mount of a
// volume with options at its data folder passes, being gone with it.
TEST(KernelVolumes, ABindOfThisMachineKeepsTheVolumeButTheEnginesOwnMountPasses)
{
    VOSKEL_REQUIRE_ROOT();
    const VolumeFolders folders;
    const QString withOptions = folders.volumes + "/w/_data";
    const QString bound = folders.root.filePath("bound");
    ASSERT_TRUE(QDir().mkpath(withOptions));
    ASSERT_TRUE(QDir().mkpath(bound));
    const KernelReading::Read read =
        KernelReading::readAs({.ownMounts = true,
                               .setUp = QStringLiteral("mount --bind %1 %2 && mount -t tmpfs none %3")
                                            .arg(quoted(folders.data), quoted(bound), quoted(withOptions))});
    ASSERT_TRUE(read.host) << read.why.toStdString();

    EXPECT_EQ(kernelVolumeVerdict(*read.host, folders.data, {}, {}).users,
              QStringList{"this machine, at " + bound});
    EXPECT_EQ(kernelVolumeVerdict(*read.host, withOptions, {}, {}, {withOptions}).users, QStringList());
    EXPECT_EQ(kernelVolumeVerdict(*read.host, withOptions, {}, {}).users,
              QStringList{"this machine, at " + withOptions});
}
