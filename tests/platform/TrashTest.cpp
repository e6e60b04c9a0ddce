#include "platform/Trash.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

using TestSupport::ScopedEnv;

namespace {

// A home folder and a Trash of the test's own, on the same file system as the folders trashed.
class Trash : public testing::Test {
protected:
    QTemporaryDir root;
    QString home = root.filePath("users/me");
    ScopedEnv homeEnv{"HOME", home.toUtf8()};
    ScopedEnv dataEnv{"XDG_DATA_HOME", root.filePath("data").toUtf8()};

    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(home));
        ASSERT_TRUE(QDir().mkpath(root.filePath("data")));
    }

    QString folder(const QString& relative)
    {
        const QString dir = root.filePath(relative);
        EXPECT_TRUE(QDir().mkpath(dir + "/sub"));
        QFile file(dir + "/compose.yaml");
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("services: {}\n");
        return dir;
    }
};

} // namespace

TEST_F(Trash, RefusesTheRootTheHomeFolderAndWhatHoldsIt)
{
    ASSERT_TRUE(QFile::link(home, root.filePath("link-to-home")));
    const struct {
        QString path;
        const char* reason;
    } rows[] = {
        {"/", "it is the root of the file system"},
        {"/./", "it is the root of the file system"},
        {home, "it is your home folder"},
        {home + "/", "it is your home folder"},
        {home + "/projects/..", "it is your home folder"},
        {root.filePath("link-to-home"), "it is your home folder"},
        {root.filePath("users"), "it contains your home folder"},
        {root.path(), "it contains your home folder"},
        {"projects/shop", "it is not an absolute path"},
        {"", "it is not an absolute path"},
    };
    for (const auto& row : rows) {
        const std::optional<QString> refusal = Platform::trashRefusal(row.path);
        ASSERT_TRUE(refusal) << row.path.toStdString();
        EXPECT_TRUE(refusal->endsWith(QString::fromLatin1(row.reason) + '.')) << refusal->toStdString();
    }
    EXPECT_EQ(Platform::moveToTrash(root.path()), Platform::trashRefusal(root.path()));
    EXPECT_TRUE(QFile::exists(home));
}

TEST_F(Trash, AcceptsFoldersBesideAndInsideTheHomeFolder)
{
    for (const QString& path :
         {home + "/projects/shop", root.filePath("users/mel"), root.filePath("users/me2")})
        EXPECT_EQ(Platform::trashRefusal(path), std::nullopt) << path.toStdString();
}

TEST_F(Trash, AFolderGoesToTheTrashWithWhatItHoldsAndCanBeRestored)
{
    const QString dir = folder("users/me/projects/shop");

    EXPECT_EQ(Platform::moveToTrash(dir), std::nullopt);

    EXPECT_FALSE(QFile::exists(dir));
    EXPECT_TRUE(QFile::exists(root.filePath("data/Trash/files/shop/compose.yaml")));
    EXPECT_TRUE(QFile::exists(root.filePath("data/Trash/files/shop/sub")));
    QFile info(root.filePath("data/Trash/info/shop.trashinfo"));
    ASSERT_TRUE(info.open(QIODevice::ReadOnly));
    EXPECT_TRUE(info.readAll().contains("Path=" + QFile::encodeName(dir)));
}

TEST_F(Trash, AFolderThatIsGoneIsAFailureThatSaysSo)
{
    const QString gone = root.filePath("gone");
    const std::optional<QString> failed = Platform::moveToTrash(gone);
    ASSERT_TRUE(failed);
    EXPECT_TRUE(failed->startsWith("Could not move " + gone + " to the Trash: ")) << failed->toStdString();
}

TEST_F(Trash, OnAFreshAccountTheTrashIsMadeInTheDataFolderNotWhereTheApplicationRuns)
{
    // No data folder yet: neither XDG_DATA_HOME nor ~/.local/share.
    const ScopedEnv noDataHome("XDG_DATA_HOME", std::nullopt);
    const QString dir = folder("users/me/projects/shop");
    QTemporaryDir workingDir;
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(workingDir.path()));

    const std::optional<QString> failed = Platform::moveToTrash(dir);
    QDir::setCurrent(before);

    EXPECT_EQ(failed, std::nullopt);
    EXPECT_FALSE(QFile::exists(dir));
    const QString trash = home + "/.local/share/Trash";
    EXPECT_TRUE(QFile::exists(trash + "/files/shop/compose.yaml"));
    EXPECT_TRUE(QFile::exists(trash + "/info/shop.trashinfo"));
    for (const QString& made : {home + "/.local", home + "/.local/share", trash, trash + "/files", trash + "/info"})
        EXPECT_EQ(QFileInfo(made).permissions() & 0x7777,
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser |
                      QFile::ExeUser)
            << made.toStdString();
    EXPECT_TRUE(QDir(workingDir.path()).isEmpty());
}

TEST_F(Trash, TheRecordOfAnAwkwardNameGivesItsPathBackExactly)
{
    // The record's Path is URL-escaped: read back as written, a "%" or a line break in a folder's
    // name would restore it elsewhere, or leave a record no file manager can read.
    for (const QString& name : {QStringLiteral("shop 100%41 ü"), QStringLiteral("two\nlines"),
                                QStringLiteral("tab\there #1?x=y")}) {
        const QString dir = folder("users/me/projects/" + name);

        ASSERT_EQ(Platform::moveToTrash(dir), std::nullopt) << name.toStdString();

        QFile info(root.filePath("data/Trash/info/" + name + ".trashinfo"));
        ASSERT_TRUE(info.open(QIODevice::ReadOnly)) << name.toStdString();
        const QList<QByteArray> lines = info.readAll().split('\n');
        ASSERT_GE(lines.size(), 3) << name.toStdString();
        EXPECT_EQ(lines[0], "[Trash Info]");
        QStringList paths;
        int dates = 0;
        for (const QByteArray& line : lines) {
            if (line.startsWith("Path="))
                paths << QUrl::fromPercentEncoding(line.mid(5));
            dates += line.startsWith("DeletionDate=") ? 1 : 0;
        }
        EXPECT_EQ(paths, QStringList{dir}) << name.toStdString();
        EXPECT_EQ(dates, 1) << name.toStdString();
        EXPECT_TRUE(QFile::exists(root.filePath("data/Trash/files/" + name + "/compose.yaml")));
    }
}

// The Trash's record is named after the item with ".trashinfo" added, and with "-0001" and so on
// before it when the name is taken: a name that leaves no room for that fails at once, with the
// reason, and the folder stays where it was.
TEST_F(Trash, ANameTooLongForTheTrashsRecordFailsAtOnceAndTheFolderStays)
{
    const QString taken(243, u'b');
    folder("users/me/projects/" + taken);
    ASSERT_EQ(Platform::moveToTrash(home + "/projects/" + taken), std::nullopt);

    for (const QString& name : {QString(250, u'a'), QString(246, u'c'), QString(255, u'd'), taken}) {
        const QString dir = folder("users/me/projects/" + name);
        QElapsedTimer clock;
        clock.start();
        const std::optional<QString> failed = Platform::moveToTrash(dir);
        EXPECT_LT(clock.elapsed(), 5000);
        EXPECT_EQ(failed, "Could not move " + dir +
                              " to the Trash: its name is too long for the Trash to keep a record of it.")
            << name.size();
        EXPECT_TRUE(QFile::exists(dir + "/compose.yaml")) << name.size();
    }
    // Nothing half made is left in the Trash: only the first folder and its record.
    EXPECT_EQ(QDir(root.filePath("data/Trash/files")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{taken});
    EXPECT_EQ(QDir(root.filePath("data/Trash/info")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{taken + ".trashinfo"});

    // A name that is taken and leaves room goes under the next free one.
    const QString again = folder("users/me/projects/again/" + taken.left(10));
    ASSERT_EQ(Platform::moveToTrash(folder("users/me/projects/once/" + taken.left(10))), std::nullopt);
    EXPECT_EQ(Platform::moveToTrash(again), std::nullopt);
    EXPECT_TRUE(QFile::exists(root.filePath("data/Trash/files/" + taken.left(10) + "-0001/compose.yaml")));
    EXPECT_TRUE(QFile::exists(root.filePath("data/Trash/info/" + taken.left(10) + "-0001.trashinfo")));
}
