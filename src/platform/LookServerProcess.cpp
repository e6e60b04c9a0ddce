#include "platform/LookServerProcess.h"

#include "platform/Descriptors.h"
#include "platform/Foundlings.h"
#include "platform/KeeperProgram.h"

#include <QFile>
#include <QHashFunctions>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace Platform::detail {

size_t lookServerEnvironment()
{
    return qHashMulti(0, qgetenv("HOME"), qgetenv("XDG_DATA_HOME"), qgetenv("XDG_CONFIG_HOME"),
                      qgetenv("XDG_CACHE_HOME"), qgetenv("XDG_STATE_HOME"), qgetenv("XDG_RUNTIME_DIR"),
                      lookServerProgram());
}

std::optional<LookServerProcess> startLookServer(QString& failure)
{
    const QString program = lookServerProgram();
    int toServer[2] = {-1, -1};
    int fromServer[2] = {-1, -1};
    const auto closeAll = [&] {
        for (int* pair : {toServer, fromServer})
            for (int i = 0; i < 2; ++i)
                closeFd(pair[i]);
    };
    if (::pipe2(toServer, O_CLOEXEC) != 0 || ::pipe2(fromServer, O_CLOEXEC) != 0) {
        failure = QString::fromLocal8Bit(std::strerror(errno));
        closeAll();
        return std::nullopt;
    }
    for (int* pair : {toServer, fromServer})
        for (int i = 0; i < 2; ++i)
            pair[i] = clearOfStandardStreams(pair[i]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toServer[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromServer[1], STDOUT_FILENO);
    // Never the application's error output: a reader of that would wait for the server too.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t mask;
    sigemptyset(&mask);
    posix_spawnattr_setsigmask(&attributes, &mask);
    sigfillset(&mask);
    posix_spawnattr_setsigdefault(&attributes, &mask);
    // A session of its own from the start: nothing the terminal sends reaches it.
    posix_spawnattr_setflags(&attributes,
                             short(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID));
    const QByteArray path = QFile::encodeName(program);
    QByteArray parent = QByteArray::number(::getpid());
    char parentSwitch[] = "--parent";
    char* argv[] = {const_cast<char*>(path.constData()), parentSwitch, parent.data(), nullptr};
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, path.constData(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    closeFd(toServer[0]);
    closeFd(fromServer[1]);
    if (error != 0) {
        failure = QStringLiteral("%1: %2").arg(program, QString::fromLocal8Bit(std::strerror(error)));
        closeAll();
        return std::nullopt;
    }
    // Waited for here by its number alone: what looks after the children that come back leaves it be.
    noteOwnChild(pid);
    setNonBlocking(toServer[1]);
    setNonBlocking(fromServer[0]);
    return LookServerProcess{pid, toServer[1], fromServer[0], 0};
}

} // namespace Platform::detail
