#include "app/shell/Scenes.h"

#include "app/design/Theme.h"
#include "app/parts/Preferences.h"
#include "app/shell/ContentView.h"
#include "app/shell/MenuBarExtra.h"
#include "app/shell/TrayWatch.h"
#include "platform/Pools.h"
#include "settings/SettingsWindow.h"
#include "store/AppStore.h"
#include "toolchain/ToolchainStore.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

Scenes::Scenes(Preferences& preferences, Stores stores, QObject* parent)
    : QObject(parent), m_preferences(preferences), m_stores(std::move(stores)), m_tray(new TrayWatch(this))
{
    applyAppearance();
    connect(&m_preferences, &Preferences::appearanceChanged, this, &Scenes::applyAppearance);
    connect(&m_preferences, &Preferences::showMenuBarChanged, this, &Scenes::followMenuBar);
    // A tray that starts after the application gets the icon then, as the setting asks. One that goes
    // (a panel started again) keeps it: Qt puts it back when the tray comes back, and the window does
    // not jump up meanwhile.
    connect(m_tray, &TrayWatch::presentChanged, this, [this](bool present) {
        if (present)
            followMenuBar();
    });
    followMenuBar();
    // The Quit shortcut belongs to the main window's menu, which a sheet over that window blocks, and
    // which a hidden main window does not offer; the key still reaches the focused widget.
    qApp->installEventFilter(this);
}

Scenes::~Scenes()
{
    delete m_extra;
    delete m_main;
    delete m_settings;
}

bool Scenes::trayAvailable() const
{
    // Qt only once the watch has seen a tray: it settles for good, when first asked, which kind of tray
    // it puts its icons in.
    return m_tray->present() && (TrayWatch::pretending() || QSystemTrayIcon::isSystemTrayAvailable());
}

void Scenes::setTrayAvailableForTesting(std::optional<bool> available)
{
    TrayWatch::setPresentForTesting(available);
}

void Scenes::applyAppearance()
{
    Theme::instance().setAppearance(m_preferences.appearance());
}

void Scenes::followMenuBar()
{
    const bool wanted = m_preferences.showMenuBar() && trayAvailable();
    if (wanted == bool(m_extra))
        return;
    if (!wanted) {
        delete m_extra;
        // The icon was the way back to a closed window; without it the application would run on
        // with nothing to show for it.
        if (m_main && !m_main->isVisible())
            showMainWindow();
        return;
    }
    m_extra = new MenuBarExtra(m_stores.store(), m_stores.toolchain(), this);
    connect(m_extra, &MenuBarExtra::opened, this, &Scenes::startStores);
    connect(m_extra, &MenuBarExtra::openRequested, this, &Scenes::showMainWindow);
    connect(m_extra, &MenuBarExtra::settingsRequested, this, &Scenes::showSettings);
    connect(m_extra, &MenuBarExtra::quitRequested, this, &Scenes::quit);
}

void Scenes::startStores()
{
    // Both are safe to repeat: polling starts once per store, the launch check runs once per store.
    m_stores.store().start();
    m_stores.toolchain().checkAtLaunch(m_preferences.checkUpdatesAtLaunch());
}

void Scenes::showMainWindow()
{
    if (!m_main) {
        m_main = new ContentView(m_stores.store(), m_stores.toolchain(), m_preferences);
        connect(m_main, &ContentView::shown, this, &Scenes::startStores);
        connect(m_main, &ContentView::settingsRequested, this, &Scenes::showSettings);
        connect(m_main, &ContentView::quitRequested, this, &Scenes::quit);
        // Queued: the window hides only once its close is through.
        connect(m_main, &ContentView::closed, this, &Scenes::quitWhenNothingShows, Qt::QueuedConnection);
        // A screen smaller than the default size (a small laptop at 200 %) gets a window that fits on it,
        // not one whose edges and controls lie beyond the screen's.
        if (const QScreen* screen = m_main->screen())
            m_main->resize(m_main->size()
                               .boundedTo(screen->availableGeometry().size())
                               .expandedTo(m_main->minimumSize()));
    }
    if (m_main->isMinimized())
        m_main->showNormal();
    m_main->show();
    m_main->raise();
    m_main->activateWindow();
}

void Scenes::showSettings()
{
    if (!m_settings)
        m_settings = new SettingsWindow(m_stores.store(), m_stores.toolchain(), m_preferences);
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
}

void Scenes::quitWhenNothingShows()
{
    // With a tray icon the application stays, as the icon can bring a window back; without one,
    // closing the last window is the only way a user has to say they are done. A window still open,
    // Settings running a tool job say, keeps it: quitting would end that job half-way.
    if (m_extra || (m_main && m_main->isVisible()) || (m_settings && m_settings->isVisible()))
        return;
    quit();
}

bool Scenes::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        QKeySequence(static_cast<QKeyEvent*>(event)->keyCombination()) == ContentView::quitShortcut()) {
        quit();
        return true;
    }
    if (event->type() == QEvent::Quit && watched == qApp)
        keepQuit();
    // The application's filter sees the Settings window's close as well; once the close is through
    // (the window may still refuse it), the last window gone quits.
    if (event->type() == QEvent::Close && watched == m_settings)
        QMetaObject::invokeMethod(this, &Scenes::quitWhenNothingShows, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

void Scenes::quit()
{
    QCoreApplication::quit();
}

void Scenes::keepQuit()
{
    if (!m_quitKept)
        m_wayOut = QDeadlineTimer(Platform::Pools::wayOutLimit);
    // Without a window the store was never made, and nothing is being removed.
    if (!m_main && !m_extra && !m_settings)
        return;
    AppStore& store = m_stores.store();
    if (store.deletions() == 0 && store.reclaims() == 0)
        return;
    if (!m_quitKept) {
        m_quitKept = true;
        // Queued: the removal's sheet closes only once the store is through with it.
        connect(&store, &AppStore::deletionsChanged, this, &Scenes::quitOnceWoundDown, Qt::QueuedConnection);
        connect(&store, &AppStore::reclaimsChanged, this, &Scenes::quitOnceWoundDown, Qt::QueuedConnection);
        // Once the way out's time is up the event loop ends without asking the windows: the sheet of
        // work that would not wind down still refuses to close.
        QTimer::singleShot(int(m_wayOut.remainingTime()), this, [] { QCoreApplication::exit(0); });
    }
    store.windDown();
}

void Scenes::quitOnceWoundDown()
{
    const AppStore& store = m_stores.store();
    if (store.deletions() == 0 && store.reclaims() == 0)
        quit();
}
