#include "platform/Trash.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
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

    // Moves the folder at `dir` as a plan that saw it there now would.
    static std::optional<QString> moved(const QString& dir)
    {
        const std::optional<Platform::FileIdentity> seen = Platform::identityOf(dir);
        EXPECT_TRUE(seen) << dir.toStdString();
        return Platform::moveToTrash(dir, seen.value_or(Platform::FileIdentity{}));
    }
};

} // namespace

// The move refuses by the rule the offer follows, whatever plan it is given.
TEST_F(Trash, RefusesWhatTheOfferNeverOffers)
{
    const QString projects = folder("users/me/projects");
    const struct {
        QString path;
        QString reason;
    } rows[] = {
        {"/", "it is the root of the file system"},
        {home, "it is your home folder"},
        {root.filePath("users"), "it holds your home folder"},
        {home + "/projects/..", "it is not a plain absolute path"},
        {"projects/shop", "it is not a plain absolute path"},
        {"", "it is not a plain absolute path"},
        {root.filePath("data"), "it holds the Trash " + root.filePath("data/Trash")},
    };
    for (const auto& row : rows) {
        const std::optional<Platform::FileIdentity> seen = Platform::identityOf(row.path);
        EXPECT_EQ(Platform::moveToTrash(row.path, seen.value_or(Platform::FileIdentity{})),
                  "Refused to move " + row.path + " to the Trash: " + row.reason + ".");
    }
    EXPECT_TRUE(QFile::exists(projects + "/compose.yaml"));
    EXPECT_FALSE(QFile::exists(root.filePath("data/Trash/files")));
}

TEST_F(Trash, AFolderGoesToTheTrashWithWhatItHoldsAndCanBeRestored)
{
    const QString dir = folder("users/me/projects/shop");

    EXPECT_EQ(moved(dir), std::nullopt);

    EXPECT_FALSE(QFile::exists(dir));
    EXPECT_TRUE(QFile::exists(root.filePath("data/Trash/files/shop/compose.yaml")));
    EXPECT_TRUE(QFile::exists(root.filePath("data/Trash/files/shop/sub")));
    QFile info(root.filePath("data/Trash/info/shop.trashinfo"));
    ASSERT_TRUE(info.open(QIODevice::ReadOnly));
    EXPECT_TRUE(info.readAll().contains("Path=" + QFile::encodeName(dir)));
}

// A folder directly under the root is a place of the system's, whatever the plan that names it: the
// move itself refuses it, and it stays.
TEST_F(Trash, AFolderDirectlyUnderTheRootStays)
{
    const QString dir = "/" + TestSupport::uniqueName("voskel-trash");
    // Removed however the test ends, before anything can fail.
    const auto removed = qScopeGuard([&] { QDir(dir).removeRecursively(); });
    if (!QDir().mkpath(dir + "/data"))
        GTEST_SKIP() << "only root may make a folder directly under the root";

    EXPECT_EQ(moved(dir),
              "Refused to move " + dir +
                  " to the Trash: it is a system folder, directly under the root of the file system.");
    EXPECT_TRUE(QFileInfo(dir + "/data").isDir());
    EXPECT_FALSE(QFile::exists(root.filePath("data/Trash/files")));
}

// The system takes a name only up to a NUL: the folder before it would move under a record naming
// another path, one the Trash could never give it back to.
TEST_F(Trash, APathHoldingANulIsRefusedAndNothingMoves)
{
    const QString dir = folder("users/me/projects/shop");
    const QString label = dir + QChar(0) + "evil";
    const QString why = "its path holds a NUL character, which no file's name can hold";

    EXPECT_EQ(Platform::trashOfferRefusal(label), why);
    EXPECT_EQ(Platform::identityOf(label), std::nullopt);
    EXPECT_EQ(Platform::moveToTrash(label, Platform::identityOf(dir).value()),
              "Refused to move " + dir + "\\0evil to the Trash: " + why + ".");

    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));
    EXPECT_TRUE(QDir(root.filePath("data/Trash/files")).isEmpty());
    EXPECT_TRUE(QDir(root.filePath("data/Trash/info")).isEmpty());
}

// A folder deleted and made again under its name (cloned afresh) is not the one the plan showed, even
// where the file system hands it the inode the old one had: its birth time tells them apart.
TEST_F(Trash, AFolderMadeAgainWithTheOldInodeStays)
{
    const QString dir = root.filePath("users/me/projects/shop");
    ASSERT_TRUE(QDir().mkpath(dir));
    const std::optional<Platform::FileIdentity> seen = Platform::identityOf(dir);
    ASSERT_TRUE(seen);
    if (!seen->born)
        GTEST_SKIP() << "this file system keeps no birth time";
    // ext4 hands a freed inode out again at once, most of the time.
    bool sameInode = false;
    for (int i = 0; i < 50 && !sameInode; ++i) {
        ASSERT_TRUE(QDir().rmdir(dir));
        ASSERT_TRUE(QDir().mkdir(dir));
        sameInode = Platform::identityOf(dir).value_or(Platform::FileIdentity{}).inode == seen->inode;
    }
    if (!sameInode)
        GTEST_SKIP() << "the file system gave the folder made again another inode each time";
    QFile file(dir + "/compose.yaml");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    EXPECT_EQ(Platform::moveToTrash(dir, *seen),
              "Could not move " + dir + " to the Trash: it is not the folder the plan showed.");

    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));
    EXPECT_FALSE(QFile::exists(root.filePath("data/Trash/files/shop")));
    EXPECT_FALSE(QFile::exists(root.filePath("data/Trash/info/shop.trashinfo")));
}

TEST_F(Trash, AFolderThatIsGoneIsAFailureThatSaysSo)
{
    const QString gone = root.filePath("gone");
    const std::optional<QString> failed = Platform::moveToTrash(gone, {});
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

    const std::optional<QString> failed = moved(dir);
    QDir::setCurrent(before);

    EXPECT_EQ(failed, std::nullopt);
    EXPECT_FALSE(QFile::exists(dir));
    const QString trash = home + "/.local/share/Trash";
    EXPECT_TRUE(QFile::exists(trash + "/files/shop/compose.yaml"));
    EXPECT_TRUE(QFile::exists(trash + "/info/shop.trashinfo"));
    for (const QString& made :
         {home + "/.local", home + "/.local/share", trash, trash + "/files", trash + "/info"})
        EXPECT_EQ(QFileInfo(made).permissions() & 0x7777, QFile::ReadOwner | QFile::WriteOwner |
                                                              QFile::ExeOwner | QFile::ReadUser |
                                                              QFile::WriteUser | QFile::ExeUser)
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

        ASSERT_EQ(moved(dir), std::nullopt) << name.toStdString();

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
    ASSERT_EQ(moved(home + "/projects/" + taken), std::nullopt);

    for (const QString& name : {QString(250, u'a'), QString(246, u'c'), QString(255, u'd'), taken}) {
        const QString dir = folder("users/me/projects/" + name);
        QElapsedTimer clock;
        clock.start();
        const std::optional<QString> failed = moved(dir);
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
    ASSERT_EQ(moved(folder("users/me/projects/once/" + taken.left(10))), std::nullopt);
    EXPECT_EQ(moved(again), std::nullopt);
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

// One layout: what is made before the plan looks, what is moved, what changes between the look and the
// move, and what must hold after it.
struct ElsewhereRow {
    const char* what;
    bool ownFileSystem; // the row needs "top" to be a file system of its own
    std::function<QString(TrashElsewhere&)> layOut;
    std::function<void(TrashElsewhere&, const QString& moved, const std::optional<QString>& failed)> check;
    std::function<void(TrashElsewhere&, const QString& moved)> change = {};
};

void PrintTo(const ElsewhereRow& row, std::ostream* os)
{
    *os << row.what;
}

class TrashLayouts : public TrashElsewhere, public testing::WithParamInterface<ElsewhereRow> {};

// What a move that must not happen leaves: `dir` with what it held, and nothing in either Trash.
void nothingMoved(TrashElsewhere& t, const QString& dir)
{
    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml")) << dir.toStdString();
    EXPECT_TRUE(QDir(t.root.filePath("data/Trash/files")).isEmpty());
    EXPECT_FALSE(QFile::exists(t.topTrash() + "/files"));
}

} // namespace

TEST_P(TrashLayouts, TheTrashTakesExactlyTheFolderThePlanSawAndKeepsItsWayBack)
{
    const ElsewhereRow& row = GetParam();
    if (row.ownFileSystem && !mount(top))
        GTEST_SKIP() << "this machine does not let the test mount a file system ("
                     << qt_error_string(errno).toStdString() << ")";
    const QString moved = row.layOut(*this);
    if (HasFatalFailure() || IsSkipped())
        return;
    const std::optional<Platform::FileIdentity> seen = Platform::identityOf(moved);
    ASSERT_TRUE(seen);
    if (row.change)
        row.change(*this, moved);
    row.check(*this, moved, Platform::moveToTrash(moved, *seen));
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
                         EXPECT_EQ(failed,
                                   "Refused to move " + moved + " to the Trash: it is a mount point.");
                         EXPECT_TRUE(QFile::exists(moved + "/keep"));
                         EXPECT_FALSE(QFile::exists(t.topTrash()))
                             << "a Trash was made on the parent's file system";
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
                         EXPECT_EQ(failed,
                                   "Refused to move " + moved + " to the Trash: it is a mount point.");
                         EXPECT_FALSE(QFile::exists(t.topTrash()));
                     }},
        // A file system mounted, or a folder bound, under the folder once the plan was made: the move
        // looks at the mount table itself.
        ElsewhereRow{"mountUnderIt", true, [](TrashElsewhere& t) { return t.folder("top/shop"); },
                     [](TrashElsewhere& t, const QString& moved, const std::optional<QString>& failed) {
                         EXPECT_EQ(failed, "Refused to move " + moved +
                                               " to the Trash: it holds the mount point " + moved + "/sub.");
                         nothingMoved(t, moved);
                     },
                     [](TrashElsewhere& t, const QString& moved) {
                         if (!t.mount(moved + "/sub"))
                             ADD_FAILURE() << "a second mount was refused";
                     }},
        // The folder, or something in it, bound to another place: whoever reads it there would see it go.
        ElsewhereRow{"boundElsewhere", true, [](TrashElsewhere& t) { return t.folder("top/shop"); },
                     [](TrashElsewhere& t, const QString& moved, const std::optional<QString>& failed) {
                         EXPECT_EQ(failed, "Refused to move " + moved + " to the Trash: it is bound at " +
                                               t.top + "/elsewhere.");
                         nothingMoved(t, moved);
                     },
                     [](TrashElsewhere& t, const QString& moved) {
                         if (!t.mount(t.top + "/elsewhere", moved + "/sub"))
                             ADD_FAILURE() << "a bind mount was refused";
                     }},
        // The record names the folder from the top of its file system, and the file system's Trash
        // holds the folder.
        ElsewhereRow{"topFolderTrash", true, [](TrashElsewhere& t) { return t.folder("top/projects/shop"); },
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
                         EXPECT_EQ(readAll(trash + "/info/shop-0001.trashinfo"),
                                   "[Trash Info]\nPath=/elsewhere\n");
                         EXPECT_FALSE(QFile::exists(trash + "/files/shop-0001"));
                         EXPECT_TRUE(QFile::exists(trash + "/files/shop-0002/compose.yaml"));
                         EXPECT_TRUE(readAll(trash + "/info/shop-0002.trashinfo")
                                         .contains("\nPath=" + QFile::encodeName(moved) + '\n'));
                     }},
        // A move given the link's name takes neither the link nor what it leads to: the plan names the
        // folder itself.
        ElsewhereRow{
            "aLinkToTheFolder", false,
            [](TrashElsewhere& t) {
                t.folder("users/me/real");
                EXPECT_TRUE(QFile::link(t.root.filePath("users/me/real"), t.root.filePath("users/me/lnk")));
                return t.root.filePath("users/me/lnk");
            },
            [](TrashElsewhere& t, const QString& moved, const std::optional<QString>& failed) {
                EXPECT_EQ(failed, "Could not move " + moved +
                                      " to the Trash: it is a link now, not the folder the plan showed.");
                EXPECT_TRUE(QFileInfo(moved).isSymLink());
                nothingMoved(t, t.root.filePath("users/me/real"));
            }},
        ElsewhereRow{"aLinkOnTheWay", false,
                     [](TrashElsewhere& t) {
                         t.folder("users/me/real/shop");
                         EXPECT_TRUE(
                             QFile::link(t.root.filePath("users/me/real"), t.root.filePath("users/me/way")));
                         return t.root.filePath("users/me/way/shop");
                     },
                     [](TrashElsewhere& t, const QString& moved, const std::optional<QString>& failed) {
                         EXPECT_EQ(failed, "Could not move " + moved +
                                               " to the Trash: a link or a file is on the way to it now.");
                         nothingMoved(t, moved);
                     }},
        // Renamed while the sheet was open, and another folder made under its name: that one stays.
        ElsewhereRow{"renamedAndReplaced", false, [](TrashElsewhere& t) { return t.folder("users/me/app"); },
                     [](TrashElsewhere& t, const QString& moved, const std::optional<QString>& failed) {
                         EXPECT_EQ(failed, "Could not move " + moved +
                                               " to the Trash: it is not the folder the plan showed.");
                         EXPECT_TRUE(QFile::exists(moved + "/theirs.txt"));
                         nothingMoved(t, moved + "-renamed");
                     },
                     [](TrashElsewhere& t, const QString& moved) {
                         EXPECT_TRUE(QDir().rename(moved, moved + "-renamed"));
                         t.folder("users/me/app");
                         QFile theirs(moved + "/theirs.txt");
                         EXPECT_TRUE(theirs.open(QIODevice::WriteOnly));
                     }},
        // Renamed, and a link to it left in its place.
        ElsewhereRow{"becameALink", false, [](TrashElsewhere& t) { return t.folder("users/me/app"); },
                     [](TrashElsewhere& t, const QString& moved, const std::optional<QString>& failed) {
                         EXPECT_EQ(failed,
                                   "Could not move " + moved +
                                       " to the Trash: it is a link now, not the folder the plan showed.");
                         nothingMoved(t, moved + "-real");
                     },
                     [](TrashElsewhere&, const QString& moved) {
                         EXPECT_TRUE(QDir().rename(moved, moved + "-real"));
                         EXPECT_TRUE(QFile::link(moved + "-real", moved));
                     }}),
    [](const testing::TestParamInfo<ElsewhereRow>& info) { return std::string(info.param.what); });
