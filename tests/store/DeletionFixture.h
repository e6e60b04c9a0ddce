#pragma once

#include "store/StoreFixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace StoreTesting {

// A home folder and a Trash of the test's own, so nothing here can reach the user's. The engine takes
// out of its listing what a removal removes, as a real one does.
class Deletion : public ScriptedStore {
protected:
    QTemporaryDir root;
    TestSupport::ScopedEnv home{"HOME", root.filePath("home").toUtf8()};
    TestSupport::ScopedEnv data{"XDG_DATA_HOME", root.filePath("data").toUtf8()};

    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(root.filePath("home")));
        ASSERT_TRUE(QDir().mkpath(root.filePath("data")));
        engine->removeWhatIsRemoved();
    }

    QString folder(const QString& name, bool withComposeFile = true)
    {
        return projectFolder(root, name, withComposeFile);
    }

    // A project folder whose compose file reads `text`.
    QString composedFolder(const QString& name, const QString& text)
    {
        const QString there = folder(name, false);
        QFile file(there + "/compose.yaml");
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
        return there;
    }

    bool trashed(const QString& name) const
    {
        return QFile::exists(root.filePath("data/Trash/files/" + name));
    }

    static Container on(Container c, const std::optional<Runtime>& runtime)
    {
        c.runtime = runtime;
        return c;
    }

    // A container of `project` made in `dir` (none: one that names no folder).
    static Container member(const QString& name, const std::optional<QString>& dir,
                            const QString& project = "shop")
    {
        Container c = container(name, "running", project);
        c.labels.insert(Docker::projectLabel, project);
        c.labels.remove(Docker::workingDirLabel);
        if (dir)
            c.labels.insert(Docker::workingDirLabel, *dir);
        return c;
    }

    // A volume compose made for `project`.
    static DockerVolume made(const QString& name, const QString& project = "shop")
    {
        return {name, "local", "/v/" + name, std::nullopt, {{Docker::projectLabel, project}}};
    }

    static TeardownPlan plan(const QStringList& containers, const QList<VolumeUse>& volumes,
                             const std::optional<QString>& dir)
    {
        TeardownPlan made{"shop", containers, volumes, dir};
        for (const QString& name : containers)
            made.containerIds << "id-" + name;
        return made;
    }

    // What `runtime` lists: these containers and volumes.
    void world(const std::optional<Runtime>& runtime, const QList<Container>& containers,
               const QList<DockerVolume>& volumes = {})
    {
        engine->setListing(runtime, {containers, {}, volumes});
    }

    // The project "shop" of one container in `dir` on alpha, beta beside it with nothing, and the plan
    // the store makes of it, which offers the folder.
    TeardownPlan offeredBesideBeta(const QString& dir)
    {
        world(alpha, {member("shop-web", dir)});
        world(beta, {});
        storeOn({entry(alpha), entry(beta)}, alpha);
        const TeardownPlan shown = planned(dir);
        EXPECT_EQ(shown.workingDir, dir);
        return shown;
    }

    // The plan the store makes of the project "shop" on alpha as the engine lists it now.
    TeardownPlan planned(const std::optional<QString>& dir, const std::optional<Runtime>& runtime = alpha)
    {
        return run(store->teardownPlan({"shop", dir, {}, 0, runtime}));
    }
};

inline const VolumeUse own{"shop_data", {}, std::nullopt};
inline const VolumeUse cache{"shop_cache", {}, std::nullopt};
inline const VolumeUse shared{"media", {"blog-web"}, std::nullopt};

} // namespace StoreTesting
