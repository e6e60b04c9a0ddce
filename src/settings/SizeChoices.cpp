#include "settings/SizeChoices.h"

#include "platform/ByteCount.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace SizeChoices {

QList<int> processors(double cores)
{
    // A count the machine cannot have (NaN, negative, absurd) offers the smallest choice only.
    const double usable = std::isfinite(cores) ? std::clamp(std::floor(cores), 0.0, 4096.0) : 0.0;
    const int most = std::max(int(usable), 2);
    QList<int> choices;
    for (int n = 2; n <= most; n += 2)
        choices.append(n);
    return choices;
}

QList<int> memory(quint64 physicalBytes)
{
    QList<int> choices;
    for (const int gigabytes : {2, 4, 8, 16, 32, 64}) {
        if (quint64(gigabytes) << 30 <= physicalBytes)
            choices.append(gigabytes);
    }
    return choices;
}

QList<Entry> entries(const QList<int>& choices, const QString& zeroTitle, const QString& unit, int current)
{
    const auto text = [&unit](int value) {
        return unit.isEmpty() ? QString::number(value) : QString::number(value) + QLatin1Char(' ') + unit;
    };
    QList<Entry> result{{0, zeroTitle, false}};
    const bool outside = current >= 1 && !choices.contains(current);
    bool placed = false;
    for (const int choice : choices) {
        if (outside && !placed && current < choice) {
            result.append({current, text(current) + QStringLiteral(" (saved)"), true});
            placed = true;
        }
        result.append({choice, text(choice), false});
    }
    if (outside && !placed)
        result.append({current, text(current) + QStringLiteral(" (saved)"), true});
    return result;
}

QString describe(std::optional<int> cpus, std::optional<qint64> memoryBytes)
{
    QStringList parts;
    if (cpus)
        parts << QString::number(*cpus) + (*cpus == 1 ? QStringLiteral(" CPU") : QStringLiteral(" CPUs"));
    if (memoryBytes)
        parts << Platform::memorySize(*memoryBytes);
    return parts.join(QStringLiteral(" · "));
}

std::optional<int> option(int value)
{
    return value >= 1 ? std::optional<int>(value) : std::nullopt;
}

} // namespace SizeChoices
