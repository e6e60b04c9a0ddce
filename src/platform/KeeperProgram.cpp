#include "platform/KeeperProgram.h"

#include "keeper/KeeperNews.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace Platform {

namespace {

constexpr char lookServerName[] = "voskel-look";

// Never destroyed: the thread that starts look servers never ends, and may ask for the program while
// the process is on its way out.
QMutex& keeperMutex = *new QMutex;
QString& keeperOverride = *new QString;
QString& lookServerOverride = *new QString;
std::atomic<const char*> builtKeeper{nullptr};
std::atomic<const char*> builtLookServer{nullptr};

// The directory of the running executable.
const QString& ownDirectory()
{
    static const QString& directory = *new QString([] {
        char buffer[PATH_MAX];
        const ssize_t got = ::readlink("/proc/self/exe", buffer, sizeof buffer);
        if (got <= 0 || got >= qsizetype(sizeof buffer))
            return QString();
        return QFileInfo(QFile::decodeName(QByteArray(buffer, got))).absolutePath();
    }());
    return directory;
}

// `name` beside the running executable, else `built` when there is none there.
QString programBeside(const char* name, const char* built)
{
    const QString beside = ownDirectory() + u'/' + QLatin1String(name);
    if (built && !QFileInfo::exists(beside))
        return QFile::decodeName(built);
    return beside;
}

} // namespace

QString keeperProgram()
{
    {
        QMutexLocker lock(&keeperMutex);
        if (!keeperOverride.isEmpty())
            return keeperOverride;
    }
    return programBeside(Keeper::programName, builtKeeper.load());
}

QString lookServerProgram()
{
    {
        QMutexLocker lock(&keeperMutex);
        if (!lookServerOverride.isEmpty())
            return lookServerOverride;
    }
    return programBeside(lookServerName, builtLookServer.load());
}

void setBuiltLookServer(const char* path)
{
    builtLookServer.store(path);
}

void setLookServerProgram(const QString& path)
{
    QMutexLocker lock(&keeperMutex);
    lookServerOverride = path;
}

void setBuiltKeeper(const char* path)
{
    builtKeeper.store(path);
}

void setKeeperProgram(const QString& path)
{
    QMutexLocker lock(&keeperMutex);
    keeperOverride = path;
}

namespace {

// Why `program` cannot be run: ENOENT, EISDIR, or what access() says; none when it can.
std::optional<int> whyNotRunnable(const QString& program)
{
    const QFileInfo file(program);
    if (!file.exists())
        return ENOENT;
    if (!file.isFile())
        return EISDIR;
    if (::access(QFile::encodeName(program).constData(), X_OK) != 0)
        return errno;
    return std::nullopt;
}

} // namespace

std::optional<QString> keeperMissing()
{
    const QString keeper = keeperProgram();
    if (const std::optional<int> error = whyNotRunnable(keeper))
        return KeeperTexts::missing(keeper, *error);
    return std::nullopt;
}

std::optional<QString> lookServerMissing()
{
    const QString server = lookServerProgram();
    if (const std::optional<int> error = whyNotRunnable(server))
        return KeeperTexts::lookServerMissing(server, *error);
    return std::nullopt;
}

namespace KeeperTexts {

QString commandName(const QString& program, const QStringList& arguments)
{
    if (QFileInfo(program).fileName() != u"env")
        return program;
    for (const QString& argument : arguments)
        if (!argument.startsWith(u'-') && !argument.contains(u'='))
            return argument;
    return program;
}

QString launchFailure(const QString& program, const QString& directory, int where, int error)
{
    const QString reason = QString::fromLocal8Bit(std::strerror(error));
    if (where == Keeper::atDirectory) {
        if (error == ENOENT || error == ENOTDIR)
            return QStringLiteral("The working directory \u201c%1\u201d does not exist.").arg(directory);
        return QStringLiteral("The working directory \u201c%1\u201d cannot be entered: %2")
            .arg(directory, reason);
    }
    if (error == ENOENT)
        return QStringLiteral("The program \u201c%1\u201d was not found.").arg(program);
    if (error == EACCES)
        return QStringLiteral("The program \u201c%1\u201d cannot be run: permission denied.").arg(program);
    return QStringLiteral("%1: %2").arg(program, reason);
}

QString keeperFailure(const QString& command, const QString& keeper, std::optional<int> error)
{
    const QString head = QStringLiteral("\u201c%1\u201d was not started: ").arg(command);
    if (!error)
        return head + QStringLiteral("Voskel's keeper \u201c%1\u201d ended without starting it.").arg(keeper);
    if (*error == ENOENT)
        return head + QStringLiteral("Voskel's keeper \u201c%1\u201d was not found.").arg(keeper);
    if (*error == EACCES)
        return head +
               QStringLiteral("Voskel's keeper \u201c%1\u201d cannot be run: permission denied.").arg(keeper);
    return head + QStringLiteral("Voskel's keeper \u201c%1\u201d cannot be run: %2")
                      .arg(keeper, QString::fromLocal8Bit(std::strerror(*error)));
}

QString cutOff(const QString& command)
{
    return QStringLiteral("\u201c%1\u201d was cut off: Voskel's keeper ended unexpectedly.").arg(command);
}

QString lookServerMissing(const QString& server, int error)
{
    const QString tail =
        QStringLiteral(" Voskel looks at no folder of yours itself, so it looks at none without it.");
    if (error == ENOENT || error == ENOTDIR)
        return QStringLiteral("Voskel's look server \u201c%1\u201d was not found.").arg(server) + tail;
    return QStringLiteral("Voskel's look server \u201c%1\u201d cannot be run: %2.")
               .arg(server, QString::fromLocal8Bit(std::strerror(error))) +
           tail;
}

QString missing(const QString& keeper, int error)
{
    const QString tail = QStringLiteral(" Voskel runs every command under it, so it runs none without it.");
    if (error == ENOENT || error == ENOTDIR)
        return QStringLiteral("Voskel's keeper \u201c%1\u201d was not found.").arg(keeper) + tail;
    if (error == EACCES)
        return QStringLiteral("Voskel's keeper \u201c%1\u201d cannot be run: permission denied.")
                   .arg(keeper) +
               tail;
    return QStringLiteral("Voskel's keeper \u201c%1\u201d cannot be run: %2.")
               .arg(keeper, QString::fromLocal8Bit(std::strerror(error))) +
           tail;
}

} // namespace KeeperTexts

} // namespace Platform
