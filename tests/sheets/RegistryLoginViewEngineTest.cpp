#include "sheets/RegistryLoginView.h"

#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"
#include "sheets/EngineSheets.h"
#include "sheets/SheetHost.h"

#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTest>

namespace {

using namespace SheetTesting;
using TestSupport::eventually;

// Puts a `docker` first on the children's search path that notes its arguments and environment and
// then runs the real client, so a test can read everything a child was given.
class RecordingClient {
public:
    RecordingClient() : m_log("VOSKEL_CLIENT_LOG", m_dir.filePath("calls.log").toUtf8())
    {
        const QString real = QStandardPaths::findExecutable("docker");
        QFile script(m_dir.filePath("docker"));
        EXPECT_FALSE(real.isEmpty());
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n"
                     "{ printf 'argv:'; printf ' %s' \"$@\"; printf '\\n'; env; } >> \"$VOSKEL_CLIENT_LOG\"\n"
                     "exec '" +
                     real.toUtf8() + "' \"$@\"\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        Platform::setTestSearchPrefix(m_dir.path());
    }
    ~RecordingClient() { Platform::setTestSearchPrefix(QString()); }

    QString log() const
    {
        QFile file(m_dir.filePath("calls.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QTemporaryDir m_dir;
    TestSupport::ScopedEnv m_log;
};

class LoginOnEngine : public SheetsOnEngine {};

TEST_F(LoginOnEngine, TheRegistryTurnsAWrongPasswordAwayAndTakesTheRightOneWhichNoChildIsGiven)
{
    VOSKEL_REQUIRE_REGISTRY();
    const TestSupport::TestRegistry registry = *TestSupport::testRegistry();
    const QString wrong = QStringLiteral("not-%1-it").arg(QCoreApplication::applicationPid());
    RecordingClient client;
    QPointer<RegistryLoginView> sheet = SheetHost::open(host.get(), new RegistryLoginView(*store));
    auto* password = part<QLineEdit>(sheet, "passwordField");
    auto* said = part<VoskLabel>(sheet, "resultLabel");
    part<QLineEdit>(sheet, "serverField")->setText(registry.address);
    part<QLineEdit>(sheet, "usernameField")->setText(registry.username);

    password->setText(wrong);
    part(sheet, "loginButton")->click();
    ASSERT_TRUE(eventually([&] { return !sheet->working(); }, 60000));
    EXPECT_FALSE(sheet->result()->ok);
    EXPECT_TRUE(said->plainText().contains("401") || said->plainText().contains("nauthorized"))
        << said->plainText().toStdString();
    EXPECT_EQ(&said->ink(), &Vosk::errInk);
    EXPECT_EQ(password->text(), "");

    password->setText(registry.password);
    QTest::keyClick(password, Qt::Key_Return);
    ASSERT_TRUE(eventually([&] { return !sheet->working(); }, 60000));
    EXPECT_TRUE(sheet->result()->ok) << said->plainText().toStdString();
    EXPECT_EQ(said->plainText(), "Login Succeeded");
    EXPECT_EQ(&said->ink(), &Vosk::success);
    EXPECT_EQ(password->text(), "");

    const QString calls = client.log();
    EXPECT_EQ(calls.count(" login --username " + registry.username + " --password-stdin -- " +
                          registry.address + "\n"),
              2)
        << calls.toStdString();
    EXPECT_FALSE(calls.contains(wrong));
    EXPECT_FALSE(calls.contains(registry.password));
    EXPECT_FALSE(said->plainText().contains(registry.password));
    QFile stored(config.path() + "/config.json");
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_TRUE(stored.readAll().contains(registry.address.toUtf8()));
}

} // namespace
