#pragma once

#include "app/shell/ContentView.h"
#include "app/shell/MenuBarExtra.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class AppStore;
class Preferences;
class QWidget;
class ToolchainStore;
class TrayWatch;

// The application's windows: the main window, the tray icon with its panel (while the "showMenuBar"
// preference is on and the desktop has a tray), and the Settings window. The stores are asked for
// only when a window or the tray needs them. When the main window or the tray panel shows, the
// store's polling and the toolchain's launch check start (both once per store); the chosen appearance
// applies to the whole application at once, whenever it changes. A quit (the Quit command, Ctrl+Q,
// the end of the session) while a project is being deleted or space reclaimed is kept: the removal
// winds down, and the application quits once it has, or once the way out's time is up.
class Scenes : public QObject {
    Q_OBJECT

public:
    struct Stores {
        std::function<AppStore&()> store;
        std::function<ToolchainStore&()> toolchain;
    };

    Scenes(Preferences& preferences, Stores stores, QObject* parent = nullptr);
    ~Scenes() override;

    // Opens the main window, or brings it forward when it is open.
    void showMainWindow();
    // Opens the Settings window, or brings it forward.
    void showSettings();
    void quit();

    // When the way out must be over: Platform::Pools::wayOutLimit after the quit was last asked for
    // (never before). Whatever the application waits for once its windows are gone shares it.
    QDeadlineTimer wayOut() const { return m_wayOut; }

    ContentView* mainWindow() const { return m_main; }
    MenuBarExtra* menuBarExtra() const { return m_extra; }
    QWidget* settingsWindow() const { return m_settings; }

    // Whether this desktop shows tray icons now; a tray that comes later is followed. Tests may pretend
    // either way (none: the desktop decides again).
    bool trayAvailable() const;
    static void setTrayAvailableForTesting(std::optional<bool> available);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyAppearance();
    void followMenuBar();
    void startStores();
    void quitWhenNothingShows();
    // Has the deletions and reclaims under way wind down, and the quit asked for again once they have:
    // a deletion's sheet refuses to close meanwhile, which would drop the quit. What will not wind down
    // (a move to the Trash) is not waited for past the way out's time.
    void keepQuit();
    void quitOnceWoundDown();

    Preferences& m_preferences;
    Stores m_stores;
    QPointer<ContentView> m_main;
    QPointer<MenuBarExtra> m_extra;
    QPointer<QWidget> m_settings;
    TrayWatch* m_tray;
    bool m_quitKept = false;
    QDeadlineTimer m_wayOut{QDeadlineTimer::Forever};
};
