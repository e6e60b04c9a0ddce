// The screenshot mode run as the program itself, without a display, in a home folder of its own.
#include "diagnostics/shot/ShotGenerator.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

struct Ran {
    int exitCode = -1;
    QString out;
    QString err;
};

// The home folder and its settings folder of one run; the run's working directory is the home.
QProcessEnvironment environmentFor(const QString& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // No display of any kind: the mode must not need one.
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    return environment;
}

// Runs `voskel --shot [dir]` to its end; `meanwhile` is called once while the run is going on.
Ran runShot(const QString& home, const QStringList& dir, const std::function<void(QProcess&)>& meanwhile = {})
{
    QProcess process;
    process.setProcessEnvironment(environmentFor(home));
    process.setWorkingDirectory(home);
    process.start(QStringLiteral(VOSKEL_BINARY), QStringList{QStringLiteral("--shot")} + dir);
    Ran ran;
    if (!process.waitForStarted(60000)) {
        ADD_FAILURE() << "voskel did not start";
        return ran;
    }
    if (meanwhile)
        meanwhile(process);
    if (!process.waitForFinished(240000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "voskel --shot did not finish";
        return ran;
    }
    ran.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    ran.out = QString::fromUtf8(process.readAllStandardOutput());
    ran.err = QString::fromUtf8(process.readAllStandardError());
    return ran;
}

// Every picture's path, in the order they are written.
QStringList expectedPaths(const QString& dir)
{
    QStringList paths;
    for (const QString& look : ShotGenerator::looks())
        for (const ShotGenerator::Screen& screen : ShotGenerator::screens())
            paths << ShotGenerator::path(dir, screen.stem, look);
    return paths;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool write(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QString suiteFile(const QString& home)
{
    return home + QStringLiteral("/.config/voskel/voskel.shot.ini");
}

} // namespace

TEST(ShotRun, WritesEighteenPicturesTwiceTheirSizeTheSameEveryRunAndTakesAwayWhatItMade)
{
    // Two runs in two fresh homes, the second without a directory argument, so it writes into "shots"
    // under its working directory.
    QTemporaryDir first;
    QTemporaryDir second;
    const QString firstDir = first.filePath(QStringLiteral("out/pictures"));
    const Ran ran = runShot(first.path(), {firstDir});
    const Ran secondRun = runShot(second.path(), {});
    const QString secondDir = second.filePath(QStringLiteral("shots"));
    EXPECT_EQ(ran.exitCode, 0) << ran.err.toStdString();
    EXPECT_EQ(ran.out, QStringLiteral("shots written to ") + firstDir + u'\n');

    const QStringList paths = expectedPaths(firstDir);
    ASSERT_EQ(paths.size(), 18);
    QStringList written = QDir(firstDir).entryList(QDir::Files, QDir::Name);
    QStringList names;
    for (const QString& path : paths)
        names << QFileInfo(path).fileName();
    names.sort();
    EXPECT_EQ(written, names);

    // Pixels are exactly twice the points.
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const ShotGenerator::Screen& screen =
            ShotGenerator::screens().at(i % ShotGenerator::screens().size());
        QImageReader reader(paths.at(i));
        EXPECT_EQ(reader.format(), QByteArray("png")) << paths.at(i).toStdString();
        EXPECT_EQ(reader.size(), screen.points * 2) << paths.at(i).toStdString();
    }
    EXPECT_EQ(QImageReader(firstDir + QStringLiteral("/projects-light.png")).size(), QSize(2160, 2960));
    EXPECT_EQ(QImageReader(firstDir + QStringLiteral("/tools-unknown-dark.png")).size(), QSize(960, 940));

    // Light before dark, and within a look the table's order.
    for (qsizetype i = 1; i < paths.size(); ++i)
        EXPECT_LE(QFileInfo(paths.at(i - 1)).lastModified(), QFileInfo(paths.at(i)).lastModified())
            << paths.at(i).toStdString();

    // No project folder and no settings were there before, and none are after, not even their folder.
    EXPECT_FALSE(QFileInfo::exists(first.filePath(QStringLiteral("Projects"))));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(suiteFile(first.path())).path()));

    // The second run drew the same pictures, into "shots" as no directory was given.
    EXPECT_EQ(secondRun.exitCode, 0) << secondRun.err.toStdString();
    EXPECT_EQ(secondRun.out, QStringLiteral("shots written to shots\n"));
    const QStringList secondPaths = expectedPaths(secondDir);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QByteArray picture = contents(paths.at(i));
        EXPECT_FALSE(picture.isEmpty()) << paths.at(i).toStdString();
        EXPECT_TRUE(picture == contents(secondPaths.at(i))) << secondPaths.at(i).toStdString() << " differs";
    }
}

TEST(ShotRun, LeavesWhatWasThereOrWasPutThereAndSaysWhichFilesItCouldNotWrite)
{
    QTemporaryDir home;
    const QString projects = home.filePath(QStringLiteral("Projects"));
    ASSERT_TRUE(QDir().mkpath(projects + QStringLiteral("/atlas-analytics")));
    ASSERT_TRUE(write(projects + QStringLiteral("/atlas-analytics/notes.md"), "mine\n"));
    // A folder where a picture goes cannot be replaced by it, not even by root.
    const QString dir = home.filePath(QStringLiteral("pictures"));
    const QString blocked = ShotGenerator::path(dir, QStringLiteral("tools"), QStringLiteral("dark"));
    ASSERT_TRUE(QDir().mkpath(blocked));

    bool seen = false;
    const Ran ran = runShot(home.path(), {dir}, [&](QProcess& process) {
        // The folders are made first and stay until the run ends, which takes seconds.
        const QString docs = projects + QStringLiteral("/docs-site");
        while (!QFileInfo::exists(docs) && process.state() == QProcess::Running)
            QThread::msleep(2);
        seen = QFileInfo::exists(docs) && process.state() == QProcess::Running;
        write(docs + QStringLiteral("/todo.txt"), "write the docs\n");
        // The same size as the stub, other bytes.
        write(projects + QStringLiteral("/media-library/docker-compose.yml"), "services: []\n");
    });
    ASSERT_TRUE(seen) << "the run ended before its folders could be seen";

    EXPECT_EQ(ran.exitCode, 1) << ran.err.toStdString();
    EXPECT_EQ(ran.out.split(u'\n'),
              (QStringList{QStringLiteral("write failed: ") + blocked,
                           QStringLiteral("1 of 18 shots could not be written to ") + dir, QString()}));
    const QStringList paths = expectedPaths(dir);
    EXPECT_EQ(
        std::count_if(paths.cbegin(), paths.cend(), [](const QString& p) { return QFileInfo(p).isFile(); }),
        17);

    EXPECT_EQ(contents(projects + QStringLiteral("/atlas-analytics/notes.md")), "mine\n");
    EXPECT_FALSE(QFileInfo::exists(projects + QStringLiteral("/atlas-analytics/docker-compose.yml")));
    EXPECT_EQ(contents(projects + QStringLiteral("/docs-site/todo.txt")), "write the docs\n");
    EXPECT_EQ(contents(projects + QStringLiteral("/media-library/docker-compose.yml")), "services: []\n");
    EXPECT_EQ(QDir(projects).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{"atlas-analytics", "docs-site", "media-library"}));
    EXPECT_EQ(QDir(projects + QStringLiteral("/docs-site")).entryList(QDir::Files), QStringList{"todo.txt"});
    EXPECT_FALSE(QFileInfo::exists(suiteFile(home.path())));
}

// A folder that cannot hold the pictures is named at once, with a status other than 0, before
// anything is drawn or made; an empty text is no folder (its pictures would land in the root).
TEST(ShotRun, AFolderThatCannotHoldThePicturesIsRefusedBeforeAnythingIsMade)
{
    QTemporaryDir home;
    ASSERT_TRUE(write(home.filePath(QStringLiteral("plain")), "x"));
    const struct {
        QString dir;
        QString problem;
    } rows[] = {
        {QString(), "no folder was given"},
        {home.filePath(QStringLiteral("plain")), "it is a file, not a folder"},
        // A folder inside a plain file can never be made, not even by root.
        {home.filePath(QStringLiteral("plain/pictures")), "it cannot be created"},
    };
    for (const auto& row : rows) {
        const Ran ran = runShot(home.path(), {row.dir});
        EXPECT_EQ(ran.exitCode, 1) << row.dir.toStdString();
        EXPECT_EQ(ran.out, QString()) << row.dir.toStdString();
        EXPECT_EQ(ran.err, "voskel: cannot write the shots to \"" + row.dir + "\": " + row.problem + ".\n");
    }
    EXPECT_EQ(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"plain"});
}

// A link left where a picture goes is replaced by the picture, never written through: neither the
// file it leads to nor a missing one it names is touched.
TEST(ShotRun, APictureReplacesALinkAtItsPathInsteadOfWritingThroughIt)
{
    QTemporaryDir home;
    const QString dir = home.filePath(QStringLiteral("pictures"));
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString victim = home.filePath(QStringLiteral("victim.txt"));
    ASSERT_TRUE(write(victim, "precious\n"));
    const QString linked = ShotGenerator::path(dir, QStringLiteral("projects"), QStringLiteral("light"));
    const QString dangling = ShotGenerator::path(dir, QStringLiteral("tools"), QStringLiteral("dark"));
    ASSERT_TRUE(QFile::link(victim, linked));
    ASSERT_TRUE(QFile::link(home.filePath(QStringLiteral("nowhere.png")), dangling));

    const Ran ran = runShot(home.path(), {dir});

    EXPECT_EQ(ran.exitCode, 0) << ran.err.toStdString();
    EXPECT_EQ(ran.out, QStringLiteral("shots written to ") + dir + u'\n');
    EXPECT_EQ(contents(victim), "precious\n");
    EXPECT_FALSE(QFileInfo::exists(home.filePath(QStringLiteral("nowhere.png"))));
    for (const QString& path : {linked, dangling}) {
        EXPECT_FALSE(QFileInfo(path).isSymLink()) << path.toStdString();
        EXPECT_EQ(QImageReader(path).format(), QByteArray("png")) << path.toStdString();
    }
    // No file of the run's own is left beside the pictures.
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 18);
}

// A home where the fixture folders cannot be made would give pictures of missing folders: the run
// names the folder and ends with status 1 before drawing, leaving nothing behind. Plain files stand
// where the folders go, so nothing can be made there whoever runs the test.
TEST(ShotRun, AFixtureFolderThatCannotBeMadeEndsTheRunBeforeAnythingIsDrawn)
{
    struct Row {
        const char* planted; // a file at this path under the home
        const char* named;   // the folder the run names
    };
    for (const Row& row : {Row{"Projects", "Projects/storefront"},
                           // The folder made before it (storefront) is taken away again.
                           Row{"Projects/atlas-analytics", "Projects/atlas-analytics"}}) {
        SCOPED_TRACE(row.planted);
        QTemporaryDir home;
        const QString planted = home.filePath(QString::fromLatin1(row.planted));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(planted).path()));
        ASSERT_TRUE(write(planted, "not a folder"));
        const QString dir = home.filePath(QStringLiteral("pictures"));

        const Ran ran = runShot(home.path(), {dir});

        EXPECT_EQ(ran.exitCode, 1);
        EXPECT_EQ(ran.out, QString());
        EXPECT_TRUE(ran.err.endsWith("voskel: cannot make \"" +
                                     home.filePath(QString::fromLatin1(row.named)) +
                                     "\", which the shots show.\n"))
            << ran.err.toStdString();
        EXPECT_EQ(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList{"Projects"});
        const QDir projects(home.filePath(QStringLiteral("Projects")));
        if (projects.exists()) {
            EXPECT_EQ(projects.entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                      QStringList{"atlas-analytics"});
        }
    }
}
