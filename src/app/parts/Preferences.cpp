#include "app/parts/Preferences.h"

#include "platform/Settings.h"

#include <QDir>

Preferences::Preferences(Platform::Settings& settings, QObject* parent)
    : QObject(parent), m_settings(settings)
{
    connect(&m_settings, &Platform::Settings::changed, this, &Preferences::settingChanged);
}

void Preferences::settingChanged(const QString& key)
{
    if (key == QLatin1String(appearanceKey))
        emit appearanceChanged();
    else if (key == QLatin1String(showMenuBarKey))
        emit showMenuBarChanged();
    else if (key == QLatin1String(checkUpdatesAtLaunchKey))
        emit checkUpdatesAtLaunchChanged();
    else if (key == QLatin1String(categoryKey))
        emit categoryChanged();
    else if (key == QLatin1String(cloneParentKey))
        emit cloneParentChanged();
    else if (key == QLatin1String(builderCPUsKey))
        emit builderCPUsChanged();
    else if (key == QLatin1String(builderMemoryGBKey))
        emit builderMemoryGBChanged();
}

Appearance Preferences::appearance() const
{
    return appearanceOrDefault(m_settings.string(QString::fromLatin1(appearanceKey)));
}

void Preferences::setAppearance(Appearance appearance)
{
    m_settings.setValue(QString::fromLatin1(appearanceKey), rawValue(appearance));
}

bool Preferences::showMenuBar() const
{
    return m_settings.boolean(QString::fromLatin1(showMenuBarKey), true);
}

void Preferences::setShowMenuBar(bool show)
{
    m_settings.setValue(QString::fromLatin1(showMenuBarKey), show);
}

bool Preferences::checkUpdatesAtLaunch() const
{
    return m_settings.boolean(QString::fromLatin1(checkUpdatesAtLaunchKey), true);
}

void Preferences::setCheckUpdatesAtLaunch(bool check)
{
    m_settings.setValue(QString::fromLatin1(checkUpdatesAtLaunchKey), check);
}

Category Preferences::category() const
{
    return categoryFromRawValue(m_settings.string(QString::fromLatin1(categoryKey)))
        .value_or(Category::projects);
}

void Preferences::setCategory(Category category)
{
    m_settings.setValue(QString::fromLatin1(categoryKey), rawValue(category));
}

QString Preferences::cloneParent() const
{
    const QString stored = m_settings.string(QString::fromLatin1(cloneParentKey));
    return stored.isEmpty() ? QDir::homePath() : stored;
}

void Preferences::setCloneParent(const QString& folder)
{
    m_settings.setValue(QString::fromLatin1(cloneParentKey), folder);
}

int Preferences::builderCPUs() const
{
    return m_settings.integer(QString::fromLatin1(builderCPUsKey), 0);
}

void Preferences::setBuilderCPUs(int cpus)
{
    m_settings.setValue(QString::fromLatin1(builderCPUsKey), cpus);
}

int Preferences::builderMemoryGB() const
{
    return m_settings.integer(QString::fromLatin1(builderMemoryGBKey), 0);
}

void Preferences::setBuilderMemoryGB(int gigabytes)
{
    m_settings.setValue(QString::fromLatin1(builderMemoryGBKey), gigabytes);
}
