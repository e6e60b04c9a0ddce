#pragma once

#include <QHash>
#include <QMutex>
#include <QString>

#include <optional>

// What was worked out for a key, kept for the life of the process and shared by every thread: at most
// `limit` entries, all forgotten at once when it is full.
template <typename V, qsizetype limit = 4096>
class BoundedMemo {
public:
    std::optional<V> find(const QString& key) const
    {
        const QMutexLocker lock(&m_lock);
        const auto found = m_values.constFind(key);
        if (found == m_values.cend())
            return std::nullopt;
        return found.value();
    }

    void keep(const QString& key, const V& value)
    {
        const QMutexLocker lock(&m_lock);
        if (m_values.size() >= limit)
            m_values.clear();
        m_values.insert(key, value);
    }

private:
    mutable QMutex m_lock;
    QHash<QString, V> m_values;
};
