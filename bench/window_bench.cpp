// The window's start-up and its idle cost, on the offscreen platform against the local engine.
//
// Start-up: from the program's start to the main window's first paint, and to the first paint that
// shows the engine's listing, beside one `docker ps -a` listing call measured in the same run.
// Target: the first listing within 2 times that one call.
//
// Idle: the application's own processor time (its threads, not its children) over a quiet minute with
// the window shown, as a share of one core, beside the time of the docker children it ran meanwhile,
// and the paints of the window in that minute. Target: below 0.5 % of a core. VOSKEL_BENCH_IDLE_SECONDS
// shortens the minute.
//
// A short command: one `docker --version` and one `/bin/true` through the runners with the window up, as
// the median wall time of 50 and the application's own processor time for each: what starting a child
// costs an application of the window's size.
//
// Idle with more projects: the same minute again with 30 more compose projects on the engine, each in a
// folder of its own with one running container, made before the minute and taken down after it; the
// minute starts once they are listed and the disk measurement that follows them came back.
// Target: they add at most half of the figure without them. VOSKEL_BENCH_PROJECTS sets how many (0:
// none, and no second minute).
#include "app/VoskelApp.h"
#include "app/design/Fonts.h"
#include "app/design/Theme.h"
#include "app/shell/ContentView.h"
#include "app/shell/Scenes.h"
#include "engine/Docker.h"
#include "engine/Listings.h"
#include "platform/Pools.h"
#include "platform/ProcessRunner.h"
#include "platform/Settings.h"
#include "store/AppStore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Started before main runs.
struct ProgramClock {
    QElapsedTimer timer;
    ProgramClock() { timer.start(); }
};
ProgramClock programClock;

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Watches the main window's paints: the first one, and the first after the listing arrived.
class PaintWatch : public QObject {
public:
    qint64 firstPaint = -1;
    qint64 listingShown = -1;
    qint64 listingArrivedAt = -1;
    bool listingArrived = false;
    qint64 paints = 0;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            if (qobject_cast<ContentView*>(widget->window())) {
                ++paints;

                const qint64 now = programClock.timer.elapsed();
                if (firstPaint < 0)
                    firstPaint = now;
                if (listingArrived && listingShown < 0)
                    listingShown = now;
            }
        }
        return false;
    }
};

double median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

void runFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Idle {
    double wall = 0;
    double own = 0;
    double children = 0;
    double lookers = 0;
    qint64 paints = 0;
};

// Processor time, in seconds, of the children still running that look at folders for the application:
// they live as long as it does, so the children's figure (of those that ended) never holds them.
double lookServerSeconds()
{
    double ticks = 0;
    const QString self = QString::number(QCoreApplication::applicationPid());
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        if (close < 0 || !line.left(close).endsWith("(voskel-look"))
            continue;
        // After the name: state, parent, ... utime is the 14th field and stime the 15th of the line.
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() > 12 && fields[1] == self.toLatin1())
            ticks += fields[11].toDouble() + fields[12].toDouble();
    }
    return ticks / double(sysconf(_SC_CLK_TCK));
}

// The application's own processor time over `seconds` with nothing asked of it.
Idle idleFor(int seconds, const PaintWatch& watch)
{
    // Let the disk-usage and statistics passes that a change brings settle before the minute starts.
    runFor(3000);
    const double ownBefore = cpuSeconds(RUSAGE_SELF);
    const double childrenBefore = cpuSeconds(RUSAGE_CHILDREN);
    const double lookersBefore = lookServerSeconds();
    const qint64 paintsBefore = watch.paints;
    QElapsedTimer idle;
    idle.start();
    runFor(seconds * 1000);
    return {double(idle.nsecsElapsed()) / 1e9, cpuSeconds(RUSAGE_SELF) - ownBefore,
            cpuSeconds(RUSAGE_CHILDREN) - childrenBefore, lookServerSeconds() - lookersBefore,
            watch.paints - paintsBefore};
}

// Median wall time and mean own processor time, in milliseconds, of `times` captures of `prepared`.
std::pair<double, double> shortCapture(const Platform::PreparedProcess& prepared, int times)
{
    std::vector<double> walls;
    const double ownBefore = cpuSeconds(RUSAGE_SELF);
    for (int i = 0; i < times; ++i) {
        QElapsedTimer call;
        call.start();
        const Platform::Capture done = Platform::capture(prepared);
        walls.push_back(double(call.nsecsElapsed()) / 1e6);
        if (done.status != 0)
            std::fprintf(stderr, "%s failed: %s\n", qPrintable(prepared.program), qPrintable(done.err));
    }
    return {median(walls), 1000 * (cpuSeconds(RUSAGE_SELF) - ownBefore) / times};
}

void printIdle(const char* what, const Idle& idle)
{
    std::printf(
        "idle%s over %.0f s: the application %.3f s = %.3f %% of a core (target < 0.5 %%); its docker "
        "children %.3f s = %.3f %%; application / children = %.2f; its look servers %.3f s = %.3f %%; "
        "paints of the window %lld\n",
        what, idle.wall, idle.own, 100 * idle.own / idle.wall, idle.children, 100 * idle.children / idle.wall,
        idle.children > 0 ? idle.own / idle.children : 0.0, idle.lookers, 100 * idle.lookers / idle.wall,
        static_cast<long long>(idle.paints));
}

// Compose projects of the bench's own, each in its own folder with one running container; taken down
// with their folders when it goes.
class ExtraProjects {
public:
    explicit ExtraProjects(int count)
    {
        const QString prefix = QStringLiteral("vbench%1-").arg(QCoreApplication::applicationPid());
        for (int i = 0; i < count; ++i) {
            const QString name = prefix + QString::number(i);
            const QString folder = m_root.filePath(name);
            QDir().mkpath(folder);
            QFile compose(folder + QStringLiteral("/compose.yaml"));
            if (!compose.open(QIODevice::WriteOnly))
                continue;
            compose.write("services:\n  app:\n    image: voskel-test/busybox:latest\n"
                          "    command: [\"sleep\", \"100000\"]\n    stop_signal: SIGKILL\n"
                          // No network of their own: the engine's address pools are few and shared.
                          "    network_mode: none\n");
            compose.close();
            const Platform::Capture up =
                Docker::capture({"compose", "-p", name, "up", "-d"}, std::nullopt, folder);
            if (up.status != 0)
                std::fprintf(stderr, "compose up of %s failed: %s\n", qPrintable(name), qPrintable(up.err));
            m_projects << std::pair{name, folder};
        }
    }
    ~ExtraProjects()
    {
        for (const auto& [name, folder] : std::as_const(m_projects))
            Docker::capture({"compose", "-p", name, "down", "--timeout", "0"}, std::nullopt, folder);
    }
    ExtraProjects(const ExtraProjects&) = delete;
    ExtraProjects& operator=(const ExtraProjects&) = delete;

    qsizetype size() const { return m_projects.size(); }

private:
    QTemporaryDir m_root;
    QList<std::pair<QString, QString>> m_projects;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    PaintWatch watch;
    app.installEventFilter(&watch);

    int status = 0;
    {
        // As the windowed start does it, on settings of its own so the user's stay untouched.
        registerBundledFonts();
        Theme::instance().install(true);
        VoskelApp voskel(Platform::Settings::inMemory());
        AppStore& store = voskel.store();
        // The first refresh's listings, whichever of them holds anything (the engine may have no container).
        for (const auto listed :
             {&AppStore::containersChanged, &AppStore::imagesChanged, &AppStore::volumesChanged})
            QObject::connect(&store, listed, &watch, [&] {
                if (!watch.listingArrived)
                    watch.listingArrivedAt = programClock.timer.elapsed();
                watch.listingArrived = true;
            });
        voskel.scenes().showMainWindow();

        QElapsedTimer waiting;
        waiting.start();
        while ((watch.firstPaint < 0 || watch.listingShown < 0) && waiting.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

        std::vector<double> calls;
        for (int i = 0; i < 5; ++i) {
            QElapsedTimer call;
            call.start();
            const Platform::Capture listed = Docker::capture(Docker::containerListingArgs());
            calls.push_back(double(call.nsecsElapsed()) / 1e6);
            if (listed.status != 0)
                std::fprintf(stderr, "docker ps failed: %s\n", qPrintable(listed.err));
        }
        const double ps = median(calls);
        // What the store asks the client before it has a first listing: the contexts, then the
        // containers, images and volumes of the shown one, one after the other.
        std::vector<double> sequences;
        for (int i = 0; i < 3; ++i) {
            QElapsedTimer sequence;
            sequence.start();
            for (const QStringList& args :
                 {QStringList{"context", "ls", "--format", "json"}, Docker::containerListingArgs(),
                  QStringList{"images", "--format", "json"}, Docker::volumeListingArgs()})
                Docker::capture(args);
            sequences.push_back(double(sequence.nsecsElapsed()) / 1e6);
        }
        const double calledInTurn = median(sequences);
        std::printf("start-up: first paint %lld ms, first listing shown %lld ms; one docker ps -a "
                    "%.1f ms (median of 5)\n",
                    static_cast<long long>(watch.firstPaint), static_cast<long long>(watch.listingShown), ps);
        if (watch.listingShown >= 0) {
            std::printf("start-up: first listing / one docker ps = %.2f (target <= 2)\n",
                        double(watch.listingShown) / ps);
            std::printf(
                "start-up: the four client calls made in turn before a first listing take %.1f ms; first "
                "listing / those calls = %.2f; from the listing's arrival to its paint %lld ms\n",
                calledInTurn, double(watch.listingShown) / calledInTurn,
                static_cast<long long>(watch.listingShown - watch.listingArrivedAt));
        } else
            status = 1;

        for (const Platform::PreparedProcess& prepared :
             {Docker::process({QStringLiteral("--version")}),
              Platform::PreparedProcess{QStringLiteral("/bin/true"), {}, {}, std::nullopt}}) {
            const auto [wall, own] = shortCapture(prepared, 50);
            std::printf("short command: %s %s takes %.2f ms (median of 50), of which the application's own "
                        "processor time %.3f ms\n",
                        qPrintable(prepared.program), qPrintable(prepared.arguments.join(u' ')), wall, own);
        }

        const int idleSeconds = qEnvironmentVariableIntValue("VOSKEL_BENCH_IDLE_SECONDS") > 0
                                    ? qEnvironmentVariableIntValue("VOSKEL_BENCH_IDLE_SECONDS")
                                    : 60;
        bool projectsSet = false;
        const int extra = qEnvironmentVariableIntValue("VOSKEL_BENCH_PROJECTS", &projectsSet);
        const Idle quiet = idleFor(idleSeconds, watch);
        printIdle("", quiet);
        if (!projectsSet || extra > 0) {
            const int count = projectsSet ? extra : 30;
            const qsizetype before = store.projects().size();
            ExtraProjects projects(count);
            QElapsedTimer listing;
            listing.start();
            while (store.projects().size() < before + projects.size() && listing.elapsed() < 60000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            // The disk measurement that follows so large a change (due every 30 s) takes longer than
            // the settling below; its arrival redraws the disk tile once. Waited for, so that the
            // minute holds the idle window and not its answer to the change.
            bool measured = false;
            const QMetaObject::Connection usage =
                QObject::connect(&store, &AppStore::usageChanged, &watch, [&measured] { measured = true; });
            QElapsedTimer measuring;
            measuring.start();
            while (!measured && measuring.elapsed() < 45000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            QObject::disconnect(usage);
            const Idle busier = idleFor(idleSeconds, watch);
            const QByteArray what = QStringLiteral(" with %1 more projects (%2 listed)")
                                        .arg(projects.size())
                                        .arg(store.projects().size() - before)
                                        .toUtf8();
            printIdle(what.constData(), busier);
            const double added = busier.own / busier.wall - quiet.own / quiet.wall;
            std::printf("idle: %lld more projects add %.3f %% of a core = %.2f of the figure without them "
                        "(target <= 0.5)\n",
                        static_cast<long long>(projects.size()), 100 * added,
                        quiet.own > 0 ? added / (quiet.own / quiet.wall) : 0.0);
        }
    }
    app.removeEventFilter(&watch);
    Platform::endRunningChildren();
    Platform::Pools::drain();
    return status;
}
