#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One application per user: the first process holds a lock and listens on a local socket beside it;
// a later one finds the lock taken, knocks on the socket so the first brings its window forward, and
// leaves. The lock is the system's own file lock, which ends with the process that held it, so a
// crash never leaves a lock that keeps the application from starting.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Role {
        first,     // this process is the one: it listens now
        handedOver, // another process runs and was asked to come forward
        unanswered, // another process holds the lock but did not take the knock
    };

    // `folder` holds the lock and the socket; it must be private to the user.
    explicit SingleInstance(const QString& folder = defaultFolder(), QObject* parent = nullptr);
    ~SingleInstance() override;

    Role claim();

    // $XDG_RUNTIME_DIR when the session has one, else a folder of the user's own in the temporary
    // folder (made with mode 0700).
    static QString defaultFolder();

signals:
    // A later start asked this one to come forward.
    void knocked();

private:
    void accept();

    QString m_folder;
    int m_lock = -1;
    QLocalServer* m_server = nullptr;
};
