#pragma once

#include "platform/Settings.h"

#include <QString>

#include <memory>

class AppStore;
class Preferences;

// What the screenshots are drawn from: a settings suite of their own ("voskel.shot"), the preferences
// over it and an application store filled with the fixtures. Nothing polls and nothing asks an engine.
// When the suite cannot be used, everything stays in memory: the user's own settings are never touched.
class ShotStage {
public:
    static constexpr const char* suiteName = "voskel.shot";

    // `settings` null: the suite, or memory when the suite cannot be used.
    explicit ShotStage(std::unique_ptr<Platform::Settings> settings = nullptr);
    ~ShotStage();
    ShotStage(const ShotStage&) = delete;
    ShotStage& operator=(const ShotStage&) = delete;

    Platform::Settings& settings() const { return *m_settings; }
    Preferences& preferences() const { return *m_preferences; }
    AppStore& store() const { return *m_store; }

    // The folder the suite's file lives in, with every other settings file of the application.
    static QString settingsFolder();
    // Deletes the suite's file, and with `folderToo` its folder when nothing else is left in it; call
    // once no stage is left, as closing one writes the file again.
    static void removeSuite(bool folderToo);

private:
    std::unique_ptr<Platform::Settings> m_settings;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<AppStore> m_store;
};
