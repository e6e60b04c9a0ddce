#include "app/SingleInstance.h"

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

} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent) : QObject(parent), m_folder(folder) {}

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
    const QString cache =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)).filePath(QStringLiteral("voskel"));
    QDir().mkpath(cache);
    return cache;
}

SingleInstance::Lock SingleInstance::tryLock()
{
    if (m_lock < 0) {
        const QByteArray lockPath = QFile::encodeName(QDir(m_folder).filePath(QStringLiteral("voskel.lock")));
        m_lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_lock < 0)
            return Lock::unavailable;
    }
    if (::flock(m_lock, LOCK_EX | LOCK_NB) == 0)
        return Lock::taken;
    return errno == EWOULDBLOCK ? Lock::held : Lock::unavailable;
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
            break;
        }
        if (knockAt(socketPath))
            return Role::handedOver;
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
        qWarning("voskel: cannot listen on %s: %s", qPrintable(socketPath), qPrintable(m_server->errorString()));
    if (QCoreApplication* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &SingleInstance::stopListening);
}

void SingleInstance::stopListening()
{
    if (m_server)
        m_server->close();
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
