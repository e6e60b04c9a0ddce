#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

// The sizes the builder and engine pickers offer: processors and gigabytes that fit this machine,
// and the entries a picker shows for them around the value it holds.
namespace SizeChoices {

// Even counts 2, 4, ... up to the machine's active processors (at least 2).
QList<int> processors(double cores);
// Those of 2, 4, 8, 16, 32 and 64 gigabytes that fit the machine's physical memory.
QList<int> memory(quint64 physicalBytes);

// One entry of a size picker.
struct Entry {
    int value = 0; // 0 stands for the tool's own size
    QString text;
    // A value kept from earlier that this machine no longer offers: it is shown, marked, so the
    // picker never holds a selection the user cannot see.
    bool outside = false;

    bool operator==(const Entry&) const = default;
};

// The entries for `choices`: `zeroTitle` for 0 first, then each choice with `unit` after it
// ("8 GB"; an empty unit shows the bare number). A `current` value of 1 or more that is not among the
// choices gets its own marked entry, in order of size.
QList<Entry> entries(const QList<int>& choices, const QString& zeroTitle, const QString& unit, int current);

// "4 CPUs · 4 GB": the known parts of a size, processors first; empty when neither is known.
QString describe(std::optional<int> cpus, std::optional<qint64> memoryBytes);

// A picker's value as a job takes it: none for 0 and below, which leave the option out.
std::optional<int> option(int value);

} // namespace SizeChoices
