// What reading every mount namespace of this machine costs, as a deletion plan does once when it is made
// and once more just before the folder moves: one mount table per namespace, however many processes
// share it. Prints how many processes and namespaces there were, so the figure can be weighed.
#include "platform/KernelMounts.h"

#include <QDir>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

void everyNamespace(benchmark::State& state)
{
    qsizetype spaces = 0;
    for (auto _ : state) {
        const Platform::HostMounts host = Platform::hostMounts();
        spaces = host.others.size();
        benchmark::DoNotOptimize(host);
    }
    state.counters["namespaces"] = double(spaces);
}
BENCHMARK(everyNamespace)->Unit(benchmark::kMillisecond);

// The same folder judged against every mount read, as each plan does after reading them.
void judgeAFolder(benchmark::State& state)
{
    const Platform::HostMounts host = Platform::hostMounts();
    const std::optional<Platform::TreeLocation> at = Platform::locate(QDir::tempPath(), host.own);
    if (!at) {
        state.SkipWithError("the temporary folder is on no mount");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(Platform::namespaceUses(host, *at));
}
BENCHMARK(judgeAFolder)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const qsizetype processes =
        QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs).size();
    std::printf("%lld processes on this machine\n", qlonglong(processes));
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
