// What folders that stall cost, against the local engine, with a mount of the bench's own that stalls
// every look of this process (and of its look servers) at a name inside it, as a network share whose
// server went away does. Each figure is a ratio measured in this run:
//
// - `--dump` and `--dump all` with 16, 60, 100 and 200 compose projects whose folders stall, each against
//   the same dump of the same projects with their folders gone (which answer at once): the engine's own
//   time. Target: the difference is at most about one folder's ten seconds, however many stall.
// - The window's listing with 100 such projects and their folders looked at every ten seconds, as the
//   projects screen does: the longest gap between two listings against the two-second beat. Target: 1.
// - The look servers left waiting after looks at N distinct stalled paths, on one mount and spread over
//   many, against N. Target: at most 8 on one mount and 24 in all, however large N is.
// - The look server's peak resident size reading a megabyte of short flow entries, and of short maps,
//   against its bound of 128 MiB. Target: at most 1.
//
// Needs the right to mount (root here) and the engine; VOSKEL_BENCH_STALLS sets the counts of stalled
// projects ("16,60,100,200"), VOSKEL_BENCH_LISTING_SECONDS the listing's time (40).
#include "diagnostics/DumpAll.h"
#include "diagnostics/RuntimeDump.h"
#include "engine/ProjectLooks.h"
#include "platform/DiskLook.h"
#include "platform/FolderLooks.h"
#include "platform/KeeperProgram.h"
#include "platform/LookServers.h"
#include "platform/PreparedProcess.h"
#include "platform/Settings.h"
#include "screens/FolderChecks.h"
#include "store/AppStore.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <QCoroTask>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Until the servers left at stalled folders have ended.
void settle()
{
    const QDeadlineTimer limit(30000);
    while (Platform::lookServerCount().abandoned > 0 && !limit.hasExpired())
        QThread::msleep(50);
}

// A folder whose every name inside stalls this process's looks (voskel_stalling_mount), while the
// object holds it mounted; other processes find nothing there, nor does this one once it is released.
class StallingMount {
public:
    StallingMount()
    {
        QDir().mkpath(m_dir.filePath(QStringLiteral("stalled")));
        stall();
    }
    ~StallingMount() { release(); }

    // Mounts it again, after release(): a stall afresh, with nothing of the last one left.
    bool stall()
    {
        release();
        settle();
        m_mount = std::make_unique<QProcess>();
        m_mount->setProcessChannelMode(QProcess::MergedChannels);
        m_mount->start(
            QStringLiteral(VOSKEL_STALLING_MOUNT),
            {m_dir.filePath(QStringLiteral("stalled")), QString::number(QCoreApplication::applicationPid())});
        QByteArray said;
        const QDeadlineTimer limit(10000);
        while (!said.contains('\n') && m_mount->state() != QProcess::NotRunning && !limit.hasExpired()) {
            m_mount->waitForReadyRead(100);
            said += m_mount->readAll();
        }
        m_ready = said.startsWith("ready");
        if (!m_ready)
            std::fprintf(stderr, "no stalling mount: %s\n", said.constData());
        return m_ready;
    }

    // Unmounted: the servers held there end.
    void release()
    {
        if (!m_mount)
            return;
        m_mount->closeWriteChannel();
        if (!m_mount->waitForFinished(10000))
            m_mount->kill();
        m_mount->waitForFinished(5000);
        m_mount.reset();
    }

    bool ready() const { return m_ready; }
    QString path(int i) const { return m_dir.filePath(QStringLiteral("stalled/p%1").arg(i)); }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_mount;
    bool m_ready = false;
};

int docker(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("docker"), arguments);
    process.waitForFinished(60000);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// `count` compose projects made on the engine, each one stopped container whose folder stalls; removed
// again with the object.
class StalledProjects {
public:
    StalledProjects(int count, const StallingMount& mount)
    {
        static int made = 0;
        const QString prefix = QStringLiteral("vskbench%1x%2").arg(::getpid()).arg(++made);
        for (int i = 0; i < count; ++i) {
            const QString project = prefix + QStringLiteral("-") + QString::number(i);
            m_names << project + QStringLiteral("-web-1");
            docker({QStringLiteral("create"), QStringLiteral("--name"), m_names.last(),
                    QStringLiteral("--network"), QStringLiteral("none"), QStringLiteral("--label"),
                    QStringLiteral("com.docker.compose.project=") + project, QStringLiteral("--label"),
                    QStringLiteral("com.docker.compose.service=web"), QStringLiteral("--label"),
                    QStringLiteral("com.docker.compose.project.working_dir=") + mount.path(i),
                    QStringLiteral("voskel-test/busybox:latest"), QStringLiteral("true")});
        }
    }
    ~StalledProjects()
    {
        for (qsizetype i = 0; i < m_names.size(); i += 50)
            docker(QStringList{QStringLiteral("rm"), QStringLiteral("-f")} + m_names.mid(i, 50));
    }

private:
    QStringList m_names;
};

std::map<std::string, double>& figures()
{
    static std::map<std::string, double> kept;
    return kept;
}

QList<int> stalledCounts()
{
    const QString asked = qEnvironmentVariable("VOSKEL_BENCH_STALLS", QStringLiteral("16,60,100,200"));
    QList<int> counts;
    for (const QString& count : asked.split(u',', Qt::SkipEmptyParts))
        counts << count.toInt();
    return counts;
}

double secondsOf(const std::function<void()>& run)
{
    QElapsedTimer clock;
    clock.start();
    run();
    return double(clock.nsecsElapsed()) / 1e9;
}

double runDump()
{
    return secondsOf([] {
        QBuffer sink;
        sink.open(QIODevice::WriteOnly);
        QTextStream out(&sink);
        Diagnostics::runDump(out, std::nullopt);
    });
}

double runDumpAll()
{
    return secondsOf([] {
        QBuffer sink;
        sink.open(QIODevice::WriteOnly);
        QTextStream out(&sink);
        QCoro::waitFor(Diagnostics::runDumpAll(out));
    });
}

double median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Each dump as a process of its own would meet the folders: stalled afresh, nothing left of an earlier
// look. Beside it the same dump with the mount gone, so that every folder answers at once (it is not
// there): the engine's own time, with the same containers, as strangers on the engine leave it now.
void dumps(benchmark::State& state)
{
    const int stalled = int(state.range(0));
    StallingMount mount;
    if (!mount.ready()) {
        state.SkipWithError("no stalling mount");
        return;
    }
    StalledProjects projects(stalled, mount);
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    // Once without the stall first, so that neither side meets the engine busy making the projects.
    mount.release();
    runDump();
    runDumpAll();
    double dump = 0;
    double all = 0;
    double dumpAlone = 0;
    double allAlone = 0;
    for (auto _ : state) {
        mount.stall();
        dump = runDump();
        mount.stall();
        all = runDumpAll();
        mount.release();
        settle();
        dumpAlone = median({runDump(), runDump(), runDump()});
        allAlone = median({runDumpAll(), runDumpAll(), runDumpAll()});
        state.SetIterationTime(dump + all);
    }
    state.counters["dump_s"] = dump;
    state.counters["dump_all_s"] = all;
    state.counters["dump_none_s"] = dumpAlone;
    state.counters["dump_all_none_s"] = allAlone;
    figures()["dump " + std::to_string(stalled)] = dump;
    figures()["dump all " + std::to_string(stalled)] = all;
    figures()["dump none " + std::to_string(stalled)] = dumpAlone;
    figures()["dump all none " + std::to_string(stalled)] = allAlone;
    qunsetenv("XDG_CONFIG_HOME");
}

// The look servers of this process still running, as /proc has them.
int serversRunning()
{
    int found = 0;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (line.contains("(voskel-look)") && fields.size() > 1 && fields[1].toLongLong() == ::getpid())
            ++found;
    }
    return found;
}

void serversLeft(benchmark::State& state)
{
    const int paths = int(state.range(0));
    const int mounts = int(state.range(1));
    settle();
    std::vector<std::unique_ptr<StallingMount>> stalling;
    for (int m = 0; m < mounts; ++m) {
        stalling.push_back(std::make_unique<StallingMount>());
        if (!stalling.back()->ready()) {
            state.SkipWithError("no stalling mount");
            return;
        }
    }
    const int before = serversRunning() - Platform::lookServerCount().idle;
    int left = 0;
    for (auto _ : state) {
        QList<Platform::PendingLook<bool>> looks;
        for (int i = 0; i < paths; ++i) {
            const QString path = stalling[size_t(i % mounts)]->path(i);
            looks << Platform::startFolderLook(path, Platform::Looks::exists(path), 2s);
        }
        for (const Platform::PendingLook<bool>& look : looks)
            look.wait(3s);
        QThread::msleep(300);
        left = serversRunning() - Platform::lookServerCount().idle - before;
    }
    state.counters["servers_left"] = left;
    figures()["servers left " + std::to_string(paths) + " paths on " + std::to_string(mounts) + " mounts"] =
        double(left) / paths;
    stalling.clear();
    settle();
}

// Reads one compose file with a look server of its own; its peak resident size, in bytes.
qint64 peakReading(const QByteArray& compose)
{
    QTemporaryDir root;
    QFile file(root.filePath(QStringLiteral("compose.yaml")));
    if (!file.open(QIODevice::WriteOnly))
        return -1;
    file.write(compose);
    file.close();
    QProcess server;
    server.start(Platform::lookServerProgram(),
                 {QStringLiteral("--parent"), QString::number(QCoreApplication::applicationPid())});
    if (!server.waitForStarted())
        return -1;
    const Platform::LookRequest<Docker::ComposeFileUses> request =
        Docker::Looks::composeUses(Docker::ComposeSource{{}, root.path(), {}, QStringLiteral("heavy")}, {});
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out.setVersion(Platform::Wire::version);
    out << quint64(1) << QByteArray(request.operation);
    server.write(Platform::framed(message + request.arguments));
    QByteArray reply;
    const QDeadlineTimer limit(60000);
    while (!limit.hasExpired() && server.state() == QProcess::Running &&
           (reply.size() < Platform::frameHeader ||
            reply.size() < Platform::frameHeader + Platform::frameLength(reply.constData()))) {
        server.waitForReadyRead(100);
        reply += server.readAllStandardOutput();
    }
    qint64 peak = -1;
    QFile status(QStringLiteral("/proc/%1/status").arg(server.processId()));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                peak = line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    server.closeWriteChannel();
    server.waitForFinished(5000);
    return peak;
}

void serverMemory(benchmark::State& state)
{
    const QByteArray entry = state.range(0) == 0 ? QByteArray("a,") : QByteArray("{a: b},");
    QByteArray compose = "services:\n  web:\n    image: app\n    labels: [";
    while (compose.size() < 1000 * 1000)
        compose += entry;
    compose += "a]\n";
    qint64 peak = 0;
    for (auto _ : state)
        peak = peakReading(compose);
    state.counters["peak_MiB"] = double(peak) / (1 << 20);
    figures()[std::string("server peak, ") + (state.range(0) == 0 ? "flow entries" : "maps")] =
        double(peak) / double(qint64(128) << 20);
}

// A `docker` of the bench's own in front of the real one, that notes when each listing of containers
// began.
class ListingLog {
public:
    ListingLog()
    {
        const QString real = QStandardPaths::findExecutable(QStringLiteral("docker"));
        QFile tool(m_bin.filePath(QStringLiteral("docker")));
        if (tool.open(QIODevice::WriteOnly)) {
            tool.write("#!/bin/sh\nfor a in \"$@\"; do [ \"$a\" = ps ] && { date +%s%N >> '" +
                       QFile::encodeName(log()) + "'; break; }; done\nexec '" + QFile::encodeName(real) +
                       "' \"$@\"\n");
            tool.close();
            tool.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        }
        Platform::setTestSearchPrefix(m_bin.path());
    }
    ~ListingLog() { Platform::setTestSearchPrefix(QString()); }

    QString log() const { return m_bin.filePath(QStringLiteral("listings.log")); }

    // The longest time between two listings begun after `from` seconds, in seconds.
    double longestGap(double from) const
    {
        QFile file(log());
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        std::vector<double> times;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.isEmpty())
                times.push_back(double(line.toLongLong()) / 1e9);
        std::sort(times.begin(), times.end());
        double gap = 0;
        for (size_t i = 1; i < times.size(); ++i)
            if (times[i - 1] - times.front() >= from)
                gap = std::max(gap, times[i] - times[i - 1]);
        return gap;
    }

private:
    QTemporaryDir m_bin;
};

void listing(benchmark::State& state)
{
    const int stalled = int(state.range(0));
    StallingMount mount;
    if (!mount.ready()) {
        state.SkipWithError("no stalling mount");
        return;
    }
    StalledProjects projects(stalled, mount);
    const int seconds = qEnvironmentVariableIntValue("VOSKEL_BENCH_LISTING_SECONDS") > 0
                            ? qEnvironmentVariableIntValue("VOSKEL_BENCH_LISTING_SECONDS")
                            : 40;
    double gap = 0;
    for (auto _ : state) {
        ListingLog log;
        const std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
        AppStore store(*settings);
        FolderChecks checks;
        QObject::connect(&store, &AppStore::containersChanged, &checks,
                         [&] { checks.look(store.projects()); });
        // As the projects screen looks at its folders.
        QTimer again;
        QObject::connect(&again, &QTimer::timeout, &checks, [&] { checks.lookAgain(store.projects()); });
        again.start(10s);
        store.setWindowVisible(true);
        store.start();
        QTimer::singleShot(std::chrono::seconds(seconds), qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
        gap = log.longestGap(5);
    }
    state.counters["longest_gap_s"] = gap;
    figures()["listing gap " + std::to_string(stalled)] = gap;
}

void printRatios()
{
    const auto& kept = figures();
    const auto value = [&](const std::string& key) {
        const auto found = kept.find(key);
        return found == kept.end() ? std::optional<double>() : std::optional<double>(found->second);
    };
    std::printf("\nFolders that stall, as ratios measured in this run:\n");
    const double limit = double(Platform::folderAnswerLimit.count()) / 1000;
    for (const int stalled : stalledCounts())
        for (const char* mode : {"dump", "dump all"}) {
            const auto took = value(std::string(mode) + " " + std::to_string(stalled));
            const auto alone = value(std::string(mode) + " none " + std::to_string(stalled));
            if (took && alone)
                std::printf("  --%-9s %3d folders stalled: %5.2f s, not stalled: %5.2f s; ratio %.2f, the "
                            "difference %.2f of one folder's limit\n",
                            mode, stalled, *took, *alone, *took / *alone, (*took - *alone) / limit);
        }
    for (const int stalled : {0, 100})
        if (const auto gap = value("listing gap " + std::to_string(stalled)))
            std::printf("  listing with %3d stalled folders: longest gap %.2f s, %.2f x the 2 s beat\n",
                        stalled, *gap, *gap / 2.0);
    for (const auto& [key, ratio] : kept)
        if (key.rfind("servers left", 0) == 0)
            std::printf("  %s: %.3f servers a path\n", key.c_str(), ratio);
    for (const auto& [key, ratio] : kept)
        if (key.rfind("server peak", 0) == 0)
            std::printf("  %s: %.3f of the 128 MiB bound\n", key.c_str(), ratio);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    for (const int stalled : stalledCounts())
        benchmark::RegisterBenchmark("dumps", dumps)
            ->Arg(stalled)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
    for (const int stalled : {0, 100})
        benchmark::RegisterBenchmark("listing", listing)
            ->Arg(stalled)
            ->Iterations(1)
            ->Unit(benchmark::kSecond);
    for (const auto& [paths, mounts] : std::vector<std::pair<int, int>>{{16, 1}, {120, 1}, {120, 15}})
        benchmark::RegisterBenchmark("serversLeft", serversLeft)
            ->Args({paths, mounts})
            ->Iterations(1)
            ->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("serverMemory", serverMemory)
        ->Arg(0)
        ->Arg(1)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    printRatios();
    Platform::giveUpLooks();
    return 0;
}
