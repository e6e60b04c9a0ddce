// What the containers screen adds to a 2-second poll of 500 containers in which nothing changed: the
// GUI thread's processor time of a refresh with the screen shown, beside the same refresh of the store
// alone, measured in the same run on the offscreen platform. The engine answers instantly with the
// same listing every time, so what is timed is the application's own share. Target: the screen adds
// at most the store's own cost (ratio <= 1): an unchanged poll touches no widget.
#include "platform/Settings.h"
#include "screens/ContainersView.h"
#include "store/AppStore.h"
#include "store/ScriptedEngine.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

const Runtime colima = Runtime::context("colima");

double threadMillis()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// 500 containers as a user with many projects has them: one project per five containers, most running,
// some published ports, a few stopped with an error.
QList<Container> listing(int count, int changed = -1)
{
    QList<Container> containers;
    for (int i = 0; i < count; ++i) {
        Container c;
        c.id = QStringLiteral("%1").arg(i, 12, 16, QLatin1Char('0'));
        c.name = QStringLiteral("svc-%1").arg(i, 3, 10, QLatin1Char('0'));
        c.image = QStringLiteral("registry.example/team/app%1:latest").arg(i % 40);
        c.state = i % 7 == 0 ? QStringLiteral("exited") : QStringLiteral("running");
        c.status =
            c.state == u"running" ? QStringLiteral("Up 3 hours") : QStringLiteral("Exited (1) 2 hours ago");
        if (i == changed)
            c.status = QStringLiteral("Up 4 hours");
        if (i % 3 == 0)
            c.ports = QStringLiteral("0.0.0.0:%1->80/tcp").arg(8000 + i);
        const QString project = QStringLiteral("proj%1").arg(i / 5);
        c.labels = {{Docker::projectLabel, project},
                    {Docker::serviceLabel, QStringLiteral("s%1").arg(i % 5)},
                    {Docker::workingDirLabel, QStringLiteral("/srv/") + project}};
        c.runtime = colima;
        containers << c;
    }
    return containers;
}

// Paints, layout requests and update requests the application handles: what touching a widget costs.
class EventCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject* target, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type == QEvent::Paint || type == QEvent::LayoutRequest || type == QEvent::UpdateRequest) {
            ++count;
            if (qEnvironmentVariableIsSet("VOSKEL_BENCH_VERBOSE"))
                std::printf("  %s %s %d\n", target->metaObject()->className(),
                            qPrintable(target->objectName()), int(type));
        }
        return false;
    }
};

struct Bench {
    std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    std::shared_ptr<StoreTesting::ScriptedEngine> engine = std::make_shared<StoreTesting::ScriptedEngine>();
    StoreTesting::FakeClock clock;
    AppStore store{*settings, engine, clock.clock()};

    Bench()
    {
        engine->setListing(colima, {listing(500), {}, {}});
        store.setRuntimes({RuntimeEntry{colima, QStringLiteral("tcp://127.0.0.1:2375"), true, true}});
        store.setRuntime(colima);
        QCoro::waitFor(store.refresh(false));
    }

    // One refresh on the GUI thread, with whatever it queued for the next turn of the event loop.
    double refreshMillis()
    {
        const double before = threadMillis();
        QCoro::waitFor(store.refresh(false));
        QApplication::processEvents();
        QApplication::sendPostedEvents();
        return threadMillis() - before;
    }
};

double median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Bench b;
    constexpr int rounds = 101;

    std::vector<double> alone;
    for (int i = 0; i < rounds; ++i)
        alone.push_back(b.refreshMillis());

    // The store's own work when one container's status changed between two polls.
    std::vector<double> aloneChanged;
    for (int i = 0; i < rounds; ++i) {
        b.engine->setListing(colima, {listing(500, i % 2 == 0 ? 1 : -1), {}, {}});
        aloneChanged.push_back(b.refreshMillis());
    }
    b.engine->setListing(colima, {listing(500), {}, {}});
    b.refreshMillis();

    auto view = std::make_unique<ContainersView>(b.store);
    view->resize(1080, 800);
    view->show();
    // Let the first layout and paint settle before anything is counted.
    for (int i = 0; i < 5; ++i)
        b.refreshMillis();

    std::vector<double> shown;
    for (int i = 0; i < rounds; ++i)
        shown.push_back(b.refreshMillis());
    // Counted apart from the timing, which the counting itself would slow down.
    EventCounter counter;
    app.installEventFilter(&counter);
    for (int i = 0; i < rounds; ++i)
        b.refreshMillis();
    const int touched = counter.count;
    app.removeEventFilter(&counter);

    // For comparison: a poll in which one container's status changed, so the screen does redraw.
    std::vector<double> oneChanged;
    for (int i = 0; i < rounds; ++i) {
        b.engine->setListing(colima, {listing(500, i % 2 == 0 ? 1 : -1), {}, {}});
        oneChanged.push_back(b.refreshMillis());
    }

    const double store = median(alone);
    const double screen = median(shown);
    const double added = std::max(0.0, screen - store);
    std::printf("unchanged refresh of %lld containers, GUI-thread processor time (median of %d):\n",
                static_cast<long long>(b.store.containers().size()), rounds);
    std::printf("  store alone:              %.3f ms\n", store);
    std::printf("  with the containers screen: %.3f ms\n", screen);
    std::printf("  added by the screen: %.3f ms, ratio to the store's own %.2f (target <= 1)\n", added,
                store > 0 ? added / store : 0.0);
    std::printf("  paints, layout and update requests during the %d unchanged refreshes: %d\n", rounds,
                touched);
    const double storeChanged = median(aloneChanged);
    const double screenChanged = median(oneChanged);
    std::printf("one container's status changed between polls:\n");
    std::printf("  store alone:              %.3f ms\n", storeChanged);
    std::printf("  with the containers screen: %.3f ms (added %.3f ms, ratio %.2f)\n", screenChanged,
                screenChanged - storeChanged,
                storeChanged > 0 ? (screenChanged - storeChanged) / storeChanged : 0.0);

    // Where the time goes, for whoever has to bring it down again.
    const auto timed = [&](auto&& work) {
        std::vector<double> samples;
        for (int i = 0; i < rounds; ++i) {
            const double before = threadMillis();
            work();
            samples.push_back(threadMillis() - before);
        }
        return median(samples);
    };
    ContainersContent* content = view->content();
    std::printf("  matching and sorting the listing: %.3f ms\n",
                timed([&] { return ContainersContent::sorted(b.store.matchingContainers()).size(); }));
    std::printf("  the screen's pass over unchanged cards: %.3f ms\n", timed([&] { content->refresh(); }));
    return 0;
}
