#include "app/SingleInstance.h"

#include "keeper/ProcessWatch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr char knock[] = "show\n";

// Asks the process listening at `socketPath` to come forward; true once the knock was delivered.
bool knockAt(const QString& socketPath)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(500))
        return false;
    socket.write(knock);
    const bool sent = socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    return sent;
}

bool sameFile(int fd, const QByteArray& path)
{
    struct stat open {};
    struct stat named {};
    return ::fstat(fd, &open) == 0 && ::stat(path.constData(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

// Whether the process holding the lock on `fd` is certain to end: the system's table of locks names
// it. One that cannot be told (in another process namespace, where it is shown as 0) is not.
bool holderLeaving(int fd)
{
    struct stat lock {};
    if (::fstat(fd, &lock) != 0)
        return false;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return false;
    // "3: FLOCK  ADVISORY  WRITE 3459 fe:00:1089661 0 EOF", the device's numbers in hexadecimal.
    const QByteArray file = QByteArray::number(major(lock.st_dev), 16).rightJustified(2, '0') + ':' +
                            QByteArray::number(minor(lock.st_dev), 16).rightJustified(2, '0') + ':' +
                            QByteArray::number(quint64(lock.st_ino));
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields[1] != "FLOCK" || fields[5] != file)
            continue;
        bool number = false;
        const pid_t holder = pid_t(fields[4].toInt(&number));
        if (!number || holder <= 0)
            return false;
        const std::optional<Keeper::ProcessState> seen = Keeper::readProcessState(holder);
        return seen && Keeper::isLeaving(*seen);
    }
    return false;
}

} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent) : QObject(parent), m_folder(folder)
{
}

SingleInstance::~SingleInstance()
{
    stopListening();
    if (m_lock >= 0)
        ::close(m_lock);
}

QString SingleInstance::defaultFolder()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime;
    const QString cache = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
                              .filePath(QStringLiteral("voskel"));
    QDir().mkpath(cache);
    return cache;
}

QString SingleInstance::lockPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("voskel.lock"));
}

SingleInstance::Lock SingleInstance::tryLock()
{
    const QByteArray path = QFile::encodeName(lockPath());
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (m_lock < 0) {
            m_lock = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (m_lock < 0)
                return Lock::unavailable;
        }
        if (::flock(m_lock, LOCK_EX | LOCK_NB) == 0) {
            // The file a leaving holder kept may have been put aside since it was opened: only the lock
            // on the file at its place counts.
            if (sameFile(m_lock, path))
                return Lock::taken;
        } else if (errno != EWOULDBLOCK) {
            return Lock::unavailable;
        } else if (!holderLeaving(m_lock)) {
            return Lock::held;
        } else {
            // Its holder cannot let go before its stuck threads return, which may be never: the file
            // is put aside and a new one made. One start at a time does that, so no start removes the
            // file another has just made and locked.
            const QByteArray asideLockPath = path + ".aside";
            const int aside = ::open(asideLockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            const bool ours = aside >= 0 && ::flock(aside, LOCK_EX | LOCK_NB) == 0;
            if (ours && sameFile(m_lock, path))
                ::unlink(path.constData());
            if (aside >= 0)
                ::close(aside);
            if (!ours)
                return Lock::leaving;
        }
        ::close(m_lock);
        m_lock = -1;
    }
    return Lock::leaving;
}

SingleInstance::Role SingleInstance::claim(int patienceMs)
{
    const QString socketPath = QDir(m_folder).filePath(QStringLiteral("voskel.socket"));
    // The first process may still be starting up, or be on its way out: knock while it holds the lock,
    // and take its place as soon as it lets go.
    const QDeadlineTimer deadline(patienceMs);
    for (;;) {
        switch (tryLock()) {
        case Lock::taken:
            listen(socketPath);
            return Role::first;
        case Lock::unavailable:
            qWarning("voskel: no lock can be kept in %s, so a second Voskel could start beside this one.",
                     qPrintable(m_folder));
            return Role::first;
        case Lock::held:
            // A knock can reach a process that no longer takes it (its socket's queue takes it instead):
            // only one that holds the lock and is not leaving is knocked on.
            if (knockAt(socketPath))
                return Role::handedOver;
            break;
        case Lock::leaving:
            break;
        }
        if (deadline.hasExpired())
            return Role::unanswered;
        QThread::msleep(100);
    }
}

void SingleInstance::listen(const QString& socketPath)
{
    // What a process that died left behind; nobody holds the lock, so nobody answers there.
    QLocalServer::removeServer(socketPath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    if (!m_server->listen(socketPath))
        qWarning("voskel: cannot listen on %s: %s", qPrintable(socketPath),
                 qPrintable(m_server->errorString()));
    if (QCoreApplication* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &SingleInstance::stopListening);
}

void SingleInstance::stopListening()
{
    if (m_server)
        m_server->close();
}

void SingleInstance::letGo()
{
    stopListening();
    if (m_lock >= 0)
        ::close(m_lock);
    m_lock = -1;
}

void SingleInstance::accept()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        const auto read = [this, socket] {
            if (socket->canReadLine()) {
                socket->readAll();
                emit knocked();
            }
        };
        connect(socket, &QLocalSocket::readyRead, this, read);
        read();
    }
}
