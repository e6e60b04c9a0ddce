#include "store/StoreOnEngine.h"

using TestSupport::docker;
using TestSupport::ScopedEnv;
using TestSupport::uniqueName;
using namespace EngineTesting;

namespace {

// What the variable says inside the container, as the engine runs it.
QString greetingIn(const QString& container)
{
    return docker({"exec", container, "sh", "-c", "echo \"$GREETING\""}).out.trimmed();
}

void write(const QString& path, const QString& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(text.toUtf8());
}

} // namespace

// Started with `--env-file b.env`: Up applies the compose file without taking the value it gave away from
// the running service, the registry keeps the env file, and once the project is down and only remembered,
// Start brings it up with that value again.
TEST_F(ActionsOnEngine, UpKeepsTheValueAnEnvFileGaveAndStartBringsItBackWithIt)
{
    const QString name = uniqueName("greet");
    projectsMade << name;
    const QString dir = projectFolder(
        uniqueName("greet"), service() + "    environment:\n      GREETING: \"${GREETING:-unset}\"\n");
    ASSERT_NO_FATAL_FAILURE(write(dir + "/b.env", "GREETING=hello\n"));
    const auto started = docker({"compose", "-p", name, "--env-file", dir + "/b.env", "up", "-d"}, dir);
    ASSERT_EQ(started.status, 0) << started.err.toStdString();
    const QString web = name + "-web-1";
    ASSERT_EQ(greetingIn(web), "hello");
    run(store->refresh(false));
    ASSERT_TRUE(project(name));
    const QString before = docker({"inspect", "--format", "{{.Id}}", web}).out;

    run(store->up(*project(name)));
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_EQ(greetingIn(web), "hello");
    EXPECT_EQ(docker({"inspect", "--format", "{{.Id}}", web}).out, before) << "nothing was recreated";
    const auto remembered = [&] {
        for (const KnownProject& known : ProjectRegistry::load(*settings).byRuntime.value("default"))
            if (known.name == name)
                return known.startedFrom;
        return QList<StartedFrom>();
    };
    ASSERT_EQ(remembered().size(), 1);
    EXPECT_EQ(remembered().first().envFiles, dir + "/b.env");

    ASSERT_EQ(docker({"compose", "-p", name, "down", "-t", "0"}, dir).status, 0);
    run(store->refresh(false));
    ASSERT_TRUE(project(name) && project(name)->containers.isEmpty()) << "remembered, down";
    EXPECT_EQ(remembered().value(0).envFiles, dir + "/b.env");
    run(store->up(*project(name)));
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_EQ(greetingIn(web), "hello");
}

// A path through a variable set only in the shell that brought the project up: what its container had
// mounted is remembered while it runs, and stays once it is down and nothing runs to say it.
TEST_F(ActionsOnEngine, WhatAProjectHadMountedIsRememberedOnceItIsDown)
{
    const QString name = uniqueName("mounts");
    projectsMade << name;
    const QString data = root.filePath("elsewhere/data");
    ASSERT_TRUE(QDir().mkpath(data));
    const QString dir = projectFolder(uniqueName("mounts"), service("      - ${VOSKEL_DATA_DIR}:/data\n"));
    {
        const ScopedEnv shell("VOSKEL_DATA_DIR", data.toUtf8());
        const auto started = docker({"compose", "-p", name, "up", "-d"}, dir);
        ASSERT_EQ(started.status, 0) << started.err.toStdString();
    }
    const auto mounts = [&] {
        for (const KnownProject& known : ProjectRegistry::load(*settings).byRuntime.value("default"))
            if (known.name == name)
                return known.mounts;
        return QStringList();
    };
    run(store->refresh(false));
    EXPECT_TRUE(TestSupport::eventually([&] { return mounts() == QStringList{data}; }))
        << mounts().join(", ").toStdString();

    ASSERT_EQ(docker({"compose", "-p", name, "down", "-t", "0"}, dir).status, 0);
    run(store->refresh(false));
    ASSERT_TRUE(project(name) && project(name)->containers.isEmpty()) << "remembered, down";
    EXPECT_EQ(mounts(), QStringList{data});
}
