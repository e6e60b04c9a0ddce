#pragma once

// The sheets on the real engine: a store of their own with a client configuration of its own, and
// everything a test makes named with the run's prefix and removed at the end.

#include "engine/Runtime.h"
#include "platform/Settings.h"
#include "sheets/SheetTesting.h"
#include "store/AppStore.h"
#include "support/TestSupport.h"

#include <QCoroTask>
#include <QTemporaryDir>

#include <memory>

namespace SheetTesting {

class SheetsOnEngine : public testing::Test {
protected:
    void SetUp() override
    {
        VOSKEL_REQUIRE_ENGINE();
        Docker::setAppleSocketPathForTesting(scratch.filePath("no-apple.sock"));
        store = std::make_unique<AppStore>(*settings);
        QCoro::waitFor(store->loadContexts());
        ASSERT_EQ(store->runtime(), Runtime::context("default"));
        host = window();
    }

    void TearDown() override
    {
        host.reset();
        store.reset();
        made.removeAll();
        Docker::setAppleSocketPathForTesting(QString());
    }

    // `docker args...`, which must work.
    void make(const QStringList& args)
    {
        const Platform::Capture done = TestSupport::docker(args);
        ASSERT_EQ(done.status, 0) << args.join(' ').toStdString() << ": " << done.err.toStdString();
    }

    bool exists(const QStringList& inspect) { return TestSupport::docker(inspect).status == 0; }

    QTemporaryDir scratch;
    TestSupport::PrivateDockerConfig config;
    TestSupport::ScopedEnv dockerHost{"DOCKER_HOST", std::nullopt};
    std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    std::unique_ptr<AppStore> store;
    std::unique_ptr<QWidget> host;
    TestSupport::EngineObjects made;
    QStringList& containersMade = made.containers;
    QStringList& volumesMade = made.volumes;
    QStringList& imagesMade = made.images;
};

} // namespace SheetTesting
