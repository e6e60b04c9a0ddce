#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>

class AppStore;
class MenuBarView;
class QMenu;
class QSystemTrayIcon;
class QWidget;
class ToolchainStore;

// The tray icon with its panel: a left click opens the 320-pixel panel beside the icon; the context
// menu offers the same entries for trays that give no left click. The icon is drawn, so it is there
// whatever the installation holds.
class MenuBarExtra : public QObject {
    Q_OBJECT

public:
    MenuBarExtra(AppStore& store, ToolchainStore& toolchain, QObject* parent = nullptr);
    ~MenuBarExtra() override;

    QSystemTrayIcon* trayIcon() const { return m_tray; }
    QMenu* contextMenu() const { return m_menu; }
    // The panel window, made when first opened.
    QWidget* panel() const { return m_panel; }
    MenuBarView* panelView() const;

    void showPanel();
    // Fills the context menu afresh from the stores (done each time it is about to show).
    void fillMenu();

    // The application's mark: a shipping box on the accent colour, at any size.
    static QIcon icon();

signals:
    // The panel or the context menu is about to be shown: the stores should be running.
    void opened();
    void openRequested();
    void settingsRequested();
    void quitRequested();

private:
    AppStore& m_store;
    ToolchainStore& m_toolchain;
    QSystemTrayIcon* m_tray;
    QMenu* m_menu;
    QPointer<QMenu> m_runtimes;
    QPointer<QWidget> m_panel;
};
