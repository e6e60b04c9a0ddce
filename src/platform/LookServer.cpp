// The look server's side of the looks: a small program the application starts beside itself, which
// makes every look at a user's folder for it. A look on a mount that stalls holds this process in the
// kernel, never the application's: the application gives the server up and goes on, and the server
// ends once the mount answers.
#include "platform/LookWire.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Platform {

namespace {

bool readWhole(int fd, char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t got = ::read(fd, data, size_t(size));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        data += got;
        size -= got;
    }
    return true;
}

bool writeWhole(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size_t(size));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        size -= put;
    }
    return true;
}

// The next message; false at the end of the input, or when what comes is no message.
bool readFrame(int fd, QByteArray& frame)
{
    unsigned char header[frameHeader];
    if (!readWhole(fd, reinterpret_cast<char*>(header), frameHeader))
        return false;
    const qsizetype size = qsizetype(header[0]) << 24 | qsizetype(header[1]) << 16 |
                           qsizetype(header[2]) << 8 | qsizetype(header[3]);
    if (size > largestFrame)
        return false;
    frame.resize(size);
    return readWhole(fd, frame.data(), size);
}

bool writeFrame(int fd, const QByteArray& frame)
{
    const quint32 size = quint32(frame.size());
    const char header[frameHeader] = {char(size >> 24), char(size >> 16), char(size >> 8), char(size)};
    return writeWhole(fd, header, frameHeader) && writeWhole(fd, frame.constData(), frame.size());
}

void closeFrom(int first)
{
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, unsigned(first), ~0U, 0) == 0)
        return;
#endif
    rlimit limit{};
    int top = 65536;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < rlim_t(top))
        top = int(limit.rlim_cur);
    for (int fd = first; fd < top; ++fd)
        ::close(fd);
}

// The answer to one request: its serial, the outcome and, when answered, the result.
QByteArray answer(const LookTable& table, const QByteArray& request)
{
    QDataStream in(request);
    in.setVersion(Wire::version);
    quint64 serial = 0;
    QByteArray operation;
    in >> serial >> operation;

    QByteArray result;
    LookOutcome outcome = LookOutcome::unreadable;
    const auto handler = table.constFind(operation);
    if (in.status() != QDataStream::Ok) {
        outcome = LookOutcome::unreadable;
    } else if (handler == table.cend()) {
        outcome = LookOutcome::unknownOperation;
    } else {
        QDataStream out(&result, QIODevice::WriteOnly);
        out.setVersion(Wire::version);
        try {
            outcome = (*handler)(in, out) ? LookOutcome::answered : LookOutcome::unreadable;
        } catch (...) {
            outcome = LookOutcome::failed;
        }
        if (outcome != LookOutcome::answered)
            result.clear();
    }
    QByteArray reply;
    QDataStream out(&reply, QIODevice::WriteOnly);
    out.setVersion(Wire::version);
    out << serial << quint8(outcome);
    reply += result;
    return reply;
}

} // namespace

int serveLooks(const LookTable& table, int input, int output)
{
    QByteArray request;
    while (readFrame(input, request))
        if (!writeFrame(output, answer(table, request)))
            return 0; // nobody reads any more: given up on
    return 0;
}

int runLookServer(int argc, char** argv, const LookTable& table)
{
    pid_t parent = 0;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--parent") == 0)
            parent = pid_t(std::atol(argv[i + 1]));
    // Killed when the thread that started it goes; one started for a parent already gone goes now.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (parent <= 0 || ::getppid() != parent)
        return 1;
    // Out of the terminal's session, so nothing the terminal does reaches it, and it holds nothing of
    // the application's but the two pipes: no terminal, socket, window or open file.
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0 && null != STDERR_FILENO)
        ::dup2(null, STDERR_FILENO);
    closeFrom(STDERR_FILENO + 1);
    // Nor a folder of the user's as its own.
    if (::chdir("/") != 0)
        return 1;
    // A reply nobody reads ends it quietly, as does the end of its input.
    ::signal(SIGPIPE, SIG_DFL);
    const int status = serveLooks(table, STDIN_FILENO, STDOUT_FILENO);
    // What a held-up look's own threads may still do is nothing to wait for.
    ::_exit(status);
}

} // namespace Platform
