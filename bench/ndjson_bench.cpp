#include "engine/Docker.h"

#include <QFile>
#include <QString>

#include <benchmark/benchmark.h>

namespace {

// A listing of `count` container lines, made by repeating lines recorded from the real client with
// unique names and identifiers.
QString listing(int count)
{
    QFile file(QStringLiteral(VOSKEL_FIXTURES "/engine/ps.ndjson"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QStringList recorded = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QString text;
    for (int i = 0; i < count && !recorded.isEmpty(); ++i) {
        QString line = recorded[i % recorded.size()];
        line.replace(QStringLiteral("\"Names\":\""), QStringLiteral("\"Names\":\"c%1-").arg(i));
        text += line + '\n';
    }
    return text;
}

void ndjsonListing(benchmark::State& state)
{
    const QString text = listing(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(Docker::ndjson(text));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["per_line"] =
        benchmark::Counter(double(state.iterations() * state.range(0)),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(ndjsonListing)->Arg(5000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
