#include "diagnostics/shot/ShotStage.h"

#include "app/parts/Preferences.h"
#include "diagnostics/shot/ShotFixtures.h"
#include "platform/Settings.h"
#include "store/AppStore.h"

#include <QDir>
#include <QFileInfo>

ShotStage::ShotStage(std::unique_ptr<Platform::Settings> settings)
    : m_settings(settings ? std::move(settings) : Platform::Settings::suite(QString::fromLatin1(suiteName)))
{
    if (!m_settings->isUsable())
        m_settings = Platform::Settings::inMemory();
    m_preferences = std::make_unique<Preferences>(*m_settings);
    m_store = std::make_unique<AppStore>(*m_settings);
    ShotFixtures::fill(*m_store);
}

ShotStage::~ShotStage()
{
    // What reads the settings goes before them.
    m_store.reset();
    m_preferences.reset();
}

QString ShotStage::settingsFolder()
{
    return QFileInfo(Platform::Settings::suiteFile(QString::fromLatin1(suiteName))).path();
}

void ShotStage::removeSuite(bool folderToo)
{
    Platform::Settings::removeSuite(QString::fromLatin1(suiteName));
    // Only an empty folder goes: anything else in it is somebody's settings.
    if (folderToo)
        QDir().rmdir(settingsFolder());
}
