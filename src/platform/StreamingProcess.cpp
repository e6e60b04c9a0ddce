#include "platform/StreamingProcess.h"

#include "platform/KeptChild.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace Platform {

namespace {

constexpr qsizetype readBudget = 64 * 1024; // per wake-up, so the event loop keeps turning
// A start on the window's thread waits this long for the program to run; a folder on a stalled mount
// may take longer, and then its failure, if any, is reported as the child's end.
constexpr int startWaitMs = 2000;

// Stops a notifier that may be the one reporting right now; it goes once the report is over.
void dropNotifier(QSocketNotifier*& notifier)
{
    if (!notifier)
        return;
    notifier->setEnabled(false);
    notifier->deleteLater();
    notifier = nullptr;
}

// Reads what is there without waiting; appends to `into`. False at end of file.
bool readSome(int fd, QByteArray& into, qsizetype budget)
{
    char buffer[16 * 1024];
    while (budget > 0) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, got);
            budget -= got;
            continue;
        }
        if (got == 0)
            return false;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    return true;
}

// A child whose window let it go while its group was still there. It keeps the output drained (a
// child blocked on a full pipe could not react), and either ends the group, terminate first and kill
// after the grace, or lets it run to its end; either way the keeper is reaped once the group is
// empty. Lives on the thread of the runner it came from and deletes itself.
class Reaper final : public QObject {
public:
    Reaper(std::shared_ptr<KeptChild> child, StreamingProcess::WhenDropped when) : m_child(std::move(child))
    {
        living().insert(this);
        if (m_child->outputFd() >= 0) {
            m_read = new QSocketNotifier(m_child->outputFd(), QSocketNotifier::Read, this);
            connect(m_read, &QSocketNotifier::activated, this, [this] { drain(); });
        }
        m_news = new QSocketNotifier(m_child->statusFd(), QSocketNotifier::Read, this);
        connect(m_news, &QSocketNotifier::activated, this, [this] { check(); });
        if (when == StreamingProcess::WhenDropped::terminate) {
            m_child->signal(SIGTERM);
            QTimer::singleShot(reapGraceMs, this, [this] {
                m_child->signal(SIGKILL);
                check();
                // A keeper that did not take the request has its group killed at a later look.
                QTimer::singleShot(2 * keeperAnswerMs, this, [this] { check(); });
            });
        }
        check();
    }

    ~Reaper() override
    {
        delete m_read;
        delete m_news;
        living().erase(this);
    }

private:
    // Kept reachable until they are done, also at exit (never destroyed, so never a leak).
    static std::set<Reaper*>& living()
    {
        static auto* reapers = new std::set<Reaper*>;
        return *reapers;
    }

    void drain()
    {
        QByteArray discarded;
        if (!readSome(m_child->outputFd(), discarded, readBudget)) {
            dropNotifier(m_read);
            m_child->closeOutput();
        }
    }

    void check()
    {
        if (m_done)
            return;
        m_child->update();
        if (!m_child->gone())
            return;
        m_done = true;
        dropNotifier(m_news); // the keeper's closed end stays readable
        dropNotifier(m_read);
        m_child->release();
        deleteLater();
    }

    std::shared_ptr<KeptChild> m_child;
    bool m_done = false;
    QSocketNotifier* m_read = nullptr;
    QSocketNotifier* m_news = nullptr;
};

} // namespace

ChildGroup::ChildGroup(std::shared_ptr<KeptChild> child) : m_child(std::move(child))
{
}

bool ChildGroup::gone() const
{
    if (!m_child)
        return true;
    m_child->update();
    return m_child->gone();
}

StreamingProcess::StreamingProcess(QObject* parent) : QObject(parent)
{
}

StreamingProcess::~StreamingProcess()
{
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_newsNotifier;
    m_newsNotifier = nullptr;
    if (!m_child)
        return;
    // The child may have ended while what it started still runs in its group: that goes too.
    m_child->update();
    if (!m_child->gone()) {
        new Reaper(m_child, m_whenDropped);
        return;
    }
    m_child->release();
}

std::optional<QString> StreamingProcess::start(const PreparedProcess& prepared)
{
    if (m_child)
        return QStringLiteral("This runner has already started a program.");
    KeptChild::Options options;
    options.mergeOutput = true;
    options.streaming = true;
    options.startWaitMs = startWaitMs;
    QString failure;
    m_child = KeptChild::start(prepared, options, failure);
    if (!m_child)
        return failure;

    m_readNotifier = new QSocketNotifier(m_child->outputFd(), QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, [this] { readAvailable(readBudget); });
    m_newsNotifier = new QSocketNotifier(m_child->statusFd(), QSocketNotifier::Read, this);
    connect(m_newsNotifier, &QSocketNotifier::activated, this, &StreamingProcess::newsArrived);
    // The program may be over already; its end is reported from the event loop, as any other.
    QTimer::singleShot(0, this, &StreamingProcess::newsArrived);
    return std::nullopt;
}

bool StreamingProcess::isRunning() const
{
    return m_child && !m_status;
}

qint64 StreamingProcess::processId() const
{
    return m_child ? qint64(m_child->group()) : 0;
}

ChildGroup StreamingProcess::group() const
{
    return ChildGroup(m_child);
}

void StreamingProcess::interrupt()
{
    if (m_child)
        m_child->signal(SIGINT);
}

void StreamingProcess::terminate()
{
    if (m_child)
        m_child->signal(SIGTERM);
}

void StreamingProcess::readAvailable(qsizetype budget)
{
    if (!m_child || m_child->outputFd() < 0)
        return;
    QByteArray bytes;
    const bool open = readSome(m_child->outputFd(), bytes, budget);
    QString text = m_decoder.decode(bytes);
    if (!open)
        text += m_decoder.finish();
    QPointer<StreamingProcess> self(this);
    if (!text.isEmpty())
        emit output(text);
    if (!self || open)
        return;
    closeOutput();
    emit outputEnded();
}

void StreamingProcess::newsArrived()
{
    if (!m_child)
        return;
    m_child->update();
    // Once the keeper has gone its closed end stays readable: nothing more to hear from it.
    if (m_child->gone())
        dropNotifier(m_newsNotifier);
    if (m_status || !m_child->exited())
        return;
    QPointer<StreamingProcess> self(this);
    if (const std::optional<QString> late = m_child->lateFailure()) {
        emit output(*late + u'\n');
        if (!self)
            return;
    }
    // What the child wrote before it ended comes first, so the end follows its last words.
    readAvailable(16 * readBudget);
    if (!self)
        return;
    if (const std::optional<QString> cut = m_child->cutOff()) {
        emit output(*cut + u'\n');
        if (!self)
            return;
    }
    const int status = m_child->waitStatus();
    m_bySignal = WIFSIGNALED(status);
    m_status = m_bySignal ? WTERMSIG(status) : WEXITSTATUS(status);
    emit finished(*m_status);
}

void StreamingProcess::closeOutput()
{
    dropNotifier(m_readNotifier);
    if (m_child)
        m_child->closeOutput();
}

int streamingChildCount()
{
    return keptChildCount(true);
}

} // namespace Platform
