#include "engine/ComposeProject.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

ComposeProject project(const QStringList& states, qint64 serviceCount = 0)
{
    ComposeProject p{"web", "/srv/web", {}, serviceCount, std::nullopt};
    int n = 0;
    for (const QString& state : states)
        p.containers << Container{
            QString::number(n), QStringLiteral("web-%1").arg(++n), "img", state, "", "", {}, {}};
    return p;
}

void write(const QString& path, const QByteArray& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(text);
}

} // namespace

TEST(ProjectStatus, CountsRunningAgainstTheLargerOfServicesAndContainers)
{
    const struct {
        QStringList states;
        qint64 services;
        const char* text;
        int running;
    } rows[] = {
        {{}, 0, "Not running", 0},
        {{}, 3, "Not running", 0},
        {{"exited"}, 0, "Stopped", 0},
        {{"exited"}, 1, "Stopped", 0},
        {{"exited", "created"}, 0, "All 2 stopped", 0},
        {{"exited"}, 3, "All 3 stopped", 0},
        {{"running"}, 0, "Running", 1},
        {{"running", "running"}, 0, "All 2 running", 2},
        {{"running", "running"}, 1, "All 2 running", 2}, // a scaled service: more containers than services
        {{"running", "running"}, 3, "2 of 3 running", 2},
        {{"running", "exited"}, 3, "1 of 3 running", 1},
        {{"running", "paused", "restarting"}, 0, "1 of 3 running", 1},
        {{"paused"}, 0, "Stopped", 0},
    };
    for (const auto& row : rows) {
        const ComposeProject p = project(row.states, row.services);
        EXPECT_EQ(p.statusText(), row.text) << row.states.join(',').toStdString() << " / " << row.services;
        EXPECT_EQ(p.runningCount(), row.running) << row.states.join(',').toStdString();
    }
}

// Every name reads as something, and no two names read alike: the nameless one, a project called
// like it, one called like that in quotes, and names of nothing visible.
TEST(ProjectName, EveryNameReadsAsSomethingAndNoTwoReadAlike)
{
    const QString none = "(no name)";
    const auto q = [](const QString& text) {
        return QStringLiteral("\u201C") + text + QStringLiteral("\u201D");
    };
    const std::pair<QString, QString> rows[] = {{"", none},
                                                {"shop", "shop"},
                                                {none, q(none)},
                                                {q(none), q(q(none))},
                                                {q(""), q(q(""))},
                                                {" ", q(" ")},
                                                {"\u200B", q("\u200B")},
                                                {"\t", q("\t")},
                                                {q(" "), q(q(" "))},
                                                {q("shop"), q("shop")},
                                                {"(no name) 2", "(no name) 2"}};
    for (const auto& [name, shown] : rows)
        EXPECT_EQ(ComposeProject::displayName(name), shown) << name.toStdString();
}

TEST(ProjectBuild, ReadsTheComposeFileEachTime)
{
    QTemporaryDir dir;
    ComposeProject p{"app", dir.path(), {}, 0, std::nullopt};
    EXPECT_FALSE(p.hasBuild()); // no compose file

    write(dir.filePath("compose.yaml"), "services:\n  web:\n    image: nginx\n");
    EXPECT_FALSE(p.hasBuild());

    write(dir.filePath("compose.yaml"), "services:\n  web:\n    # build: .\n    image: nginx\n");
    EXPECT_FALSE(p.hasBuild()); // commented out

    write(dir.filePath("compose.yaml"), "services:\n  web:\n\t  build:\n      context: .\r\n");
    EXPECT_TRUE(p.hasBuild()); // seen again after a change, at any indentation

    write(dir.filePath("compose.yaml"), "services:\n  web:\n    build: ./web\r\n");
    EXPECT_TRUE(p.hasBuild());

    // compose.yaml is preferred, so a build in a file of lower preference does not count.
    write(dir.filePath("compose.yaml"), "services:\n  web:\n    image: nginx\n");
    write(dir.filePath("docker-compose.yml"), "services:\n  web:\n    build: .\n");
    EXPECT_FALSE(p.hasBuild());
    ASSERT_TRUE(QFile::remove(dir.filePath("compose.yaml")));
    EXPECT_TRUE(p.hasBuild());

    write(dir.filePath("docker-compose.yml"), "services:\n  web:\n    build: .\n    image: \xff\xfe\n");
    EXPECT_FALSE(p.hasBuild()); // not UTF-8

    p.workingDir.reset();
    EXPECT_FALSE(p.hasBuild());
}

TEST(ProjectBuild, ADirectoryNamedLikeTheFileIsNoFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("compose.yaml"));
    ComposeProject p{"app", dir.path(), {}, 0, std::nullopt};
    EXPECT_FALSE(p.hasBuild());
    EXPECT_FALSE((ComposeProject{"app", dir.filePath("missing"), {}, 0, std::nullopt}).hasBuild());
}

TEST(ProjectBuild, AFifoNamedLikeTheFileIsNeverRead)
{
    QTemporaryDir dir;
    const QByteArray fifo = QFile::encodeName(dir.filePath("compose.yaml"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    const ComposeProject p{"app", dir.path(), {}, 0, std::nullopt};

    auto answer = std::async(std::launch::async, [&p] { return p.hasBuild(); });
    if (answer.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
        ADD_FAILURE() << "reading the FIFO blocked";
        // Let the stuck reader go, so the test can end.
        const int writer = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
    }
    EXPECT_FALSE(answer.get());
}
