#include "store/KernelUsers.h"

#include <gtest/gtest.h>

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

} // namespace

// A mount of the folder, or of a folder inside it, keeps it: named by the container its process belongs
// to, or as another process's mount; the project's own containers, and volumes gone before the move,
// do not.
TEST(KernelUsers, WhatAnotherNamespaceHasMountedKeepsTheFolder)
{
    KernelVerdict verdict =
        kernelVerdict(host({space("41", web, "/srv/app/data", "/d")}), "/srv/app", listed, {mine.left(12)});
    EXPECT_EQ(verdict.refusal, "used by web of shop, which has it mounted at /d");
    EXPECT_FALSE(verdict.unsure);

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

// What could not be read is not taken for nothing: a namespace that refused keeps the folder for want
// of an answer, and tables that could not be read at all are said to be so in the plan.
TEST(KernelUsers, WhatCouldNotBeReadIsNotClaimed)
{
    KernelVerdict verdict = kernelVerdict(host({}, {"90 (runc)", "91 (sh)"}), "/srv/app", listed, {});
    EXPECT_EQ(verdict.refusal,
              "the mounts of process 90 (runc) could not be read, and may show it (and of 1 more)");
    EXPECT_TRUE(verdict.unsure);

    // A use found is said over a table that could not be read.
    verdict =
        kernelVerdict(host({space("41", web, "/srv/app", "/d")}, {"90 (runc)"}), "/srv/app", listed, {});
    EXPECT_FALSE(verdict.unsure);

    verdict = kernelVerdict(Platform::HostMounts(), "/srv/app", listed, {});
    EXPECT_EQ(verdict.refusal, std::nullopt);
    ASSERT_EQ(verdict.notes.size(), 1);
    EXPECT_TRUE(verdict.notes[0].contains("could not be read")) << verdict.notes[0].toStdString();
}
