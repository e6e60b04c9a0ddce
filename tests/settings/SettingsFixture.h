#pragma once

#include "app/parts/Preferences.h"
#include "platform/Pools.h"
#include "platform/Settings.h"
#include "settings/EngineRow.h"
#include "store/AppStore.h"
#include "toolchain/ToolchainStore.h"

#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace SettingsTest {

inline Tool tool(const QString& formula, std::optional<QString> installed, std::optional<QString> latest = {},
                 bool brewManaged = true)
{
    for (Tool row : Toolchain::all()) {
        if (row.formula == formula) {
            row.installed = installed;
            row.latest = latest;
            row.brewManaged = brewManaged;
            return row;
        }
    }
    ADD_FAILURE() << "unknown formula " << formula.toStdString();
    return {};
}

inline bool shown(const QWidget* widget)
{
    return widget && !widget->isHidden();
}

// A toolchain store on settings of its own, Homebrew there or not as the test says, and a default
// socket inside a temporary folder whose administrator runs nothing.
class Fixture : public testing::Test {
protected:
    void SetUp() override
    {
        TestSupport::prepareWidgets();
        for (const char* folder : {"run", "etc", "home/.colima/default", "tmp"})
            QDir(socketDir.path()).mkpath(folder);
    }

    // Loads a window started may still run on the pool: they finish before the next test, and before
    // the process ends.
    void TearDown() override
    {
        Platform::Pools::drain();
        QCoreApplication::processEvents();
    }

    std::unique_ptr<ToolchainStore> makeToolchain(bool brew)
    {
        ToolchainStore::Host host;
        host.brewPresent = [brew] { return brew; };
        host.now = [] { return QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC); };
        return std::make_unique<ToolchainStore>(*settings, host);
    }

    SocketAccess socket()
    {
        const QString root = socketDir.path();
        return {{root + "/run/docker.sock", root + "/etc/voskel.conf",
                 root + "/home/.colima/default/docker.sock", root + "/tmp"},
                [](const QString&) { return std::optional<QString>(); }};
    }

    QTemporaryDir socketDir;
    std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    Preferences preferences{*settings};
};

// The same over fake tools: Homebrew, Apple's container with its services running, Colima's engine
// and the docker client, so windows can load. `calls` and `quiet` count loads by Colima's list.
class OnFakeTools : public Fixture {
protected:
    static inline const QString engineList = QStringLiteral("colima list --json");

    void SetUp() override
    {
        Fixture::SetUp();
        const QStringList everyFormula{"container", "socktainer", "docker", "docker-compose", "colima"};
        fakes.answer("container", {"--version"}, "container CLI version 0.5.0 (build: release)\n");
        fakes.answer("container", {"system", "status"}, "status running\nserver.version 0.5.0\n");
        fakes.answer("container", {"builder", "status", "--format", "json"}, "[]");
        fakes.answer("colima", {"--version"}, "colima version 0.8.1\n");
        fakes.answer("colima", {"list", "--json"}, R"({"name":"default","status":"Running","cpus":2})");
        fakes.answer("docker", {"--version"}, "Docker version 28.0.4, build b8034c0\n");
        fakes.answer("brew", QStringList{"list", "--formula", "--versions"} + everyFormula,
                     "container 0.5.0\ncolima 0.8.1\ndocker 28.0.4\n");
    }

    int calls(const QString& call) const { return int(fakes.calls().count(call)); }

    // Lets queued reloads start and the loads they started finish, until no further load comes;
    // returns the loads so far.
    int quiet()
    {
        int seen = -1;
        while (seen != calls(engineList)) {
            seen = calls(engineList);
            QTest::qWait(100);
            Platform::Pools::drain();
            QCoreApplication::processEvents();
        }
        return seen;
    }

    TestSupport::FakeTools fakes{{"brew", "container", "socktainer", "docker", "colima"}};
    AppStore store{*settings};
};

} // namespace SettingsTest
