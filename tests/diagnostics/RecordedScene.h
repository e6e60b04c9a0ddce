#pragma once

#include "engine/FolderUsers.h"
#include "engine/Listings.h"
#include "engine/Runtime.h"
#include "engine/Stats.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <functional>

namespace DiagnosticsTest {

// Runs a mode into a text and gives back what it wrote, decoded as the UTF-8 it must be.
inline QString printed(const std::function<void(QTextStream&)>& mode)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QTextStream out(&buffer);
        mode(out);
    }
    const QString text = Platform::decodeUtf8Strict(buffer.data());
    EXPECT_FALSE(text.isEmpty() && !buffer.data().isEmpty()) << "not UTF-8";
    return text;
}

// The scene recorded by scripts/record-diagnostics-fixtures.sh, played back by fake tools: a compose
// project "dg7shop" (web running, worker exited) whose folder is a temporary one with a compose file,
// the loose containers "dg7-sidecar" (running, shares a volume with the project) and "dg7-failed"
// (exited 3). The client's one context points at a socket file the scene owns, and the processor
// count and memory are pinned, so every output is the same on every machine.
class RecordedScene : public testing::Test {
protected:
    RecordedScene()
    {
        QFile compose(workdir.filePath("compose.yaml"));
        EXPECT_TRUE(compose.open(QIODevice::WriteOnly));
        compose.write("services: {}\n");
        compose.close();
        QFile socket(socketPath());
        EXPECT_TRUE(socket.open(QIODevice::WriteOnly));
        socket.close();

        Docker::setAppleSocketPathForTesting(sockets.filePath("apple.sock")); // absent unless a test makes it
        Docker::setCoresForTesting(8);
        Docker::setPhysicalMemoryForTesting(16ULL << 30);

        answerDocker({"context", "ls", "--format", "json"},
                     recorded("context-ls.ndjson").replace("/var/run/docker.sock", socketPath()));
        answerDocker(Docker::containerListingArgs(), recorded("ps.ndjson"));
        answerDocker({"images", "--format", "json"}, recorded("images.ndjson"));
        answerDocker(Docker::volumeListingArgs(), recorded("volumes.ndjson"));
        answerDocker({"system", "df", "--format", "json"}, recorded("system-df.ndjson"));
        answerDocker({"system", "df", "-v", "--format", "json"}, recorded("system-df-v.json"));
        answerDocker(Docker::engineInfoQuery(), R"({"id":"DG7E:NGIN","root":"/var/lib/docker"})");
        answerDocker({"stats", "--no-stream", "--format", "json"}, recorded("stats.ndjson"));
        answerDocker(mountsQuery({"dg7-failed", "dg7-sidecar", "dg7shop-web-1", "dg7shop-worker-1"}),
                     recorded("mounts.txt"));
        // The scene bind-mounts nothing: each container prints its identifier alone.
        const QStringList ids{"85b7d104e7bd", "a5481fd809cb", "b67f53b8237a", "576f8fcfde31"};
        QString binds;
        for (const QString& id : ids)
            binds += "[\"" + id + "\"]\n";
        answerDocker(Docker::bindSourcesQuery(ids), binds);
        // Its volumes keep their data in the engine's own place.
        const QStringList volumes{"dg7-ext", "dg7-shared", "dg7shop_data"};
        QString options;
        for (const QString& volume : volumes)
            options += "[\"" + volume + "\",null]\n";
        answerDocker(Docker::volumeFoldersQuery(volumes), options);
        // The labels of the stopped ones, as the disk measurement asks the engine for them.
        answerDocker(QStringList{"inspect", "--type", "container",
                                 "85b7d104e7bd5e93639340f1cf0193ee323e0cd94ad9bf9f7d76ff38b1c59305",
                                 "576f8fcfde31f470e8e1a8fe98ce1036030a3dc5fea6c234b130df3c0f299377",
                                 "--format", R"({"id":{{json .Id}},"labels":{{json .Config.Labels}}})"},
                     recorded("container-labels.ndjson"));
        fakes.answer("docker", composeCheck(), "");
        fakes.answer("docker", {"compose", "-p", "dg7shop", "config", "--format", "json"},
                     recorded("compose-config.json"));
    }

    ~RecordedScene() override
    {
        Docker::setAppleSocketPathForTesting(QString());
        Docker::setCoresForTesting(std::nullopt);
        Docker::setPhysicalMemoryForTesting(std::nullopt);
    }

    // The check of the project's compose file, as its containers name it.
    QStringList composeCheck() const
    {
        return {"compose",
                "--project-directory",
                workdir.path(),
                "-f",
                workdir.filePath("compose.yaml"),
                "config",
                "-q"};
    }

    // A recorded file with the project's folder filled in.
    QString recorded(const QString& name) const
    {
        return TestSupport::fixture("diagnostics/recorded/" + name).replace("@WORKDIR@", workdir.path());
    }

    // Answers a docker command on every runtime the tests name: the client's current one and the
    // Apple socket (no "--context"), and the contexts "default" and "other".
    void answerDocker(const QStringList& args, const QString& out, const QString& err = {}, int status = 0)
    {
        fakes.answer("docker", args, out, err, status);
        for (const char* context : {"default", "other"})
            fakes.answer("docker", QStringList{"--context", context} + args, out, err, status);
    }

    static QStringList mountsQuery(const QStringList& names)
    {
        return QStringList{"inspect"} + names +
               QStringList{"--format",
                           R"({{.Name}}|{{range .Mounts}}{{if eq .Type "volume"}}{{.Name}},{{end}}{{end}})"};
    }

    QString socketPath() const { return sockets.filePath("docker.sock"); }

    // The golden file with the scene's own paths filled in.
    QString golden(const QString& name) const
    {
        return TestSupport::fixture("diagnostics/" + name)
            .replace("@WORKDIR@", workdir.path())
            .replace("@SOCKET@", socketPath());
    }

    // Compares line by line, so a failure names the first line that differs.
    void expectGolden(const QString& output, const QString& name) const
    {
        const QStringList want = golden(name).split('\n');
        const QStringList got = output.split('\n');
        for (qsizetype i = 0; i < std::min(want.size(), got.size()); ++i)
            ASSERT_EQ(got.at(i), want.at(i)) << name.toStdString() << " line " << i + 1;
        EXPECT_EQ(got.size(), want.size()) << name.toStdString() << "\n" << output.toStdString();
    }

    TestSupport::FakeTools fakes{{"docker", "container", "brew", "colima", "socktainer"}};
    QTemporaryDir workdir;
    QTemporaryDir sockets;
};

} // namespace DiagnosticsTest
