#pragma once

#include "app/parts/Host.h"

#include <QDBusConnection>
#include <QProcessEnvironment>

// The host facilities on a freedesktop desktop: the desktop's file chooser through its portal, for
// folders (with the runtime pop-up) and for saving, else choosers of our own that look at the disk off
// the window's thread; the desktop services for folders and pages, the application clipboard, and the
// terminal emulator named by $TERMINAL or the system's x-terminal-emulator.
class DesktopHost final : public Host {
public:
    // Asks the portal on the session bus.
    DesktopHost();
    // Asks the portal on `bus`; a bus that is not connected means no portal.
    explicit DesktopHost(QDBusConnection bus);

    QCoro::Task<std::optional<FolderChoice>> chooseFolder(QWidget* parent, FolderRequest request) override;
    QCoro::Task<std::optional<QString>> chooseSaveFile(QWidget* parent, QString suggestedName) override;
    bool reveal(const QString& folder) override;
    bool openUrl(const QUrl& url) override;
    void copy(const QString& text) override;
    std::optional<QString> openTerminal(const Platform::PreparedProcess& command) override;

    // The terminal emulator to start for `environment`: $TERMINAL when set, else x-terminal-emulator,
    // looked up on the environment's search path. None when neither is there.
    static std::optional<QString> terminalProgram(const QProcessEnvironment& environment);
    // The argument list that has `terminal` run `command`: its switch for "run the rest", then the
    // program and its arguments, each one argument (no shell ever reads them). That switch is "-e" as
    // in xterm and Debian's x-terminal-emulator, except for the terminals whose "-e" takes one command
    // line to split, which get their own.
    static QStringList terminalArguments(const QString& terminal, const Platform::PreparedProcess& command);

    // How the portal names `window` to keep its chooser above it: "x11:<id in hex>" on X11, else empty.
    static QString portalParent(const QWidget* window);

private:
    QDBusConnection m_bus;
};
