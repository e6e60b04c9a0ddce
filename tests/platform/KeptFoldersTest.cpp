#include "platform/KeptFolders.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>

using TestSupport::ScopedEnv;

// The system's folders are told by their place in the tree: the trees of its own at any depth, the
// folders directly in those that hold homes and disks, but not what those hold.
TEST(KeptFolders, SystemFoldersByTheirPlace)
{
    const QString direct = "it is a system folder, directly under the root of the file system";
    const struct {
        QString path;
        std::optional<QString> why;
    } rows[] = {
        {"/etc", direct},
        {"/srv", direct},
        {"/data", direct},
        {"/etc/nginx/sites", "it is a system folder, part of /etc"},
        {"/usr/local/src/app", "it is a system folder, part of /usr"},
        // What lies in them is told by what it holds (SharedTrees below).
        {"/opt/vendor/app", std::nullopt},
        {"/srv/site", std::nullopt},
        {"/opt", direct},
        {"/lib64/x", "it is a system folder, part of /lib64"},
        {"/var/lib", "it is a system folder, part of /var/lib"},
        {"/var/lib/docker/volumes/x", "it is a system folder, part of /var/lib"},
        {"/var/www", "it is a system folder, directly in /var"},
        {"/var/www/site", std::nullopt},
        {"/home/alice", "it is a system folder, directly in /home"},
        {"/home/alice/projects/shop", std::nullopt},
        {"/mnt/disk", "it is a system folder, directly in /mnt"},
        {"/mnt/disk/shop", std::nullopt},
        {"/media/usb", "it is a system folder, directly in /media"},
        {"/run/user/1000/app", "it is a system folder, part of /run"},
        {"/run/media/alice", "it is a system folder, part of /run"},
        {"/run/media/alice/USB/shop", std::nullopt},
        {"/tmp/shop", std::nullopt},
        {"/etcetera/shop", std::nullopt},
        {"/", std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Platform::systemFolderReason(row.path), row.why) << row.path.toStdString();
}

namespace {

// A home of the test's own, its settings folder outside it (as XDG_CONFIG_HOME may be), its cache
// folder not made yet, and links to these and to the system's folders from a work folder.
class KeptPersonal : public testing::Test {
protected:
    QTemporaryDir root;
    ScopedEnv home{"HOME", root.filePath("home").toUtf8()};
    ScopedEnv data{"XDG_DATA_HOME", root.filePath("home/.local/share").toUtf8()};
    ScopedEnv config{"XDG_CONFIG_HOME", root.filePath("conf").toUtf8()};
    ScopedEnv cache{"XDG_CACHE_HOME", root.filePath("holder/cache").toUtf8()};

    void SetUp() override
    {
        for (const char* dir :
             {"home/.local/share", "home/Documents/shop", "conf/voskel", "conf/shop", "holder", "work/app"})
            ASSERT_TRUE(QDir().mkpath(root.filePath(dir)));
        const std::pair<const char*, QString> links[] = {
            {"work/to-conf", root.filePath("conf")},
            {"work/to-documents", root.filePath("home/Documents")},
            {"work/to-etc", "/etc"},
            {"work/to-usr-share", "/usr/share"},
        };
        for (const auto& [name, target] : links)
            ASSERT_TRUE(QFile::link(target, root.filePath(name))) << name;
    }
};

} // namespace

// The user's own folders, Voskel's, and whatever holds one stay, reached by any name; what lies in them
// may go.
TEST_F(KeptPersonal, PersonalFoldersAndTheirHoldersStayByAnyName)
{
    const QString settings = "it is a personal folder: your settings folder";
    const QString documents = "it is a personal folder: your Documents folder";
    const struct {
        QString label;
        std::optional<QString> why;
    } rows[] = {
        {root.filePath("conf"), settings},
        {root.filePath("work/to-conf"), settings},
        {root.filePath("conf/voskel"), "it is a personal folder: Voskel's own settings folder"},
        {root.filePath("conf/shop"), std::nullopt},
        {root.filePath("holder"),
         "it holds a personal folder: your cache folder, " + root.filePath("holder/cache")},
        {root.filePath("home/Documents"), documents},
        {root.filePath("work/to-documents"), documents},
        {root.filePath("home/Documents/shop"), std::nullopt},
        {root.filePath("work/to-etc"), "it is a system folder, directly under the root of the file system"},
        {root.filePath("work/to-usr-share"), "it is a system folder, part of /usr"},
        {root.path(), "it holds your home folder"},
        {root.filePath("work/app"), std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Platform::trashOfferRefusal(row.label), row.why) << row.label.toStdString();
}

// Every account's home counts, not only the one running, and so does the folder the program runs from.
TEST_F(KeptPersonal, AccountsHomesAndTheProgramsFolderAreKept)
{
    const passwd* me = ::getpwuid(::getuid());
    ASSERT_TRUE(me);
    const QList<Platform::KeptPlace> places = Platform::keptPlaces();
    EXPECT_TRUE(
        places.contains(Platform::KeptPlace{QDir::cleanPath(QFile::decodeName(me->pw_dir)),
                                            "the home folder of " + QString::fromLocal8Bit(me->pw_name)}));

    const QString program = QFileInfo(QFileInfo("/proc/self/exe").canonicalFilePath()).absolutePath();
    const QString holder = QFileInfo(program).absolutePath();
    if (Platform::systemFolderReason(holder))
        GTEST_SKIP() << "the tests run from a system folder";
    EXPECT_EQ(Platform::trashOfferRefusal(holder),
              "it holds a personal folder: the folder Voskel runs from, " + program);
}

// A project on a removable disk under /run/media/<user>/ is the user's, though /var/run leads into /run;
// /run's own folders stay.
TEST(KeptFolders, AProjectOnARemovableDiskIsTheUsers)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "making a folder under /run/media takes root";
    const QString user = "voskel-test-" + QString::number(getpid());
    const QString disk = "/run/media/" + user;
    const bool mediaWasThere = QFileInfo::exists("/run/media");
    // Removed first thing, whatever fails below.
    const auto cleanup = qScopeGuard([&] {
        QDir(disk).removeRecursively();
        if (!mediaWasThere)
            QDir().rmdir("/run/media");
    });
    ASSERT_TRUE(QDir().mkpath(disk + "/stick/shop"));
    EXPECT_EQ(Platform::systemFolderRefusal(disk + "/stick/shop"), std::nullopt);
    EXPECT_NE(Platform::systemFolderRefusal("/run/lock"), std::nullopt);
}

// Where programs and projects are both kept, a project's own folder (its compose file at its top) is
// judged as any other; the tree itself, a folder holding projects, and a program's folder stay, by any
// name.
TEST(KeptFolders, SharedTrees)
{
    QTemporaryDir root;
    const QString opt = root.filePath("opt");
    for (const char* dir : {"opt/stacks/shop", "opt/stacks/blog", "opt/vendor/bin", "work"})
        ASSERT_TRUE(QDir().mkpath(root.filePath(dir)));
    for (const char* file : {"opt/stacks/shop/compose.yaml", "opt/stacks/blog/docker-compose.yml"}) {
        QFile made(root.filePath(file));
        ASSERT_TRUE(made.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QFile::link(opt, root.filePath("work/to-opt")));
    const QString noFile = "it lies in " + opt +
                           " and has no compose file of its own at its top, so it may be a program's or hold "
                           "other projects";
    const struct {
        QString label;
        std::optional<QString> why;
    } rows[] = {
        {opt + "/stacks/shop", std::nullopt},
        {opt + "/stacks/blog", std::nullopt},
        {root.filePath("work/to-opt/stacks/shop"), std::nullopt},
        {opt + "/stacks", noFile},
        {opt + "/vendor", noFile},
        {root.filePath("work/to-opt/vendor"), noFile},
        {opt, "it is " + opt + " itself, where programs and projects are kept"},
        {root.filePath("work/to-opt"), "it is " + opt + " itself, where programs and projects are kept"},
        {root.filePath("work"), std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Platform::sharedTreeRefusal(row.label, {opt}), row.why) << row.label.toStdString();
}

// The user's folders as the desktop names them (user-dirs.dirs), each of them, not only Documents.
TEST_F(KeptPersonal, EveryUserFolderTheDesktopNamesStays)
{
    const struct {
        const char* key;
        const char* folder;
        const char* what;
    } folders[] = {
        {"DESKTOP", "Bureau", "your Desktop folder"},     {"DOCUMENTS", "Papers", "your Documents folder"},
        {"DOWNLOAD", "Fetched", "your Downloads folder"}, {"MUSIC", "Tunes", "your Music folder"},
        {"PICTURES", "Photos", "your Pictures folder"},   {"VIDEOS", "Films", "your Videos folder"},
        {"TEMPLATES", "Blanks", "your Templates folder"}, {"PUBLICSHARE", "Shared", "your Public folder"},
    };
    QFile dirs(root.filePath("conf/user-dirs.dirs"));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    for (const auto& folder : folders) {
        dirs.write(QString("XDG_%1_DIR=\"$HOME/%2\"\n").arg(folder.key, folder.folder).toUtf8());
        ASSERT_TRUE(QDir().mkpath(root.filePath(QString("home/") + folder.folder + "/shop")));
    }
    dirs.close();
    for (const auto& folder : folders) {
        const QString path = root.filePath(QString("home/") + folder.folder);
        EXPECT_EQ(Platform::trashOfferRefusal(path), "it is a personal folder: " + QString(folder.what))
            << folder.folder;
        EXPECT_EQ(Platform::trashOfferRefusal(path + "/shop"), std::nullopt) << folder.folder;
    }
}
