#pragma once

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

namespace DiagnosticsTest {

// A scene of its own on the real engine, removed again however the test ends: a running compose
// project (web running, worker exited) with a volume of its own holding 200,000 bytes, a second
// volume that a loose container outside the project mounts as well, and an external volume it
// borrows; beside it a loose container that exited with status 3.
class EngineScene {
public:
    EngineScene()
    {
        using TestSupport::docker;
        using TestSupport::uniqueName;
        project = uniqueName("shop");
        shared = uniqueName("shared");
        external = uniqueName("ext");
        sidecar = uniqueName("sidecar");
        failed = uniqueName("failed");
        dir = folder.path();

        QFile compose(QDir(dir).filePath("compose.yaml"));
        if (!compose.open(QIODevice::WriteOnly))
            ADD_FAILURE() << "cannot write the compose file";
        compose.write(QStringLiteral(R"(services:
  web:
    image: %1
    command: ["sh", "-c", "head -c 200000 /dev/zero > /data/part && mv /data/part /data/blob; sleep 600"]
    volumes: [data:/data, shared:/shared, ext:/ext]
    network_mode: none
  worker:
    image: %1
    command: ["true"]
    network_mode: none
volumes:
  data: {}
  shared:
    name: %2
  ext:
    name: %3
    external: true
)")
                          .arg(TestSupport::testImage(), shared, external)
                          .toUtf8());
        compose.close();

        expectDone(docker({"volume", "create", external}));
        expectDone(docker({"compose", "-p", project, "up", "-d"}, dir));
        docker({"compose", "-p", project, "wait", "worker"}, dir);
        expectDone(docker({"run", "-d", "--network", "none", "--name", sidecar, "-v", shared + ":/shared",
                           TestSupport::testImage(), "sleep", "600"}));
        docker(
            {"run", "--network", "none", "--name", failed, TestSupport::testImage(), "sh", "-c", "exit 3"});
        // The web container writes its file right after it starts, whole or not at all; the
        // measurement should see all of it.
        for (int i = 0; i < 300; ++i) {
            if (docker({"exec", project + "-web-1", "test", "-s", "/data/blob"}).status == 0)
                break;
            QThread::msleep(100);
        }
    }

    ~EngineScene()
    {
        using TestSupport::docker;
        docker({"compose", "-p", project, "down", "-v", "--remove-orphans", "-t", "0"}, dir);
        docker({"rm", "-f", sidecar, failed});
        docker({"volume", "rm", "-f", shared, external});
    }

    EngineScene(const EngineScene&) = delete;
    EngineScene& operator=(const EngineScene&) = delete;

    QString web() const { return project + "-web-1"; }
    QString worker() const { return project + "-worker-1"; }
    QString data() const { return project + "_data"; }

    // What the plan of deleting the project says: the project's own volume goes, the shared one
    // stays, the external one is not the project's to plan.
    QString expectedPlan() const
    {
        return "delete " + project + " would:\n" +                                 //
               "  remove container  " + web() + "\n" +                             //
               "  remove container  " + worker() + "\n" +                          //
               "  remove volume     " + data() + "  (200 KB)\n" +                  //
               "  KEEP volume       " + shared + "  — container " + sidecar + " mounts it\n" + //
               "  offer to trash    " + dir + "\n";
    }

    QString project, shared, external, sidecar, failed, dir;

private:
    static void expectDone(const Platform::Capture& done)
    {
        EXPECT_EQ(done.status, 0) << done.err.toStdString();
    }

    QTemporaryDir folder;
};

} // namespace DiagnosticsTest
