#include "sheets/RunImageView.h"

#include "sheets/EngineSheets.h"
#include "sheets/SheetHost.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScopeGuard>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace SheetTesting;
using TestSupport::eventually;
using TestSupport::testImage;
using TestSupport::uniqueName;

// A loopback port nothing listens on at the moment.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

class RunOnEngine : public SheetsOnEngine {
protected:
    DockerImage image(const QString& ref) const
    {
        const qsizetype colon = ref.lastIndexOf(':');
        return {QString(), ref.left(colon), ref.mid(colon + 1), QString(), store->runtime()};
    }

    // Fills the form, runs it and checks the sheet is gone at once, before the container exists.
    void run(const DockerImage& img, const QString& name, const QString& ports, const QString& env,
             const QString& command)
    {
        QPointer<RunImageView> sheet = SheetHost::open(host.get(), new RunImageView(*store, img));
        part<QLineEdit>(sheet, "nameField")->setText(name);
        part<QLineEdit>(sheet, "portsField")->setText(ports);
        part<QPlainTextEdit>(sheet, "envEditor")->setPlainText(env);
        part<QLineEdit>(sheet, "commandField")->setText(command);
        part(sheet, "runButton")->click();
        EXPECT_TRUE(sheet.isNull() || !sheet->isVisible());
        EXPECT_TRUE(store->busy());
        ASSERT_TRUE(eventually([&] { return !store->busy(); }, 60000));
        EXPECT_EQ(store->error(), std::nullopt);
    }

    QJsonValue inspect(const QString& container, const QString& field)
    {
        const Platform::Capture done =
            TestSupport::docker({"inspect", "--format", "{{json " + field + "}}", container});
        EXPECT_EQ(done.status, 0) << done.err.toStdString();
        return QJsonDocument::fromJson(QByteArray("[") + done.out.toUtf8() + "]").array().at(0);
    }
};

TEST_F(RunOnEngine, NamePortsEnvironmentAndCommandReachTheContainer)
{
    const QString name = uniqueName("run");
    containersMade << name;
    const int web = freePort();
    const int admin = freePort();
    ASSERT_TRUE(web > 0 && admin > 0 && web != admin);

    run(image(testImage()), " " + name + " ", QStringLiteral("%1:80, %2:81").arg(web).arg(admin),
        "GREETING=hello world\n\n   \n  MODE=test  \n", "sleep  300");

    const QJsonArray env = inspect(name, ".Config.Env").toArray();
    EXPECT_TRUE(env.contains("GREETING=hello world"));
    EXPECT_TRUE(env.contains("MODE=test"));
    const QJsonObject bindings = inspect(name, ".HostConfig.PortBindings").toObject();
    EXPECT_EQ(bindings.keys(), QStringList({"80/tcp", "81/tcp"}));
    EXPECT_EQ(bindings["80/tcp"].toArray().at(0)["HostPort"].toString(), QString::number(web));
    EXPECT_EQ(bindings["81/tcp"].toArray().at(0)["HostPort"].toString(), QString::number(admin));
    EXPECT_EQ(inspect(name, ".Config.Cmd").toArray(), QJsonArray({"sleep", "300"}));
    EXPECT_TRUE(inspect(name, ".State.Running").toBool());
}

TEST_F(RunOnEngine, AnEmptyFormRunsTheImageAsItIs)
{
    // A tag of this test's own, so its container can be told from everything else made of the image.
    const QString ref = "voskel-test/" + uniqueName("plain") + ":latest";
    imagesMade << ref;
    make({"tag", testImage(), ref});
    const auto madeOfIt = [&] {
        QStringList made;
        for (const QString& line :
             TestSupport::docker({"ps", "-a", "--no-trunc", "--format", "{{.ID}} {{.Image}}"})
                 .out.split('\n', Qt::SkipEmptyParts))
            if (line.section(' ', 1) == ref)
                made << line.section(' ', 0, 0);
        return made;
    };
    // Its name is the engine's choice: found by its image however the test ends.
    const auto cleanUp = qScopeGuard([&] {
        if (const QStringList left = madeOfIt(); !left.isEmpty())
            TestSupport::docker(QStringList{"rm", "-f"} + left);
    });

    run(image(ref), "", "", "", "");

    const QStringList made = madeOfIt();
    ASSERT_EQ(made.size(), 1);
    EXPECT_EQ(inspect(made[0], ".Config.Cmd").toArray(), QJsonArray({"sh"}));
    EXPECT_TRUE(inspect(made[0], ".HostConfig.PortBindings").toObject().isEmpty());
}

} // namespace
