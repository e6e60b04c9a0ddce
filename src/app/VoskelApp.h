#pragma once

#include <memory>

class AppStore;
class Preferences;
class Scenes;
class SingleInstance;
class ToolchainStore;

namespace Platform {
class Settings;
}

// The application as a window: the one settings object of the process (the user's standard suite),
// the preferences over it, and the two stores, each made the first time a window or the tray asks
// for it and kept until the process ends. Every window is handed these same objects.
class VoskelApp {
public:
    // `settings` null: the user's standard suite.
    explicit VoskelApp(std::unique_ptr<Platform::Settings> settings = nullptr);
    ~VoskelApp();
    VoskelApp(const VoskelApp&) = delete;
    VoskelApp& operator=(const VoskelApp&) = delete;

    Platform::Settings& settings() const { return *m_settings; }
    Preferences& preferences() const { return *m_preferences; }
    AppStore& store();
    ToolchainStore& toolchain();
    bool hasStores() const { return m_store || m_toolchain; }

    // The windows; made on first use.
    Scenes& scenes();

    // The windowed start: one instance per user, the bundled faces, the theme, the main window (and
    // the tray icon), until the user quits. Returns the exit status.
    static int run(int argc, char** argv);

    // How the way out ends the process when work it cannot end (a look at a folder on a stalled mount)
    // is still under way after its time: at once, without waiting for those threads, and without
    // keeping a later start out while they stay in the kernel.
    [[noreturn]] static void endAtOnce(SingleInstance& instance, int status);

private:
    std::unique_ptr<Platform::Settings> m_settings;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<AppStore> m_store;
    std::unique_ptr<ToolchainStore> m_toolchain;
    std::unique_ptr<Scenes> m_scenes;
};
