#include "screens/CloneProjectView.h"
#include "screens/ProjectSheets.h"

#include "app/design/VoskBadge.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "engine/Docker.h"
#include "platform/ProcessRunner.h"
#include "platform/Settings.h"
#include "sheets/CommandRunView.h"
#include "store/AppStore.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTest>

#include <memory>

using TestSupport::docker;
using TestSupport::eventually;
using TestSupport::ScopedEnv;
using TestSupport::uniqueName;

namespace {

// A bare repository `shop.git` in `root` whose one commit holds a compose file naming the project.
QString bareRepository(const QTemporaryDir& root, const QString& project)
{
    QDir().mkpath(root.filePath("work"));
    QFile file(root.filePath("work/compose.yaml"));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("name: %1\nservices:\n  web:\n    image: %2\n")
                   .arg(project, TestSupport::testImage())
                   .toUtf8());
    file.close();
    Platform::PreparedProcess git = TestSupport::shell(
        "git init -q . && git add -A && git -c user.name=T -c user.email=t@example.org commit -q -m first && "
        "git clone -q --bare . ../shop.git");
    git.workingDirectory = root.filePath("work");
    const Platform::Capture made = Platform::capture(git);
    EXPECT_EQ(made.status, 0) << made.err.toStdString();
    return root.filePath("shop.git");
}

// From the empty state's button to the project on the runtime picked in the form: git clones a bare
// repository over a file path into a home of the test's own; the store reads its compose file with
// the real client. Two runtimes to pick from: the client's own context and one more that reaches the
// same engine through a link, in a client configuration of the test's own.
TEST(CloneOnEngine, ClonesIntoTheChosenFolderAndAddsTheProjectOnThePickedRuntime)
{
    VOSKEL_REQUIRE_ENGINE();
    TestSupport::prepareWidgets();
    QTemporaryDir root;
    ASSERT_TRUE(QDir().mkpath(root.filePath("home")));
    ScopedEnv dockerConfig{"DOCKER_CONFIG", root.filePath("docker").toUtf8()};
    ScopedEnv dockerHost{"DOCKER_HOST", std::nullopt};
    ScopedEnv dockerContext{"DOCKER_CONTEXT", std::nullopt};
    ScopedEnv home{"HOME", root.filePath("home").toUtf8()};
    Docker::setAppleSocketPathForTesting(root.filePath("no-apple.sock"));
    const QString other = uniqueName("clone-ctx");
    ASSERT_TRUE(QFile::link("/var/run/docker.sock", root.filePath("engine.sock")));
    ASSERT_EQ(docker({"context", "create", other, "--docker", "host=unix://" + root.filePath("engine.sock")})
                  .status,
              0);

    const QString name = uniqueName("cloned");
    const QString repository = bareRepository(root, name);
    auto settings = Platform::Settings::inMemory();
    AppStore store(*settings);
    QCoro::waitFor(store.loadContexts());
    ASSERT_EQ(store.addableRuntimes().size(), 2);
    ASSERT_TRUE(store.addableRuntimes().contains(Runtime::context(other)));

    QWidget window;
    window.resize(900, 700);
    QWidget* button = ProjectSheets::cloneButton(store, &window);
    window.show();
    QTest::mouseClick(button, Qt::LeftButton);
    auto* form = window.findChild<CloneProjectView*>();
    ASSERT_NE(form, nullptr);
    form->findChild<QLineEdit*>("urlField")->setText(repository);
    EXPECT_EQ(form->findChild<VoskLabel*>("intoLabel")->plainText(), "~/shop");
    auto* picker = form->findChild<QComboBox*>("runtimePicker");
    EXPECT_EQ(picker->currentText(), "default");
    const int picked = picker->findText(other);
    ASSERT_GE(picked, 0);
    picker->setCurrentIndex(picked);
    emit picker->activated(picked);
    ASSERT_TRUE(eventually([&] { return form->findChild<VoskButton*>("cloneButton")->isEnabled(); }));
    QTest::keyClick(form->findChild<QLineEdit*>("urlField"), Qt::Key_Return);

    QPointer<CommandRunView> output = window.findChild<CommandRunView*>("cloneOutputSheet");
    ASSERT_TRUE(output);
    EXPECT_EQ(output->windowTitle(), "Cloning shop");
    ASSERT_TRUE(eventually([&] { return output->exitStatus().has_value(); }, 60000));
    EXPECT_EQ(output->exitStatus(), 0) << output->text().toStdString();
    EXPECT_TRUE(output->text().startsWith("$ git clone " + repository + " ~/shop\n"));
    EXPECT_EQ(output->findChild<VoskBadge*>("statusBadge")->text(), "done");
    EXPECT_FALSE(store.registry().knows(name, other)) << "added only once the output is closed";

    QTest::mouseClick(output->findChild<VoskButton*>("closeButton"), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return store.registry().knows(name, other); }, 60000));
    EXPECT_EQ(store.runtime(), Runtime::context(other)) << "the store shows the runtime the project went to";
    EXPECT_EQ(store.error(), std::nullopt);

    docker({"context", "rm", "-f", other});
    Docker::setAppleSocketPathForTesting(QString());
}

} // namespace
