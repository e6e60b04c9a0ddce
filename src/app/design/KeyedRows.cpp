#include "app/design/KeyedRows.h"

namespace {

// Each key with its occurrence number, so repeated keys pair up in order.
QStringList numbered(const QStringList& keys)
{
    QHash<QString, int> seen;
    QStringList result;
    result.reserve(keys.size());
    for (const QString& key : keys)
        result.append(key + QChar(0x1f) + QString::number(seen[key]++));
    return result;
}

} // namespace

RowPlan planRows(const QStringList& current, const QStringList& wanted)
{
    // The common case of a poll: the same rows in the same order, every one kept where it is.
    if (current == wanted) {
        RowPlan plan;
        plan.sources.reserve(wanted.size());
        for (int i = 0; i < wanted.size(); ++i)
            plan.sources.append(i);
        return plan;
    }
    const QStringList have = numbered(current);
    const QStringList want = numbered(wanted);
    QHash<QString, int> where;
    for (int i = 0; i < have.size(); ++i)
        where.insert(have.at(i), i);

    RowPlan plan;
    plan.sources.reserve(want.size());
    QList<bool> kept(have.size(), false);
    for (const QString& key : want) {
        const int source = where.value(key, -1);
        plan.sources.append(source);
        if (source >= 0)
            kept[source] = true;
    }
    for (int i = 0; i < have.size(); ++i) {
        if (!kept.at(i))
            plan.dropped.append(i);
    }
    return plan;
}
