#pragma once

#include "platform/PreparedProcess.h"
#include "platform/Utf8Stream.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QSocketNotifier;

namespace Platform {

class KeptChild;

// The process group of a started child, as a value that outlives its runner: whether anything of it
// is left. A default one has nothing left.
class ChildGroup {
public:
    ChildGroup() = default;
    // The child and everything still in its group have ended.
    bool gone() const;

private:
    friend class StreamingProcess;
    explicit ChildGroup(std::shared_ptr<KeptChild> child);

    std::shared_ptr<KeptChild> m_child;
};

// Runs one prepared child for a window that shows its output as it comes: standard output and error
// merged into one pipe in the order the child writes them, standard input on the null device, the
// child in a process group of its own under a keeper (KeptChild). Decoded text, the child's end and
// the group's end arrive on the thread that owns this object, from the pipes' readiness: nothing there
// waits or reads the process table.
//
// The group stays known until it is empty: its keeper leads it until nothing the child started is
// left in it, so the group's number cannot be handed out again while it is signalled. What the child
// started out of its group goes with the group while the child runs; once the child has ended on its
// own, that is not the group's any more and runs on (a daemon it started on purpose). Dropping the object
// while anything of the group is left hands it to a reaper: by default the group is asked to
// terminate and killed about five seconds later; `letFinish` leaves it to run to its end instead.
// Either way endRunningChildren ends it on the way out, and the keeper when the application dies.
class StreamingProcess final : public QObject {
    Q_OBJECT

public:
    enum class WhenDropped { terminate, letFinish };

    explicit StreamingProcess(QObject* parent = nullptr);
    ~StreamingProcess() override;
    StreamingProcess(const StreamingProcess&) = delete;
    StreamingProcess& operator=(const StreamingProcess&) = delete;

    // Starts the child. None when it runs; otherwise why it could not be started (nothing runs then).
    // One child per object.
    std::optional<QString> start(const PreparedProcess& prepared);

    // Started, and its end not reported yet.
    bool isRunning() const;
    // How the child ended, once `finished` was sent: its exit code, or the number of the signal that
    // ended it.
    std::optional<int> exitStatus() const { return m_status; }
    bool endedBySignal() const { return m_bySignal; }
    // The group's number (its keeper's process id); 0 before the start.
    qint64 processId() const;
    ChildGroup group() const;

    // SIGINT / SIGTERM to the child's whole group, while anything of it is left.
    void interrupt();
    void terminate();

    void setWhenDropped(WhenDropped when) { m_whenDropped = when; }

signals:
    // Decoded text, chunk by chunk, in the order the child wrote it.
    void output(const QString& text);
    // The child has ended. Its output may go on for a while: what it started can still write.
    void finished(int status);
    // Nothing more can be written: the child and everything that shares its output have closed it.
    void outputEnded();

private:
    void readAvailable(qsizetype budget);
    void newsArrived();
    void closeOutput();

    std::shared_ptr<KeptChild> m_child;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_newsNotifier = nullptr;
    Utf8Stream m_decoder;
    std::optional<int> m_status;
    bool m_bySignal = false;
    WhenDropped m_whenDropped = WhenDropped::terminate;
};

// How long a dropped child's group has between the request to terminate and the kill.
inline constexpr int reapGraceMs = 5000;

// Streaming children whose groups are not gone yet, the reaper's included; for tests.
int streamingChildCount();

} // namespace Platform
