#pragma once

#include "platform/PreparedProcess.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

class QWidget;

// What the windows ask of the desktop: choosing a folder or a file to save, showing a folder, opening
// a page, the clipboard and a terminal. Screens and sheets reach these only through here, so tests put
// a recording host in place and no dialog of the desktop ever opens under a test.
class Host {
public:
    // A folder chooser: its texts, where it starts, and an optional pop-up of choices beside it (the
    // runtime a new project should run on).
    struct FolderRequest {
        QString prompt;  // the confirming button
        QString message; // the line that says what to choose
        QString startIn; // empty: wherever the chooser starts by itself
        bool canCreateFolders = false;
        QString choicesLabel; // the pop-up's label, e.g. "Run on:"
        QStringList choices;  // no entries: no pop-up
        int chosen = 0;       // the entry selected when the chooser opens
        QString title;        // the chooser window's title, a few words; empty: "Choose a Folder"

        bool operator==(const FolderRequest&) const = default;
    };

    struct FolderChoice {
        QString path;
        std::optional<int> choice; // index into the request's choices; none without a pop-up

        bool operator==(const FolderChoice&) const = default;
    };

    virtual ~Host() = default;

    // What the user is told when a folder or an address could not be opened.
    static QString couldNotOpen(const QString& what);

    // The host of the process: the desktop's own unless a test installed another.
    static Host& current();
    // Puts `host` in place (null: the desktop's own again) and returns what was there, for tests.
    static Host* install(Host* host);

    // Window-modal over `parent`; never blocks the event loop. None when cancelled.
    virtual QCoro::Task<std::optional<FolderChoice>> chooseFolder(QWidget* parent, FolderRequest request) = 0;
    // The save panel: `suggestedName` fills the name field; no file type is imposed. None when cancelled.
    // What it hands back is a path only: nothing at it has been written, and whoever writes there does so
    // off the window's thread.
    virtual QCoro::Task<std::optional<QString>> chooseSaveFile(QWidget* parent, QString suggestedName) = 0;
    // Opens the file manager on `folder` itself, selecting nothing inside it. False when the desktop
    // has nothing to open it with.
    virtual bool reveal(const QString& folder) = 0;
    // Hands `url` to the desktop's default handler; what it does with it is not looked at. False when
    // the desktop has no handler for it, or the address is not valid.
    virtual bool openUrl(const QUrl& url) = 0;
    // Replaces the clipboard's content with `text` as plain text.
    virtual void copy(const QString& text) = 0;
    // Starts the desktop's terminal emulator running `command` (its program, arguments, environment
    // and working directory as prepared). None when the terminal started, else why not.
    virtual std::optional<QString> openTerminal(const Platform::PreparedProcess& command) = 0;
};
