#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One application per user: the first process holds a lock and listens on a local socket beside it;
// a later one finds the lock taken, knocks on the socket so the first brings its window forward, and
// leaves. The lock is the system's own file lock, which ends with the process that held it, so a
// crash never leaves a lock that keeps the application from starting. A process that is certain to
// end but cannot yet (killed while a thread waits on a stalled mount) still holds it: its lock file is
// then put aside for a new one.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Role {
        first,      // this process is the one: it listens now
        handedOver, // another process runs and was asked to come forward
        unanswered, // another process holds the lock but did not take the knock
    };

    // `folder` holds the lock and the socket; it must be private to the user.
    explicit SingleInstance(const QString& folder = defaultFolder(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // Knocks for up to `patienceMs` while another process holds the lock, taking its place as soon as
    // it lets go. A folder where no lock can be kept does not stop the application: it runs as the
    // first, without the guarantee.
    Role claim(int patienceMs = 5000);

    // The application is on its way out: later starts no longer hand over to it, they wait for it to
    // end and take its place. The lock is kept until this object goes.
    void stopListening();

    // The process ends at once, with threads it could not stop still inside the kernel: the lock and
    // the socket go now, as the process may stay until those threads return.
    void letGo();

    // The session's runtime folder when it is the user's own (Qt checks the owner and the mode 0700,
    // and makes one in the temporary folder when the session names none), else a folder in the user's
    // cache.
    static QString defaultFolder();

signals:
    // A later start asked this one to come forward.
    void knocked();

private:
    enum class Lock {
        taken,
        held,
        leaving, // held by a process certain to end, whose place could not be taken yet
        unavailable,
    };
    Lock tryLock();
    QString lockPath() const;
    void listen(const QString& socketPath);
    void accept();

    QString m_folder;
    int m_lock = -1;
    QLocalServer* m_server = nullptr;
};
