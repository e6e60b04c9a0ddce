#pragma once

#include "app/parts/Host.h"

#include <QProcessEnvironment>

// The host facilities on a freedesktop desktop: a folder chooser of our own that looks at the disk off the
// window's thread (with the runtime pop-up), Qt's own save dialog, the desktop services for folders and
// pages, the application clipboard, and the terminal emulator named by $TERMINAL or the system's
// x-terminal-emulator.
class DesktopHost final : public Host {
public:
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
};
