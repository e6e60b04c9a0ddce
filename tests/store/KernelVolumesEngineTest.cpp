#include "store/KernelUsers.h"

#include "support/TestSupport.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>

#include <unistd.h>

using TestSupport::docker;
using TestSupport::uniqueName;

namespace {

QString asked(const QStringList& args)
{
    const Platform::Capture answer = docker(args);
    EXPECT_EQ(answer.status, 0) << answer.err.toStdString();
    return answer.out.trimmed();
}

// The container as the engine's listing gives it: its shortened identifier and name.
Container listedAs(const QString& name)
{
    Container listed;
    listed.id = asked({"inspect", "--format", "{{.Id}}", name}).left(12);
    listed.name = name;
    return listed;
}

bool names(const QStringList& texts, const QString& what)
{
    return std::any_of(texts.cbegin(), texts.cend(), [&what](const QString& text) { return text == what; });
}

} // namespace

// A container that mounts a volume the usual way, and one that binds the volume's data folder itself
// (as backup and migration containers do), both have it mounted as the kernel says, and are named; the
// project's own containers are not. Nobody else can have a volume made just now mounted.
TEST(KernelVolumesOnEngine, AContainerThatMountsAVolumeOrBindsItsDataFolderIsItsUser)
{
    VOSKEL_REQUIRE_ENGINE();
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: the engine's data folder is closed to other users";
    TestSupport::EngineObjects made;
    const QString volume = uniqueName("kernel-kept");
    made.volumes << volume;
    ASSERT_EQ(docker({"volume", "create", volume}).status, 0);
    const QString data = asked({"volume", "inspect", "--format", "{{.Mountpoint}}", volume});
    if (!QFileInfo(data).isDir())
        GTEST_SKIP() << "the engine keeps its volumes elsewhere than on this machine: " << data.toStdString();
    const QString mounting = uniqueName("kernel-mounting");
    const QString binding = uniqueName("kernel-binding");
    for (const auto& [name, mount] :
         {std::pair{mounting, volume + ":/x"}, std::pair{binding, data + ":/y"}}) {
        made.containers << name;
        const Platform::Capture started =
            docker({"run", "-d", "--network", "none", "--stop-timeout", "1", "--name", name, "-v", mount,
                    TestSupport::testImage(), "sleep", "600"});
        ASSERT_EQ(started.status, 0) << started.err.toStdString();
    }
    const QList<Container> listed{listedAs(mounting), listedAs(binding)};

    const Platform::HostMounts host = Platform::hostMounts();
    KernelVolumeVerdict verdict = kernelVolumeVerdict(host, data, listed, {});
    EXPECT_TRUE(names(verdict.users, mounting + ", which has it mounted at /x"))
        << verdict.users.join("\n").toStdString();
    EXPECT_TRUE(names(verdict.users, binding + ", which has it mounted at /y"))
        << verdict.users.join("\n").toStdString();

    verdict = kernelVolumeVerdict(host, data, listed, {listed[0].id, listed[1].id});
    EXPECT_EQ(verdict.users, QStringList());
}
