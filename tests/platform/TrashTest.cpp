#include "platform/Trash.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>

#include <sys/mount.h>
#include <unistd.h>

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

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// The Trash of a file system other than the home folder's: a file system of the test's own mounted
// at "top" (where that is allowed), the home Trash staying on the temporary folder's.
class TrashElsewhere : public Trash {
public:
    using Trash::folder;
    using Trash::root;
    QString top = root.filePath("top");
    QString uid = QString::number(::getuid());
    QStringList mounted;

    void TearDown() override
    {
        for (auto it = mounted.crbegin(); it != mounted.crend(); ++it)
            ::umount2(QFile::encodeName(*it).constData(), MNT_DETACH);
    }

    // False, with the reason, when this machine does not let the test mount.
    bool mount(const QString& at, const QString& boundFrom = {})
    {
        if (!QDir().mkpath(at))
            return false;
        const QByteArray target = QFile::encodeName(at);
        const int done = boundFrom.isEmpty()
                             ? ::mount("tmpfs", target.constData(), "tmpfs", 0, "size=4m,mode=0755")
                             : ::mount(QFile::encodeName(boundFrom).constData(), target.constData(), nullptr,
                                       MS_BIND, nullptr);
        if (done != 0)
            return false;
        mounted << at;
        return true;
    }

    QString topTrash() const { return top + "/.Trash-" + uid; }
};

// One layout: what is made before the move, what is moved, what must hold after it.
struct ElsewhereRow {
    const char* what;
    bool ownFileSystem; // the row needs "top" to be a file system of its own
    std::function<QString(TrashElsewhere&)> layOut;
    std::function<void(TrashElsewhere&, const QString& moved, const std::optional<QString>& failed)> check;
};

void PrintTo(const ElsewhereRow& row, std::ostream* os)
{
    *os << row.what;
}

class TrashLayouts : public TrashElsewhere, public testing::WithParamInterface<ElsewhereRow> {};

} // namespace

TEST_P(TrashLayouts, NothingIsMadeForAMountPointRecordsTellTheWayBackAndNothingIsReplaced)
{
    const ElsewhereRow& row = GetParam();
    if (row.ownFileSystem && !mount(top))
        GTEST_SKIP() << "this machine does not let the test mount a file system (" << qt_error_string(errno).toStdString()
                     << ")";
    const QString moved = row.layOut(*this);
    if (HasFatalFailure() || IsSkipped())
        return;
    row.check(*this, moved, Platform::moveToTrash(moved));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TrashLayouts,
    testing::Values(
        ElsewhereRow{"mountPoint", true,
                     [](TrashElsewhere& t) {
                         const QString inner = t.top + "/inner";
                         if (!t.mount(inner))
                             ADD_FAILURE() << "a second mount was refused";
                         QFile(inner + "/keep").open(QIODevice::WriteOnly);
                         return inner;
                     },
                     [](TrashElsewhere& t, const QString& moved, const std::optional<QString>& failed) {
                         EXPECT_EQ(failed, "Refused to move " + moved + " to the Trash: a file system is mounted there.");
                         EXPECT_TRUE(QFile::exists(moved + "/keep"));
                         EXPECT_FALSE(QFile::exists(t.topTrash())) << "a Trash was made on the parent's file system";
                         EXPECT_FALSE(QFile::exists(t.root.filePath("data/Trash")));
                     }},
        // A folder bound to another place of the same file system shares its parent's device.
        ElsewhereRow{"boundFolder", true,
                     [](TrashElsewhere& t) {
                         const QString source = t.top + "/source";
                         EXPECT_TRUE(QDir().mkpath(source));
                         if (!t.mount(t.top + "/bound", source))
                             ADD_FAILURE() << "a bind mount was refused";
                         return t.top + "/bound";
                     },
                     [](TrashElsewhere& t, const QString& moved, const std::optional<QString>& failed) {
                         EXPECT_EQ(failed, "Refused to move " + moved + " to the Trash: a file system is mounted there.");
                         EXPECT_FALSE(QFile::exists(t.topTrash()));
                     }},
        // The record names the folder from the top of its file system, also when it was reached
        // through a link, and the file system's Trash holds the folder.
        ElsewhereRow{"topFolderTrash", true,
                     [](TrashElsewhere& t) {
                         t.folder("top/projects/shop");
                         EXPECT_TRUE(QFile::link(t.top + "/projects", t.root.filePath("link")));
                         return t.root.filePath("link/shop");
                     },
                     [](TrashElsewhere& t, const QString&, const std::optional<QString>& failed) {
                         EXPECT_EQ(failed, std::nullopt);
                         EXPECT_TRUE(QFile::exists(t.topTrash() + "/files/shop/compose.yaml"));
                         EXPECT_TRUE(readAll(t.topTrash() + "/info/shop.trashinfo")
                                         .startsWith("[Trash Info]\nPath=projects/shop\nDeletionDate="))
                             << readAll(t.topTrash() + "/info/shop.trashinfo").toStdString();
                         EXPECT_FALSE(QFile::exists(t.root.filePath("data/Trash/files/shop")));
                     }},
        // A folder left in the Trash without its record, and a record without its item, keep their
        // names and what they hold: the next free name is taken for both.
        ElsewhereRow{"nothingReplaced", false,
                     [](TrashElsewhere& t) {
                         EXPECT_TRUE(QDir().mkpath(t.root.filePath("data/Trash/files/shop")));
                         EXPECT_TRUE(QDir().mkpath(t.root.filePath("data/Trash/info")));
                         QFile orphan(t.root.filePath("data/Trash/info/shop-0001.trashinfo"));
                         EXPECT_TRUE(orphan.open(QIODevice::WriteOnly));
                         orphan.write("[Trash Info]\nPath=/elsewhere\n");
                         return t.folder("users/me/projects/shop");
                     },
                     [](TrashElsewhere& t, const QString& moved, const std::optional<QString>& failed) {
                         EXPECT_EQ(failed, std::nullopt);
                         const QString trash = t.root.filePath("data/Trash");
                         EXPECT_TRUE(QDir(trash + "/files/shop").isEmpty());
                         EXPECT_FALSE(QFile::exists(trash + "/info/shop.trashinfo"));
                         EXPECT_EQ(readAll(trash + "/info/shop-0001.trashinfo"), "[Trash Info]\nPath=/elsewhere\n");
                         EXPECT_FALSE(QFile::exists(trash + "/files/shop-0001"));
                         EXPECT_TRUE(QFile::exists(trash + "/files/shop-0002/compose.yaml"));
                         EXPECT_TRUE(readAll(trash + "/info/shop-0002.trashinfo")
                                         .contains("\nPath=" + QFile::encodeName(moved) + '\n'));
                     }}),
    [](const testing::TestParamInfo<ElsewhereRow>& info) { return std::string(info.param.what); });
