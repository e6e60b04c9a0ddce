// Reads the kernel's mount tables as the application does (Platform::hostMounts) and prints what it
// found as JSON (KernelReading.h), from where a test needs it read:
//   voskel_kernel_reader [--own-mounts] [--own-processes] [--set-up <script>] [--nobody] [--proc <dir>]
// --own-mounts: in a mount namespace of its own, whose mounts stay private to it.
// --own-processes: in a process namespace of its own as well, as its first process.
// --set-up: `/bin/sh -c <script>` run first, as root, in those namespaces (mounting a process folder
//   with options of its own, say).
// --nobody: then it drops every right it has, as the user nobody, before it reads.
// A process of its own, not a fork of the test: only a process with one thread may take these steps
// safely.
#include "support/KernelReading.h"

#include <QString>

#include <cstdio>
#include <cstring>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int failed(const char* what)
{
    std::fprintf(stderr, "%s: %s\n", what, std::strerror(errno));
    return 2;
}

int readAndPrint(const char* setUp, bool nobody, const QString& proc)
{
    if (setUp) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::execl("/bin/sh", "sh", "-c", setUp, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0)
            return failed("the set-up failed");
    }
    if (nobody) {
        constexpr uid_t id = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(id, id, id) != 0 || ::setresuid(id, id, id) != 0)
            return failed("could not become nobody");
        // A process that changed its user is kept from being looked at, by itself too; the application
        // never changed its own.
        ::prctl(PR_SET_DUMPABLE, 1);
    }
    const QByteArray json = KernelReading::toJson(Platform::hostMounts(proc));
    std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    bool ownMounts = false;
    bool ownProcesses = false;
    bool nobody = false;
    const char* setUp = nullptr;
    QString proc = QStringLiteral("/proc");
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument = argv[i];
        if (argument == "--own-mounts")
            ownMounts = true;
        else if (argument == "--own-processes")
            ownProcesses = true;
        else if (argument == "--nobody")
            nobody = true;
        else if (argument == "--set-up" && i + 1 < argc)
            setUp = argv[++i];
        else if (argument == "--proc" && i + 1 < argc)
            proc = QString::fromLocal8Bit(argv[++i]);
        else
            return failed("unknown argument");
    }
    if (ownMounts || ownProcesses) {
        if (::unshare(CLONE_NEWNS | (ownProcesses ? CLONE_NEWPID : 0)) != 0)
            return failed("unshare");
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return failed("making the mounts private");
    }
    if (!ownProcesses)
        return readAndPrint(setUp, nobody, proc);
    // The new process namespace is its children's: the first of them is its first process.
    std::fflush(stdout);
    const pid_t first = ::fork();
    if (first < 0)
        return failed("fork");
    if (first == 0)
        ::_exit(readAndPrint(setUp, nobody, proc));
    int status = 0;
    if (::waitpid(first, &status, 0) != first || !WIFEXITED(status))
        return failed("the reader did not end");
    return WEXITSTATUS(status);
}
