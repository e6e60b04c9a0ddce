// The cost of turning the output of `docker ps -a` (the listing's JSON template) into grouped
// projects, against the wall time of one real such call on this machine. Target: for 1,000 containers the
// parse and grouping cost stays under 5% of the call that lists them.
#include "engine/Docker.h"
#include "engine/Listings.h"
#include "platform/PreparedProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

// `count` container lines made from lines recorded from the real client, with unique names and
// identifiers and one compose project per twenty containers, as the client prints them (UTF-8).
QByteArray listing(int count)
{
    QByteArray recorded;
    for (const char* name : {"/engine/ps-recorded.ndjson", "/engine/ps-names.ndjson"}) {
        QFile file(QStringLiteral(VOSKEL_FIXTURES) + QLatin1StringView(name));
        if (file.open(QIODevice::ReadOnly))
            recorded += file.readAll();
    }
    const QList<QByteArray> lines = recorded.split('\n');
    QList<QByteArray> usable;
    for (const QByteArray& line : lines)
        if (!line.trimmed().isEmpty())
            usable << line;
    QByteArray text;
    for (int i = 0; i < count && !usable.isEmpty(); ++i) {
        QByteArray line = usable[i % usable.size()];
        line.replace("\"Names\":\"", "\"Names\":\"c" + QByteArray::number(i) + "-");
        line.replace("\"ID\":\"", "\"ID\":\"" + QByteArray::number(i, 16) + "x");
        const QByteArray project = "shop" + QByteArray::number(i / 20);
        line.replace("project=vskrecshop", "project=" + project);
        line.replace("project\":\"vskrecshop\"", "project\":\"" + project + '"');
        text += line + '\n';
    }
    return text;
}

// What the application does with the client's output: decode it, read the containers, group them.
qsizetype parseAndGroup(const QByteArray& output)
{
    const QString text = Platform::decodeUtf8Strict(output);
    const QList<Container> containers = Docker::parseContainers(text, std::nullopt);
    return Docker::group(containers).size() + Docker::ungrouped(containers).size();
}

void listAndGroup(benchmark::State& state)
{
    const QByteArray output = listing(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(parseAndGroup(output));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(listAndGroup)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

double medianMs(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Stopped containers made only so that a real listing holds as many containers as the parsed one,
// labelled as compose labels them; removed again at the end.
class BenchContainers {
public:
    explicit BenchContainers(int count)
    {
        const QString prefix = QStringLiteral("vskbench%1").arg(QCoreApplication::applicationPid());
        std::mutex lock;
        std::atomic<int> next{0};
        std::vector<std::thread> workers;
        for (int w = 0; w < 8; ++w)
            workers.emplace_back([&] {
                for (int i = next++; i < count; i = next++) {
                    const QString project = QStringLiteral("%1-p%2").arg(prefix).arg(i / 20);
                    const QString dir = QStringLiteral("/tmp/") + project;
                    QStringList args{QStringLiteral("create"), QStringLiteral("--name"),
                                     QStringLiteral("%1-%2").arg(prefix).arg(i)};
                    for (const QString& label :
                         {QStringLiteral("com.docker.compose.project=") + project,
                          QStringLiteral("com.docker.compose.service=s%1").arg(i % 20),
                          QStringLiteral("com.docker.compose.project.working_dir=") + dir,
                          QStringLiteral("com.docker.compose.project.config_files=") + dir + "/compose.yaml",
                          QStringLiteral("com.docker.compose.container-number=1"),
                          QStringLiteral("com.docker.compose.oneoff=False"),
                          QStringLiteral("com.docker.compose.depends_on="),
                          QStringLiteral("com.docker.compose.version=2.26.1"),
                          QStringLiteral("com.docker.compose.config-hash=%1")
                              .arg(i, 64, 16, QLatin1Char('0'))})
                        args << QStringLiteral("--label") << label;
                    args << QStringLiteral("voskel-test/busybox:latest") << QStringLiteral("true");
                    const Platform::Capture made = Docker::capture(args);
                    std::lock_guard guard(lock);
                    if (made.status == 0)
                        m_ids << made.out.trimmed();
                    else if (m_error.isEmpty())
                        m_error = made.err.trimmed();
                }
            });
        for (std::thread& worker : workers)
            worker.join();
    }

    ~BenchContainers()
    {
        for (qsizetype i = 0; i < m_ids.size(); i += 200)
            Docker::capture(QStringList{QStringLiteral("rm"), QStringLiteral("-f")} + m_ids.mid(i, 200));
    }

    qsizetype size() const { return m_ids.size(); }
    const QString& error() const { return m_error; }

private:
    QStringList m_ids;
    QString m_error;
};

struct Call {
    double ms = 0;
    qsizetype listed = 0;
    QString output;
};

// The median of several real listings; none when the client fails.
std::optional<Call> timeRealListing()
{
    std::vector<double> samples;
    Call call;
    for (int i = 0; i < 7; ++i) {
        QElapsedTimer timer;
        timer.start();
        const Platform::Capture result = Docker::capture(Docker::containerListingArgs());
        samples.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (result.status != 0) {
            std::printf("`docker ps` failed: %s\n", qPrintable(result.err.trimmed()));
            return std::nullopt;
        }
        call.output = result.out;
    }
    call.ms = medianMs(samples);
    call.listed = Docker::ndjson(call.output).size();
    return call;
}

double timeParse(const QByteArray& output)
{
    std::vector<double> samples;
    for (int i = 0; i < 51; ++i) {
        QElapsedTimer timer;
        timer.start();
        benchmark::DoNotOptimize(parseAndGroup(output));
        samples.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return medianMs(samples);
}

// Measures both sides in this run and prints the ratio: against the engine as it stands, and
// against a listing that really holds 1,000 more containers (the call whose output is parsed).
// VOSKEL_BENCH_ENGINE_CONTAINERS sets how many are made; 0 makes none.
void printRatio()
{
    const double parse = timeParse(listing(1000));
    std::printf("\nparse + group of 1,000 recorded containers: %.3f ms (median of 51)\n", parse);

    const auto asItStands = timeRealListing();
    if (!asItStands)
        return;
    std::printf("one real `docker ps -a`, %lld containers listed: %.2f ms (median of 7); ratio "
                "%.2f%%\n",
                static_cast<long long>(asItStands->listed), asItStands->ms, 100.0 * parse / asItStands->ms);

    bool ok = false;
    const int wanted = qEnvironmentVariableIntValue("VOSKEL_BENCH_ENGINE_CONTAINERS", &ok);
    const int count = ok ? wanted : 1000;
    if (count <= 0)
        return;
    const BenchContainers made(count);
    if (made.size() < count) {
        std::printf("could make only %lld of %d containers: %s\n", static_cast<long long>(made.size()), count,
                    qPrintable(made.error()));
        return;
    }
    const auto loaded = timeRealListing();
    if (!loaded)
        return;
    const double parseReal = timeParse(loaded->output.toUtf8());
    std::printf("one real `docker ps -a`, %lld containers listed: %.2f ms (median of 7)\n",
                static_cast<long long>(loaded->listed), loaded->ms);
    std::printf("parse + group of that real output: %.3f ms\n", parseReal);
    std::printf("ratio for 1,000 containers: %.2f%% (target under 5%%)\n", 100.0 * parse / loaded->ms);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printRatio();
    return 0;
}
