// What a look at a project's folder costs through a look server against the same look made in this
// process, as it was before: the projects screen looks at every folder every ten seconds, which must
// stay cheap. Prints both and their ratio, for one folder and for a round of twenty.
#include "engine/ProjectLooks.h"
#include "platform/DiskLook.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Twenty project folders, each with a compose file that builds.
struct Folders {
    Folders()
    {
        for (int i = 0; i < 20; ++i) {
            const QString dir = root.filePath(QStringLiteral("p%1").arg(i));
            QDir().mkpath(dir);
            QFile compose(dir + QStringLiteral("/compose.yaml"));
            if (compose.open(QIODevice::WriteOnly))
                compose.write("services:\n  web:\n    build: .\n");
            dirs << dir;
        }
    }

    QTemporaryDir root;
    QStringList dirs;
};

Folders& folders()
{
    static Folders made;
    return made;
}

void inThisProcess(benchmark::State& state)
{
    const QStringList& dirs = folders().dirs;
    for (auto _ : state)
        for (qsizetype i = 0; i < state.range(0); ++i)
            benchmark::DoNotOptimize(Docker::factsOfFolder(dirs[i]));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(inThisProcess)->Arg(1)->Arg(20)->Unit(benchmark::kMicrosecond);

void throughALookServer(benchmark::State& state)
{
    const QStringList& dirs = folders().dirs;
    for (auto _ : state)
        for (qsizetype i = 0; i < state.range(0); ++i)
            benchmark::DoNotOptimize(Platform::lookAtFolder(dirs[i], Docker::Looks::folderFacts(dirs[i]),
                                                            Platform::folderAnswerLimit));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(throughALookServer)->Arg(1)->Arg(20)->Unit(benchmark::kMicrosecond);

double medianUs(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

template <typename F>
double timeRound(F round)
{
    std::vector<double> samples;
    for (int i = 0; i < 51; ++i) {
        QElapsedTimer timer;
        timer.start();
        round();
        samples.push_back(double(timer.nsecsElapsed()) / 1e3);
    }
    return medianUs(samples);
}

// Both sides measured in this run, the servers already started, as they are after the first round.
void printRatio()
{
    const QStringList& dirs = folders().dirs;
    for (const QString& dir : dirs)
        Platform::lookAtFolder(dir, Docker::Looks::folderFacts(dir), Platform::folderAnswerLimit);
    const double here = timeRound([&] {
        for (const QString& dir : dirs)
            benchmark::DoNotOptimize(Docker::factsOfFolder(dir));
    });
    const double served = timeRound([&] {
        for (const QString& dir : dirs)
            benchmark::DoNotOptimize(
                Platform::lookAtFolder(dir, Docker::Looks::folderFacts(dir), Platform::folderAnswerLimit));
    });
    std::printf("\na round of 20 project folders: %.0f us in this process, %.0f us through a look server "
                "(median of 51); ratio %.1f, %.3f%% of the ten seconds between rounds\n",
                here, served, served / here, 100.0 * served / 10e6);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    printRatio();
    Platform::giveUpLooks();
    return 0;
}
