#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QDBusConnection>
#include <QString>
#include <QStringList>

#include <optional>

// The desktop's own file chooser, asked for over the session bus through the freedesktop file chooser
// portal. It runs in the portal's process, not in Voskel's: a folder on a mount that stalls holds the
// chooser there, never Voskel's window. Everything is asked and answered asynchronously; a bus without
// the portal, a portal too old to choose folders, or one that fails to answer says so as `unavailable`,
// for the caller to fall back on a chooser of its own.
namespace FileChooserPortal {

struct Answer {
    enum class Kind { chosen, cancelled, unavailable };
    Kind kind = Kind::unavailable;
    QString path;              // the local path chosen
    std::optional<int> choice; // the entry chosen in the pop-up, when one was offered

    bool operator==(const Answer&) const = default;
};

struct FolderQuestion {
    QString title;       // the chooser window's title: a few words
    QString acceptLabel; // the confirming button
    QString startIn;     // empty: wherever the portal starts
    QString choicesLabel;
    QStringList choices; // no entries: no pop-up
    int chosen = 0;
};

struct SaveQuestion {
    QString title;
    QString suggestedName;
    QString startIn; // empty: wherever the portal starts
};

// How long the portal may take to say it is there and to take the question. Activating it on the bus
// takes a moment; one that has not answered by then is not waited for.
inline constexpr int answerMillis = 10000;

// `parentWindow` is the portal's identifier of the window to stay above ("x11:<id>"), or empty.
QCoro::Task<Answer> chooseFolder(QDBusConnection bus, QString parentWindow, FolderQuestion question);
QCoro::Task<Answer> chooseSaveFile(QDBusConnection bus, QString parentWindow, SaveQuestion question);

// A folder as the portal takes it: its bytes with a closing NUL.
QByteArray folderBytes(const QString& folder);
// The object path the portal answers a question on, from the caller's unique bus name and the token
// it gave: ":1.42" and "voskel3" give /org/freedesktop/portal/desktop/request/1_42/voskel3.
QString requestPath(const QString& uniqueName, const QString& token);

} // namespace FileChooserPortal
