// Stands in for the application where a test has to kill it: the subreaper of what it starts, as the
// application is, it starts one child the way the application does and waits, for good, to be killed.
//   voskel_child_holder run <script>      `sh -c <script>` run to its end on a background pool thread
//   voskel_child_holder stream <script>   the same streamed, as a window's sheet runs it; "finished"
//                                         on standard output once the sheet would show its end
//   voskel_child_holder compose <folder>  compose reading the project in <folder>, as a plan does
//   voskel_child_holder then <script> <script>   the first run to its end, then the second, on a pool
//                                                thread
// With a path after the first three, a thread of its own also looks at that path, as a folder check
// does: on a stalled mount it is held in the kernel, and holds the process's descriptors open past a kill.
#include "engine/Compose.h"
#include "platform/Foundlings.h"
#include "platform/Pools.h"
#include "platform/ProcessRunner.h"
#include "platform/StreamingProcess.h"

#include <QCoreApplication>
#include <QFile>
#include <QtConcurrent/QtConcurrentRun>

#include <cstdio>
#include <sys/stat.h>
#include <thread>

namespace {

Platform::PreparedProcess shell(const QString& script)
{
    Platform::PreparedProcess prepared;
    prepared.program = QStringLiteral("/bin/sh");
    prepared.arguments = {QStringLiteral("-c"), script};
    return prepared;
}

} // namespace

int main(int argc, char** argv)
{
    // As the application: what a command leaves behind comes back here.
    Platform::becomeSubreaper();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3 && args.size() != 4) {
        std::fprintf(stderr, "usage: voskel_child_holder run|stream|compose <script or folder> [<path>]\n"
                             "       voskel_child_holder then <script> <script>\n");
        return 2;
    }
    if (args.size() == 4 && args[1] != u"then") {
        const QByteArray looked = QFile::encodeName(args[3]);
        std::thread([looked] {
            struct stat seen {};
            ::stat(looked.constData(), &seen);
        }).detach();
    }
    const QString mode = args[1];
    const QString what = args[2];
    Platform::StreamingProcess streamed;
    if (mode == u"run") {
        (void)QtConcurrent::run(Platform::Pools::utility(), [what] { Platform::runToEnd(shell(what)); });
    } else if (mode == u"stream") {
        QObject::connect(&streamed, &Platform::StreamingProcess::finished, [] {
            std::fputs("finished\n", stdout);
            std::fflush(stdout);
        });
        if (const auto failure = streamed.start(shell(what))) {
            std::fprintf(stderr, "%s\n", qPrintable(*failure));
            return 1;
        }
    } else if (mode == u"then" && args.size() == 4) {
        (void)QtConcurrent::run(Platform::Pools::utility(), [what, next = args[3]] {
            Platform::runToEnd(shell(what));
            Platform::runToEnd(shell(next));
        });
    } else if (mode == u"compose") {
        (void)QtConcurrent::run(Platform::Pools::utility(), [what] {
            try {
                Docker::composeProject(what);
            } catch (...) {
            }
        });
    } else {
        return 2;
    }
    return app.exec();
}
