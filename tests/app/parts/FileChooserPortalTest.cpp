#include "app/parts/FileChooserPortal.h"
#include "app/parts/DesktopHost.h"
#include "app/parts/FolderChooser.h"
#include "support/PrivateBus.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QWidget>

#include <QCoroTask>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

struct Picked {
    QString id;
    QString value;
};

} // namespace

Q_DECLARE_METATYPE(Picked)

namespace {

QDBusArgument& operator<<(QDBusArgument& argument, const Picked& picked)
{
    argument.beginStructure();
    argument << picked.id << picked.value;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Picked& picked)
{
    argument.beginStructure();
    argument >> picked.id >> picked.value;
    argument.endStructure();
    return argument;
}

const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString chooserInterface = QStringLiteral("org.freedesktop.portal.FileChooser");

// Stands in for the desktop's file chooser portal: it takes the question, answers on the request path
// the asker was told to listen on, and keeps what it was asked. On a thread of its own, as a real portal
// is in a process of its own.
class FakeChooser : public QDBusVirtualObject {
public:
    struct Asked {
        QString method;
        QString parent;
        QString title;
        QVariantMap options;
        QString choicesSignature;
    };

    std::atomic<uint> version{4};
    std::atomic<uint> response{0};
    QStringList uris;
    QList<Picked> picked;

    QList<Asked> asked() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_asked;
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() == u"Get") {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(QVariant(version.load())))));
            return true;
        }
        if (message.interface() != chooserInterface)
            return false;
        const QList<QVariant> args = message.arguments();
        Asked asked{message.member(),
                    args.value(0).toString(),
                    args.value(1).toString(),
                    qdbus_cast<QVariantMap>(args.value(2)),
                    {}};
        if (asked.options.contains("choices"))
            asked.choicesSignature = asked.options.value("choices").value<QDBusArgument>().currentSignature();
        {
            const QMutexLocker lock(&m_mutex);
            m_asked << asked;
        }
        const QString path =
            FileChooserPortal::requestPath(message.service(), asked.options.value("handle_token").toString());
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(path))));
        QVariantMap results;
        results.insert("uris", uris);
        if (!picked.isEmpty())
            results.insert("choices", QVariant::fromValue(picked));
        QDBusMessage answer = QDBusMessage::createSignal(path, "org.freedesktop.portal.Request", "Response");
        answer << response.load() << results;
        connection.send(answer);
        return true;
    }

private:
    mutable QMutex m_mutex;
    QList<Asked> m_asked;
};

class Portal : public TestSupport::PrivateBus {
protected:
    void SetUp() override
    {
        TestSupport::prepareWidgets();
        qDBusRegisterMetaType<Picked>();
        qDBusRegisterMetaType<QList<Picked>>();
        TestSupport::PrivateBus::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        m_portal = serve(std::make_unique<FakeChooser>(), portalPath, "org.freedesktop.portal.Desktop");
    }

    FakeChooser* m_portal = nullptr;
};

using Kind = FileChooserPortal::Answer::Kind;

FileChooserPortal::FolderQuestion projectQuestion()
{
    return {"Add a Project", "Add", "/srv/code", "Run on:", {"default", "colima"}, 1};
}

// The folder and the pop-up's entry come back from the desktop's chooser; the question asked it for a
// folder, over the window, with the texts, the start and the pop-up.
TEST_F(Portal, AFolderAndThePopUpsChoiceComeBackFromTheDesktopsChooser)
{
    m_portal->uris = {"file:///srv/code/with%20blank/app"};
    m_portal->picked = {{"choice", "0"}};
    const FileChooserPortal::Answer answer =
        QCoro::waitFor(FileChooserPortal::chooseFolder(client(), "x11:1c00007", projectQuestion()));
    EXPECT_EQ(answer, (FileChooserPortal::Answer{Kind::chosen, "/srv/code/with blank/app", 0}));

    ASSERT_EQ(m_portal->asked().size(), 1);
    const FakeChooser::Asked asked = m_portal->asked().constFirst();
    EXPECT_EQ(asked.method, "OpenFile");
    EXPECT_EQ(asked.parent, "x11:1c00007");
    EXPECT_EQ(asked.title, "Add a Project");
    EXPECT_TRUE(asked.options.value("directory").toBool());
    EXPECT_TRUE(asked.options.value("modal").toBool());
    EXPECT_EQ(asked.options.value("accept_label").toString(), "Add");
    EXPECT_EQ(asked.options.value("current_folder").toByteArray(), QByteArray("/srv/code\0", 10));
    EXPECT_EQ(asked.choicesSignature, "a(ssa(ss)s)");
}

// Every way the desktop's chooser can end without a folder, and every way it can be missing: the user's
// no is final, while a missing or too old portal leaves the choosing to Voskel's own chooser.
TEST_F(Portal, ANoIsFinalAndAMissingPortalIsSaid)
{
    struct Row {
        const char* what;
        uint version;
        uint response;
        QStringList uris;
        Kind expected;
    };
    const Row rows[] = {
        {"Cancel", 4, 1, {}, Kind::cancelled},
        {"closed another way", 4, 2, {}, Kind::cancelled},
        {"an address that is no local file", 4, 0, {"sftp://host/srv"}, Kind::cancelled},
        {"a portal too old to choose folders", 2, 0, {"file:///srv"}, Kind::unavailable},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        m_portal->version = row.version;
        m_portal->response = row.response;
        m_portal->uris = row.uris;
        EXPECT_EQ(QCoro::waitFor(FileChooserPortal::chooseFolder(client(), {}, projectQuestion())).kind,
                  row.expected);
    }
    // Too old: it was not even asked.
    EXPECT_EQ(m_portal->asked().size(), 3);

    service().unregisterService("org.freedesktop.portal.Desktop");
    EXPECT_EQ(QCoro::waitFor(FileChooserPortal::chooseFolder(client(), {}, projectQuestion())).kind,
              Kind::unavailable);
    EXPECT_EQ(QCoro::waitFor(
                  FileChooserPortal::chooseFolder(QDBusConnection("voskel-no-bus"), {}, projectQuestion()))
                  .kind,
              Kind::unavailable);
}

TEST_F(Portal, TheSavePanelOffersTheNameAndHandsBackThePath)
{
    m_portal->uris = {"file:///home/ada/logs/web.log"};
    DesktopHost host(client());
    const std::optional<QString> path = QCoro::waitFor(host.chooseSaveFile(nullptr, "shop-web-1.log"));
    EXPECT_EQ(path, "/home/ada/logs/web.log");
    ASSERT_EQ(m_portal->asked().size(), 1);
    EXPECT_EQ(m_portal->asked().constFirst().method, "SaveFile");
    EXPECT_EQ(m_portal->asked().constFirst().options.value("current_name").toString(), "shop-web-1.log");
    EXPECT_EQ(m_portal->asked().constFirst().options.value("current_folder").toByteArray(),
              QFile::encodeName(QDir::homePath()) + '\0');
}

// Without the desktop's chooser the host opens its own, which answers as the portal would have.
TEST_F(Portal, WithoutThePortalTheHostOpensItsOwnChooser)
{
    service().unregisterService("org.freedesktop.portal.Desktop");
    DesktopHost host(client());
    QWidget window;
    window.show();
    Host::FolderRequest request;
    request.prompt = "Add";
    request.startIn = "/tmp";
    request.title = "Add a Project";
    auto choosing = host.chooseFolder(&window, request);
    FolderChooser* own = nullptr;
    ASSERT_TRUE(TestSupport::eventually([&] { return (own = window.findChild<FolderChooser*>()) != nullptr; },
                                        20000));
    EXPECT_EQ(own->windowTitle(), "Add a Project");
    own->accept();
    const std::optional<Host::FolderChoice> choice = QCoro::waitFor(std::move(choosing));
    ASSERT_TRUE(choice.has_value());
    EXPECT_EQ(choice->path, "/tmp");
}

} // namespace
