#pragma once

#include "app/parts/Preferences.h"
#include "platform/Pools.h"
#include "platform/Settings.h"
#include "settings/EngineRow.h"
#include "toolchain/ToolchainStore.h"

#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QDir>
#include <QTemporaryDir>

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

} // namespace SettingsTest
