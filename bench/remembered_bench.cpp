// The window's idle cost and resident memory with many remembered compose projects, on the offscreen
// platform.
//
// On the local engine, each setup in a process of its own, since resident memory that grew does not
// shrink back: the window shown with no remembered project, and with 500 (VOSKEL_BENCH_REMEMBERED sets how
// many), half of them in folders of their own that hold a compose file and half naming folders that are
// gone, all on the runtime the window shows. Once the first listing is shown and a few seconds have
// settled, the application's own processor time over a quiet minute (VOSKEL_BENCH_IDLE_SECONDS shortens
// it) as a share of one core, that of its look servers, and its resident memory at the end. What others
// start and stop on a shared engine moves these figures from run to run.
//
// On a scripted engine, where nothing else moves: the window's own work on the GUI thread for a poll
// that changes one container's status and for one that changes nothing (medians of 101), and the
// application's processor time for one round of looks at the projects' folders, as the window makes every
// few seconds, with those projects remembered and without.
// Target: with them, each figure at most 1.2 times the figure without (flat in remembered projects).
#include "app/VoskelApp.h"
#include "app/design/Fonts.h"
#include "app/design/Theme.h"
#include "app/parts/Preferences.h"
#include "app/shell/ContentView.h"
#include "app/shell/Scenes.h"
#include "engine/Docker.h"
#include "engine/ProjectRegistry.h"
#include "platform/Pools.h"
#include "platform/ProcessRunner.h"
#include "platform/Settings.h"
#include "screens/ProjectsContent.h"
#include "screens/ProjectsView.h"
#include "store/AppStore.h"
#include "store/ScriptedEngine.h"
#include "toolchain/ToolchainStore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Processor time, in seconds, of the look servers this process runs, each under a keeper of its own:
// they live as long as it does, so the children's figure (of those that ended) never holds them.
double lookServerSeconds()
{
    struct Entry {
        QByteArray parent;
        bool looker = false;
        double ticks = 0;
    };
    QHash<QByteArray, Entry> processes;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        if (close < 0)
            continue;
        // After the name: state, parent, ... utime is the 14th field and stime the 15th of the line.
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() > 12)
            processes.insert(pid.toLatin1(), {fields[1], line.left(close).endsWith("(voskel-look"),
                                              fields[11].toDouble() + fields[12].toDouble()});
    }
    const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
    double ticks = 0;
    for (auto it = processes.cbegin(); it != processes.cend(); ++it) {
        if (!it->looker)
            continue;
        QByteArray above = it->parent;
        for (int depth = 0; depth < 4 && !above.isEmpty() && above != self; ++depth)
            above = processes.value(above).parent;
        if (above == self)
            ticks += it->ticks;
    }
    return ticks / double(sysconf(_SC_CLK_TCK));
}

double residentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0) : 0;
}

void runFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

int idleSeconds()
{
    const int seconds = qEnvironmentVariableIntValue("VOSKEL_BENCH_IDLE_SECONDS");
    return seconds > 0 ? seconds : 60;
}

// `count` remembered projects on `runtime`, every other one in a folder of its own under `root` that
// holds a compose file, the others naming a folder that is not there.
ProjectRegistry remembered(int count, const QString& runtime, const QString& root)
{
    ProjectRegistry registry;
    QList<KnownProject>& list = registry.byRuntime[runtime];
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("remembered-%1").arg(i, 4, 10, QLatin1Char('0'));
        const QString folder = QDir(root).filePath(name);
        if (i % 2 == 0) {
            QDir().mkpath(folder);
            QFile compose(folder + QStringLiteral("/compose.yaml"));
            if (compose.open(QIODevice::WriteOnly))
                compose.write("services:\n  app:\n    image: voskel-test/busybox:latest\n");
        }
        list.append({name, folder, {QStringLiteral("app")}});
    }
    return registry;
}

// One setup: prints "<cpu share %> <look servers share %> <resident MB> <projects listed>".
int runSetup(int count)
{
    QTemporaryDir root;
    const Platform::Capture current = Docker::capture({QStringLiteral("context"), QStringLiteral("show")});
    const QString runtime = current.out.trimmed();
    if (current.status != 0 || runtime.isEmpty()) {
        std::fprintf(stderr, "docker context show failed: %s\n", qPrintable(current.err));
        return 1;
    }
    std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    if (count > 0)
        remembered(count, runtime, root.path()).save(*settings);

    int status = 0;
    {
        registerBundledFonts();
        Theme::instance().install(true);
        VoskelApp voskel(std::move(settings));
        AppStore& store = voskel.store();
        voskel.scenes().showMainWindow();
        QElapsedTimer waiting;
        waiting.start();
        while ((!store.listed() || store.projects().size() < count) && waiting.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        // The first looks at the folders and the first disk measurement come and go.
        runFor(8000);
        const double before = cpuSeconds();
        const double lookersBefore = lookServerSeconds();
        QElapsedTimer idle;
        idle.start();
        runFor(idleSeconds() * 1000);
        const double wall = double(idle.nsecsElapsed()) / 1e9;
        std::printf("%.4f %.4f %.1f %lld\n", 100 * (cpuSeconds() - before) / wall,
                    100 * (lookServerSeconds() - lookersBefore) / wall, residentMegabytes(),
                    static_cast<long long>(store.projects().size()));
        std::fflush(stdout);
        if (count > 0 && store.projects().size() < count)
            status = 1;
    }
    Platform::endRunningChildren();
    Platform::Pools::drain();
    return status;
}

double threadMillis()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// The window over a scripted engine that answers at once: four running projects of two containers each
// on one runtime, and `count` remembered projects beside them.
struct ScriptedWindow {
    const Runtime runtime = Runtime::context(QStringLiteral("scripted"));
    QTemporaryDir root;
    std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    std::shared_ptr<StoreTesting::ScriptedEngine> engine = std::make_shared<StoreTesting::ScriptedEngine>();
    StoreTesting::FakeClock clock;
    std::unique_ptr<AppStore> store;
    std::unique_ptr<ToolchainStore> toolchain;
    std::unique_ptr<Preferences> preferences;
    std::unique_ptr<ContentView> window;

    explicit ScriptedWindow(int count)
    {
        remembered(count, runtime.id(), root.path()).save(*settings);
        engine->setListing(runtime, {running(false), {}, {}});
        store = std::make_unique<AppStore>(*settings, engine, clock.clock());
        store->setRuntimes({RuntimeEntry{runtime, QStringLiteral("tcp://127.0.0.1:2375"), true, true}});
        store->setRuntime(runtime);
        toolchain = std::make_unique<ToolchainStore>(
            *settings,
            ToolchainStore::Host{[] { return false; }, [] { return QDateTime::currentDateTimeUtc(); }});
        preferences = std::make_unique<Preferences>(*settings);
        preferences->setCategory(Category::projects);
        window = std::make_unique<ContentView>(*store, *toolchain, *preferences);
        window->show();
        for (int i = 0; i < 5; ++i)
            poll();
        content()->waitForFolders();
    }

    QList<Container> running(bool changed) const
    {
        QList<Container> containers;
        for (int i = 0; i < 8; ++i) {
            Container c;
            c.id = QStringLiteral("%1c0ffee").arg(i);
            c.name = QStringLiteral("live%1-web-%2").arg(i / 2).arg(i % 2);
            c.image = QStringLiteral("voskel-test/busybox:latest");
            c.state = QStringLiteral("running");
            c.status = changed && i == 0 ? QStringLiteral("Up 4 minutes") : QStringLiteral("Up 3 minutes");
            const QString project = QStringLiteral("live%1").arg(i / 2);
            c.labels = {{Docker::projectLabel, project},
                        {Docker::serviceLabel, QStringLiteral("web%1").arg(i % 2)},
                        {Docker::workingDirLabel, QDir(root.path()).filePath(project)}};
            c.runtime = runtime;
            containers << c;
        }
        return containers;
    }

    ProjectsContent* content() const { return window->findChild<ProjectsView*>()->content(); }

    // One poll on the GUI thread, with whatever it queued for the next turn of the event loop.
    double poll()
    {
        const double before = threadMillis();
        QCoro::waitFor(store->refresh(false));
        QApplication::processEvents();
        QApplication::sendPostedEvents();
        return threadMillis() - before;
    }
};

struct Scripted {
    double changed = 0;   // ms on the GUI thread
    double unchanged = 0; // ms on the GUI thread
    double looks = 0;     // ms of the process, its pool included
};

Scripted scripted(int count)
{
    ScriptedWindow w(count);
    constexpr int rounds = 101;
    Scripted figures;
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        w.engine->setListing(w.runtime, {w.running(i % 2 == 0), {}, {}});
        samples.push_back(w.poll());
    }
    figures.changed = median(samples);
    samples.clear();
    for (int i = 0; i < rounds; ++i)
        samples.push_back(w.poll());
    figures.unchanged = median(samples);
    samples.clear();
    for (int i = 0; i < 11; ++i) {
        const double before = cpuSeconds();
        w.content()->checkFolders();
        w.content()->waitForFolders();
        samples.push_back(1000 * (cpuSeconds() - before));
    }
    figures.looks = median(samples);
    return figures;
}

struct Figures {
    double cpu = 0;
    double lookers = 0;
    double resident = 0;
    long long projects = 0;
    bool ok = false;
};

Figures measure(int count)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--setup"), QString::number(count)});
    Figures figures;
    if (!child.waitForFinished((idleSeconds() + 120) * 1000))
        return figures;
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    if (fields.size() != 4)
        return figures;
    figures = {fields[0].toDouble(), fields[1].toDouble(), fields[2].toDouble(), fields[3].toLongLong(),
               child.exitCode() == 0};
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 3 && arguments.at(1) == QStringLiteral("--setup"))
        return runSetup(arguments.at(2).toInt());

    const int count = qEnvironmentVariableIsSet("VOSKEL_BENCH_REMEMBERED")
                          ? qEnvironmentVariableIntValue("VOSKEL_BENCH_REMEMBERED")
                          : 500;
    registerBundledFonts();
    Theme::instance().install(true);
    const Scripted quiet = scripted(0);
    const Scripted busy = scripted(count);
    const auto ratio = [](double with, double without) { return without > 0 ? with / without : 0.0; };
    std::printf(
        "remembered projects, scripted engine: a poll that changes a status takes %.3f ms without any, "
        "%.3f ms with %d (%.2f); one that changes nothing %.3f ms, %.3f ms (%.2f); a round of looks at "
        "the folders %.2f ms, %.2f ms (%.2f) (target <= 1.2 each)\n",
        quiet.changed, busy.changed, count, ratio(busy.changed, quiet.changed), quiet.unchanged,
        busy.unchanged, ratio(busy.unchanged, quiet.unchanged), quiet.looks, busy.looks,
        ratio(busy.looks, quiet.looks));
    std::fflush(stdout);

    const Figures none = measure(0);
    const Figures many = measure(count);
    if (!none.ok || !many.ok) {
        std::fprintf(stderr, "remembered projects: a setup did not finish (none %d, %d remembered %d)\n",
                     int(none.ok), count, int(many.ok));
        return 1;
    }
    std::printf("remembered projects: idle over %d s without any: the application %.3f %% of a core, its "
                "look servers %.3f %%, resident %.1f MB\n",
                idleSeconds(), none.cpu, none.lookers, none.resident);
    std::printf("remembered projects: with %d (%lld listed, half in folders of their own): the application "
                "%.3f %% of a core, its look servers %.3f %%, resident %.1f MB\n",
                count, many.projects, many.cpu, many.lookers, many.resident);
    std::printf("remembered projects: with / without = %.2f for the application's idle, %.2f with its look "
                "servers, %.2f for resident memory (target <= 1.2 each)\n",
                ratio(many.cpu, none.cpu), ratio(many.cpu + many.lookers, none.cpu + none.lookers),
                ratio(many.resident, none.resident));
    Platform::endRunningChildren();
    Platform::Pools::drain();
    return 0;
}
