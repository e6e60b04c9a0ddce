// The look server's side of the looks: a small program the application starts beside itself, which
// makes every look at a user's folder for it. A look on a mount that stalls holds this process in the
// kernel, never the application's: the application gives the server up and goes on, and the server
// ends once the mount answers.
#include "platform/Descriptors.h"
#include "platform/LookWire.h"

#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace Platform {

namespace {

// The next message; false at the end of the input, or when what comes is no message.
bool readFrame(int fd, QByteArray& frame)
{
    char header[frameHeader];
    if (!readWhole(fd, header, frameHeader))
        return false;
    const qsizetype size = frameLength(header);
    if (size > largestFrame)
        return false;
    frame.resize(size);
    return readWhole(fd, frame.data(), size_t(size));
}

// The answer to one request: its serial, the outcome and, when answered, the result.
QByteArray answer(const LookTable& table, const QByteArray& request, const std::function<bool()>& spent,
                  quint64& serial)
{
    QDataStream in(request);
    in.setVersion(Wire::version);
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
        try {
            QDataStream out(&result, QIODevice::WriteOnly);
            out.setVersion(Wire::version);
            outcome = (*handler)(in, out) ? LookOutcome::answered : LookOutcome::unreadable;
        } catch (...) {
            outcome = LookOutcome::failed;
        }
        if (outcome != LookOutcome::answered)
            result = QByteArray();
    }
    const quint8 said = quint8(outcome) | (spent && spent() ? serverSpent : 0);
    QByteArray reply;
    QDataStream out(&reply, QIODevice::WriteOnly);
    out.setVersion(Wire::version);
    out << serial << said;
    reply += result;
    return framed(reply);
}

// A failed look for `serial`, said in the bytes at hand: there is no room left for anything more.
bool writeFailed(int output, quint64 serial)
{
    char bytes[frameHeader + sizeof serial + 1] = {0, 0, 0, char(sizeof serial + 1)};
    for (size_t i = 0; i < sizeof serial; ++i)
        bytes[frameHeader + i] = char(serial >> (8 * (sizeof serial - 1 - i)));
    bytes[sizeof bytes - 1] = char(quint8(LookOutcome::failed) | serverSpent);
    return writeWhole(output, bytes, sizeof bytes);
}

int serveLooks(const LookTable& table, const std::function<bool()>& spent, int input, int output)
{
    QByteArray request;
    while (readFrame(input, request)) {
        quint64 serial = 0;
        bool written = false;
        try {
            const QByteArray frame = answer(table, request, spent, serial);
            written = writeWhole(output, frame.constData(), size_t(frame.size()));
        } catch (...) {
            written = writeFailed(output, serial);
        }
        if (!written)
            return 0; // nobody reads any more: given up on
    }
    return 0;
}

} // namespace

int runLookServer(int argc, char** argv, const LookTable& table, const std::function<bool()>& spent)
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
    closeRange(STDERR_FILENO + 1, UINT_MAX);
    // Nor a folder of the user's as its own.
    if (::chdir("/") != 0)
        return 1;
    // A reply nobody reads ends it quietly, as does the end of its input.
    ::signal(SIGPIPE, SIG_DFL);
    const int status = serveLooks(table, spent, STDIN_FILENO, STDOUT_FILENO);
    // What a held-up look's own threads may still do is nothing to wait for.
    ::_exit(status);
}

} // namespace Platform
