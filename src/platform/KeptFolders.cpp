#include "platform/KeptFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

namespace Platform {

namespace {

// The system's own trees: nothing at any depth in them is a user's project. /run is told apart below,
// for the removable media mounted under it.
const QStringList& systemTrees()
{
    static const QStringList trees{
        QStringLiteral("/usr"),       QStringLiteral("/etc"),         QStringLiteral("/boot"),
        QStringLiteral("/bin"),       QStringLiteral("/sbin"),        QStringLiteral("/proc"),
        QStringLiteral("/sys"),
        QStringLiteral("/dev"),       QStringLiteral("/snap"),        QStringLiteral("/lost+found"),
        QStringLiteral("/var/lib"),   QStringLiteral("/var/cache"),   QStringLiteral("/var/log"),
        QStringLiteral("/var/spool"), QStringLiteral("/var/mail"),    QStringLiteral("/var/run"),
        QStringLiteral("/var/lock"),  QStringLiteral("/var/backups"), QStringLiteral("/var/opt"),
        QStringLiteral("/var/local"), QStringLiteral("/var/db"),      QStringLiteral("/var/empty"),
    };
    return trees;
}

// Where programs are installed beside the projects many keep there (/opt/stacks/<name>, /srv/<name>).
const QStringList& sharedTrees()
{
    static const QStringList trees{QStringLiteral("/opt"), QStringLiteral("/srv")};
    return trees;
}

bool atOrBelow(const QString& path, const QString& folder)
{
    return !path.isEmpty() && !folder.isEmpty() &&
           (path == folder || path.startsWith(folder.endsWith(u'/') ? folder : folder + u'/'));
}

// Folders each of whose own folders is the system's (a user's home, a disk's mount point), though
// what those hold may be anyone's.
const QStringList& holdersOfKept()
{
    static const QStringList holders{QStringLiteral("var"), QStringLiteral("home"), QStringLiteral("media"),
                                     QStringLiteral("mnt")};
    return holders;
}

// The path with every link resolved; empty when it cannot be.
QString resolved(const QString& path)
{
    char buffer[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), buffer))
        return {};
    return QFile::decodeName(buffer);
}

// An XDG base folder: the variable's value when it is an absolute path, else `fallback` in the home.
QString baseFolder(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable);
    if (value.startsWith(u'/'))
        return QDir::cleanPath(value);
    return fallback.isEmpty() ? QString() : QDir::homePath() + u'/' + fallback;
}

void addPlace(QList<KeptPlace>& places, const QString& path, const QString& what)
{
    if (path.startsWith(u'/') && path != u"/")
        places << KeptPlace{QDir::cleanPath(path), what};
}

// The home folders of the accounts in the password database, at most a bounded number of them.
void addAccountHomes(QList<KeptPlace>& places)
{
    // getpwent walks one database position for the whole process.
    static QMutex walking;
    const QMutexLocker lock(&walking);
    constexpr int mostAccounts = 100000;
    ::setpwent();
    int seen = 0;
    while (const passwd* account = ::getpwent()) {
        if (++seen > mostAccounts)
            break;
        if (account->pw_dir && account->pw_name)
            addPlace(places, QFile::decodeName(account->pw_dir),
                     QStringLiteral("the home folder of %1").arg(QString::fromLocal8Bit(account->pw_name)));
    }
    ::endpwent();
}

} // namespace

std::optional<QString> systemFolderReason(const QString& path)
{
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    if (!path.startsWith(u'/') || parts.isEmpty())
        return std::nullopt;
    if (parts.size() == 1)
        return QStringLiteral("it is a system folder, directly under the root of the file system");
    if (parts.first().startsWith(QLatin1StringView("lib")))
        return QStringLiteral("it is a system folder, part of /") + parts.first();
    for (const QString& tree : systemTrees())
        if (path == tree || path.startsWith(tree + u'/'))
            return QStringLiteral("it is a system folder, part of ") + tree;
    // Removable media show under /run/media/<user>/<disk>; the disk's own folders are the user's.
    if (parts.first() == u"run" && !(parts.size() >= 4 && parts[1] == u"media"))
        return QStringLiteral("it is a system folder, part of /run");
    if (parts.size() == 2 && holdersOfKept().contains(parts.first()))
        return QStringLiteral("it is a system folder, directly in /") + parts.first();
    return std::nullopt;
}

QList<KeptPlace> keptPlaces()
{
    QList<KeptPlace> places;
    addAccountHomes(places);

    const QString config = baseFolder("XDG_CONFIG_HOME", QStringLiteral(".config"));
    const QString data = baseFolder("XDG_DATA_HOME", QStringLiteral(".local/share"));
    const QString cache = baseFolder("XDG_CACHE_HOME", QStringLiteral(".cache"));
    addPlace(places, config, QStringLiteral("your settings folder"));
    addPlace(places, data, QStringLiteral("your data folder"));
    addPlace(places, cache, QStringLiteral("your cache folder"));
    addPlace(places, baseFolder("XDG_STATE_HOME", QStringLiteral(".local/state")),
             QStringLiteral("your state folder"));
    const QString runtime = baseFolder("XDG_RUNTIME_DIR", QString());
    addPlace(places, runtime.isEmpty() ? QStringLiteral("/run/user/") + QString::number(::getuid()) : runtime,
             QStringLiteral("your runtime folder"));

    const struct {
        QStandardPaths::StandardLocation location;
        const char* what;
    } userFolders[] = {
        {QStandardPaths::DesktopLocation, "your Desktop folder"},
        {QStandardPaths::DocumentsLocation, "your Documents folder"},
        {QStandardPaths::DownloadLocation, "your Downloads folder"},
        {QStandardPaths::MusicLocation, "your Music folder"},
        {QStandardPaths::PicturesLocation, "your Pictures folder"},
        {QStandardPaths::MoviesLocation, "your Videos folder"},
        {QStandardPaths::TemplatesLocation, "your Templates folder"},
        {QStandardPaths::PublicShareLocation, "your Public folder"},
    };
    for (const auto& folder : userFolders)
        addPlace(places, QStandardPaths::writableLocation(folder.location), QString::fromLatin1(folder.what));

    // Voskel's own: its settings (QSettings' user-scope files), data and cache.
    addPlace(places, config + QStringLiteral("/voskel"), QStringLiteral("Voskel's own settings folder"));
    addPlace(places, data + QStringLiteral("/voskel"), QStringLiteral("Voskel's own data folder"));
    addPlace(places, cache + QStringLiteral("/voskel"), QStringLiteral("Voskel's own cache folder"));
    const QString program = resolved(QStringLiteral("/proc/self/exe"));
    if (!program.isEmpty())
        addPlace(places, QFileInfo(program).absolutePath(), QStringLiteral("the folder Voskel runs from"));
    return places;
}

std::optional<QString> systemFolderRefusal(const QString& label)
{
    const QString written = QDir::cleanPath(label);
    const QString canonical = resolved(label);
    for (const QString& path : {written, canonical})
        if (const std::optional<QString> reason = systemFolderReason(path))
            return reason;
    // A link or a bind elsewhere to a system tree is that tree all the same. /var/run and /var/lock lead
    // into /run, whose rule above leaves removable media to the user.
    for (const QString& tree : systemTrees()) {
        const QString real = resolved(tree);
        if (real == QLatin1StringView("/run") || real.startsWith(QLatin1StringView("/run/")))
            continue;
        if (const std::optional<FileIdentity> at = identityOf(tree); at && liesWithin(label, *at))
            return QStringLiteral("it is a system folder, part of ") + tree;
    }
    return sharedTreeRefusal(label, sharedTrees());
}

std::optional<QString> sharedTreeRefusal(const QString& label, const QStringList& trees)
{
    const QString written = QDir::cleanPath(label);
    const QString canonical = resolved(label);
    const std::optional<FileIdentity> folder = identityOf(label);
    for (const QString& tree : trees) {
        const QString real = resolved(tree);
        const std::optional<FileIdentity> top = identityOf(tree);
        const bool inside = atOrBelow(written, tree) || atOrBelow(canonical, tree) ||
                            atOrBelow(canonical, real) || (top && liesWithin(label, *top));
        if (!inside)
            continue;
        if (written == tree || (folder && folder == top))
            return QStringLiteral("it is %1 itself, where programs and projects are kept").arg(tree);
        // A project's own folder there has its compose file at its top; anything else may be a
        // program's, or hold the folders of several projects.
        static const QStringList composeNames{QStringLiteral("compose.yaml"), QStringLiteral("compose.yml"),
                                              QStringLiteral("docker-compose.yaml"),
                                              QStringLiteral("docker-compose.yml")};
        const bool ownFile = std::any_of(composeNames.cbegin(), composeNames.cend(), [&](const QString& name) {
            return QFileInfo(QDir(label).filePath(name)).isFile();
        });
        if (!ownFile)
            return QStringLiteral("it lies in %1 and has no compose file of its own at its top, so it may be a "
                                  "program's or hold other projects")
                .arg(tree);
    }
    return std::nullopt;
}

std::optional<QString> personalFolderRefusal(const FileIdentity& identity, const QList<KeptPlace>& places)
{
    for (const KeptPlace& place : places) {
        if (identityOf(place.path) == identity)
            return QStringLiteral("it is a personal folder: ") + place.what;
        // What is not there yet is taken from the nearest folder above it that is.
        if (liesWithin(place.path, identity))
            return QStringLiteral("it holds a personal folder: %1, %2").arg(place.what, place.path);
    }
    return std::nullopt;
}

} // namespace Platform
