#include "app/design/Appearance.h"

QString rawValue(Appearance appearance)
{
    switch (appearance) {
    case Appearance::automatic:
        return QStringLiteral("auto");
    case Appearance::light:
        return QStringLiteral("light");
    case Appearance::dark:
        return QStringLiteral("dark");
    }
    return QStringLiteral("auto");
}

std::optional<Appearance> appearanceFromRawValue(const QString& raw)
{
    for (Appearance appearance : allAppearances()) {
        if (rawValue(appearance) == raw)
            return appearance;
    }
    return std::nullopt;
}

Appearance appearanceOrDefault(const QString& raw)
{
    return appearanceFromRawValue(raw).value_or(Appearance::automatic);
}

const QList<Appearance>& allAppearances()
{
    static const QList<Appearance> all{Appearance::automatic, Appearance::light, Appearance::dark};
    return all;
}
