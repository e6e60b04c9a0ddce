#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char knock[] = "show\n";

} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent) : QObject(parent), m_folder(folder) {}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
    if (m_lock >= 0)
        ::close(m_lock);
}

QString SingleInstance::defaultFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime;
    const QString own = QDir::temp().filePath(QStringLiteral("voskel-%1").arg(getuid()));
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    return own;
}

SingleInstance::Role SingleInstance::claim()
{
    const QString socketPath = QDir(m_folder).filePath(QStringLiteral("voskel.socket"));
    const QByteArray lockPath = QFile::encodeName(QDir(m_folder).filePath(QStringLiteral("voskel.lock")));
    m_lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lock >= 0 && ::flock(m_lock, LOCK_EX | LOCK_NB) == 0) {
        QLocalServer::removeServer(socketPath);
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
        if (!m_server->listen(socketPath))
            qWarning("voskel: cannot listen on %s: %s", qPrintable(socketPath), qPrintable(m_server->errorString()));
        return Role::first;
    }
    if (m_lock >= 0) {
        ::close(m_lock);
        m_lock = -1;
    }

    // The first process may still be starting up: give it a few seconds to listen.
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(500)) {
            socket.write(knock);
            const bool sent = socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            if (sent)
                return Role::handedOver;
        }
        QThread::msleep(100);
    }
    return Role::unanswered;
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
