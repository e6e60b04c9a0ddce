#include "screens/ContainerCard.h"

#include "app/parts/Alert.h"
#include "platform/Settings.h"
#include "screens/ContainerMenu.h"
#include "screens/ContainersView.h"
#include "sheets/ExecView.h"
#include "sheets/LogsView.h"
#include "store/AppStore.h"
#include "support/RecordingHost.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using TestSupport::docker;
using TestSupport::eventually;
using TestSupport::ScopedEnv;

namespace {

// One container of the test's own on the real engine, shown alone (the filter is its name) on the
// containers screen of a store that polls nothing by itself.
class CardOnEngine : public testing::Test {
protected:
    QTemporaryDir root;
    ScopedEnv dockerConfig{"DOCKER_CONFIG", root.filePath("docker").toUtf8()};
    ScopedEnv dockerHost{"DOCKER_HOST", std::nullopt};
    ScopedEnv dockerContext{"DOCKER_CONTEXT", std::nullopt};
    std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    std::unique_ptr<AppStore> store;
    std::unique_ptr<ContainersView> view;
    TestSupport::RecordingHost host;
    const QString name = TestSupport::uniqueName("card");
    const QString image = "voskel-test/" + name + ":saved";

    void SetUp() override
    {
        VOSKEL_REQUIRE_ENGINE();
        TestSupport::prepareWidgets();
        ASSERT_TRUE(QDir().mkpath(root.filePath("docker")));
        Docker::setAppleSocketPathForTesting(root.filePath("no-apple.sock"));
        // sleep ignores the polite signal as the first process: a short grace keeps stops quick.
        const auto started = docker({"run", "-d", "--network", "none", "--stop-timeout", "1", "--name", name,
                                     TestSupport::testImage(), "sleep", "600"});
        ASSERT_EQ(started.status, 0) << started.err.toStdString();
        store = std::make_unique<AppStore>(*settings);
        QCoro::waitFor(store->loadContexts());
        store->setFilter(name);
        view = std::make_unique<ContainersView>(*store);
        view->resize(1000, 800);
        view->show();
        ASSERT_TRUE(eventually([&] { return card() != nullptr; }));
    }

    void TearDown() override
    {
        view.reset();
        store.reset();
        docker({"rm", "-f", name});
        docker({"rmi", "-f", image});
        Docker::setAppleSocketPathForTesting(QString());
    }

    ContainerCard* card() const
    {
        ContainersContent* content = view->content();
        for (qsizetype i = 0; i < content->cardCount(); ++i)
            if (content->cardAt(i)->container().name == name)
                return content->cardAt(i);
        return nullptr;
    }

    QString state() const
    {
        for (const Container& c : store->containers())
            if (c.name == name)
                return c.state;
        return "gone";
    }

    bool becomes(const QString& wanted) const
    {
        return eventually([&] { return state() == wanted && card() && card()->container().state == wanted; });
    }

    void press(const char* button) const
    {
        auto* control = card()->findChild<QAbstractButton*>(button);
        ASSERT_NE(control, nullptr) << button;
        control->click();
    }

    void choose(const char* action) const
    {
        QAction* item = card()->menu()->menu()->findChild<QAction*>(action);
        ASSERT_NE(item, nullptr) << action;
        ASSERT_TRUE(item->isEnabled() && item->isVisible()) << action;
        item->trigger();
    }
};

TEST_F(CardOnEngine, EveryControlActsOnTheEngine)
{
    ContainerCard* const shown = card();
    press("stopButton");
    ASSERT_TRUE(becomes("exited"));
    EXPECT_FALSE(card()->findChild<QAbstractButton*>("restartButton")->isEnabled());
    press("startButton");
    ASSERT_TRUE(becomes("running"));
    choose("pauseAction");
    ASSERT_TRUE(becomes("paused"));
    EXPECT_NE(card()->findChild<QAbstractButton*>("resumeButton"), nullptr);
    choose("resumeAction");
    ASSERT_TRUE(becomes("running"));
    // The same card all along: its container changed state, not identity.
    EXPECT_EQ(card(), shown);

    // The logs and inspect sheets stream the container's own output; the exec sheet runs in it.
    press("logsButton");
    auto* logs = view->findChild<LogsView*>("logsSheet");
    ASSERT_NE(logs, nullptr);
    EXPECT_TRUE(logs->streamedProcess().arguments.contains("logs"));
    EXPECT_TRUE(logs->streamedProcess().arguments.contains(card()->container().id));
    logs->reject();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    choose("inspectAction");
    QPointer<LogsView> inspect = view->findChild<LogsView*>("logsSheet");
    ASSERT_FALSE(inspect.isNull());
    ASSERT_TRUE(eventually([&] { return inspect && inspect->text().contains("\"Id\""); }));
    inspect->reject();
    choose("execAction");
    ASSERT_NE(view->findChild<ExecView*>("execSheet"), nullptr);
    view->findChild<ExecView*>("execSheet")->reject();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    const QString id = card()->container().id;
    choose("copyIdAction");
    EXPECT_EQ(host.clipboard, id);

    choose("terminalAction");
    ASSERT_EQ(host.terminals.size(), 1);
    EXPECT_EQ(host.terminals.first().arguments,
              (QStringList{"docker", "--context", store->runtime()->name, "exec", "-it", name, "sh"}));

    choose("commitAction");
    Alert* alert = nullptr;
    ASSERT_TRUE(eventually([&] { return (alert = view->findChild<Alert*>("commitAlert")) != nullptr; }));
    alert->findChild<QLineEdit*>("referenceField")->setText(" " + image + "\t");
    alert->findChild<QAbstractButton*>("commitButton")->click();
    ASSERT_TRUE(eventually([&] { return docker({"image", "inspect", image}).status == 0; }));
    EXPECT_EQ(store->error(), std::nullopt);

    choose("removeAction");
    ASSERT_TRUE(eventually([&] { return state() == "gone" && card() == nullptr; }));
    EXPECT_NE(docker({"inspect", name}).status, 0);
}

} // namespace
