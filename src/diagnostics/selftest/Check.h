#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <concepts>
#include <optional>
#include <type_traits>

// How the self test's checks hold or fail. A check that does not hold ends the run at once: it throws
// CheckFailed, which only the driver catches, so nothing after it runs and what the failing case
// created stays behind for whoever looks into the failure.
namespace SelfTest {

struct CheckFailed {
    QString line; // "selftest failed: <case>: <check>", with what was found when it is known
};

// Names the case the checks inside its lifetime belong to. A run ended inside the case keeps the name,
// so whatever ended it can still be put down to the case.
class CaseScope {
public:
    explicit CaseScope(const QString& name);
    ~CaseScope();
    CaseScope(const CaseScope&) = delete;
    CaseScope& operator=(const CaseScope&) = delete;

private:
    QString m_previous;
};

// Ends the run unless `holds`. `what` says in a few words what was checked.
void check(bool holds, const QString& what);
[[noreturn]] void fail(const QString& what, const QString& found = {});
// The one line a failure of the current case is reported in: "selftest failed: <case>: <what>", then
// what was found when it is known; every line break is written as a backslash and an n.
QString failureLine(const QString& what, const QString& found = {});

// Values as a failure line shows them: texts quoted, lists bracketed, absence as "none".
inline QString describe(const QString& text)
{
    QString shown = text;
    shown.replace(u'\n', QStringLiteral("\\n"));
    return u'"' + shown + u'"';
}
inline QString describe(const char* text)
{
    return describe(QString::fromUtf8(text));
}
inline QString describe(bool value)
{
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}
template <typename T>
requires(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) QString describe(T value)
{
    if constexpr (std::is_floating_point_v<T>)
        return QString::number(double(value), 'g', 17);
    else
        return QString::number(value);
}
template <typename T>
QString describe(const std::optional<T>& value);
template <typename T>
QString describe(const QList<T>& list);
template <typename K, typename V>
QString describe(const QMap<K, V>& map);

template <typename T>
concept Describable = requires(const T& value)
{
    {
        describe(value)
        } -> std::convertible_to<QString>;
};

template <typename T>
QString describe(const std::optional<T>& value)
{
    if (!value)
        return QStringLiteral("none");
    if constexpr (Describable<T>)
        return describe(*value);
    else
        return QStringLiteral("a value");
}

template <typename T>
QString describe(const QList<T>& list)
{
    QStringList parts;
    for (const T& item : list) {
        if constexpr (Describable<T>)
            parts << describe(item);
        else
            parts << QStringLiteral("…");
    }
    return u'[' + parts.join(QStringLiteral(", ")) + u']';
}

template <typename K, typename V>
QString describe(const QMap<K, V>& map)
{
    QStringList parts;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        parts << describe(it.key()) + QStringLiteral(": ") + describe(it.value());
    return u'{' + parts.join(QStringLiteral(", ")) + u'}';
}

// Ends the run unless `actual` equals `expected`; the failure line shows both when they can be shown.
template <typename T, typename U>
void checkEqual(const T& actual, const U& expected, const QString& what)
{
    if (actual == expected)
        return;
    if constexpr (Describable<T> && Describable<U>)
        fail(what,
             QStringLiteral("got ") + describe(actual) + QStringLiteral(", expected ") + describe(expected));
    else
        fail(what);
}

} // namespace SelfTest
