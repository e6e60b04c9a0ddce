// Stands in for a running Voskel that holds the single-instance lock in <folder> while a thread of it
// looks at <path>, a name on a stalled mount, and is held there in the kernel:
//   voskel_instance_holder <folder> <path> wait   then waits, for good, to be killed
//   voskel_instance_holder <folder> <path> end    then ends as the way out does past its time
// Prints "ready" once the lock is held and the thread is on its way into the mount.
#include "app/SingleInstance.h"
#include "app/VoskelApp.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <sys/stat.h>
#include <thread>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4 || (args[3] != u"wait" && args[3] != u"end")) {
        std::fprintf(stderr, "usage: voskel_instance_holder <folder> <path> wait|end\n");
        return 2;
    }
    SingleInstance instance(args[1]);
    if (instance.claim(0) != SingleInstance::Role::first) {
        std::printf("the lock is someone else's\n");
        return 3;
    }
    const QByteArray looked = QFile::encodeName(args[2]);
    std::thread([looked] {
        struct stat seen {};
        ::stat(looked.constData(), &seen);
    }).detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::printf("ready\n");
    std::fflush(stdout);
    if (args[3] == u"end")
        VoskelApp::endAtOnce(instance, 0);
    return app.exec();
}
