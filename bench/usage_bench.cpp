#include "engine/Usage.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <benchmark/benchmark.h>

namespace {

QString recorded(const char* name)
{
    QFile file(QStringLiteral(VOSKEL_FIXTURES "/engine/") + QString::fromLatin1(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

// A verbose disk-usage report of `count` rows (containers, images and volumes in the proportions of
// the recorded one), made by repeating the recorded rows under unique names.
QString report(int count)
{
    const QJsonObject source = QJsonDocument::fromJson(recorded("system-df-v.json").toUtf8()).object();
    const struct {
        QLatin1StringView section;
        QLatin1StringView key;
    } sections[] = {{QLatin1StringView("Containers"), QLatin1StringView("Names")},
                    {QLatin1StringView("Images"), QLatin1StringView("ID")},
                    {QLatin1StringView("Volumes"), QLatin1StringView("Name")}};
    qsizetype recordedRows = 0;
    for (const auto& s : sections)
        recordedRows += source.value(s.section).toArray().size();
    if (recordedRows == 0)
        return {};

    QJsonObject out;
    int made = 0;
    for (const auto& s : sections) {
        const QJsonArray rows = source.value(s.section).toArray();
        const int share = s.section == QLatin1StringView("Volumes")
                              ? count - made
                              : int(qint64(count) * rows.size() / recordedRows);
        QJsonArray repeated;
        for (int i = 0; i < share && !rows.isEmpty(); ++i) {
            QJsonObject row = rows[i % rows.size()].toObject();
            row.insert(s.key, QStringLiteral("b%1-").arg(i) + row.value(s.key).toString());
            repeated.append(row);
        }
        made += int(repeated.size());
        out.insert(s.section, repeated);
    }
    out.insert(QLatin1StringView("BuildCache"), QJsonArray());
    return QString::fromUtf8(QJsonDocument(out).toJson(QJsonDocument::Compact));
}

void parseUsageReport(benchmark::State& state)
{
    const QString summary = recorded("system-df.ndjson");
    const QString detail = report(int(state.range(0)));
    const Docker::CanCompose canCompose = [](const QString&) { return true; };
    for (auto _ : state)
        benchmark::DoNotOptimize(Docker::parseUsage(summary, detail, canCompose));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["per_item"] =
        benchmark::Counter(double(state.iterations() * state.range(0)),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(parseUsageReport)->Arg(2000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
