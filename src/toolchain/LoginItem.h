#pragma once

#include <QString>
#include <QStringList>

#include <stdexcept>

// Opens the application at login through the desktop's autostart folder: an entry file in
// $XDG_CONFIG_HOME/autostart (default ~/.config/autostart). The file is the only state.
namespace LoginItem {

enum class State { On, Off, NeedsApproval };

// The state as printed: "on", "off", "needsApproval".
QString name(State state);

// A refused change, with the text to show.
class Error : public std::runtime_error {
public:
    explicit Error(const QString& message) : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

// Which file stands for the login item and what it starts.
struct Entry {
    QString file;
    QStringList command; // program first

    // The running application, in the user's autostart folder.
    static Entry application();
};

// $XDG_CONFIG_HOME/autostart, or ~/.config/autostart when that is unset, empty or relative.
QString autostartDirectory();

// The value of an Exec= key that starts `command`, quoted and escaped as desktop entries require.
QString execLine(const QStringList& command);
// The whole entry file.
QString desktopEntry(const QStringList& command);

// On: writes the entry; off: deletes it (absent already counts as done). Throws Error when the
// file cannot be written or deleted; nothing else changes then.
void set(bool on);
void set(bool on, const Entry& entry);

// On while the entry exists and the desktop has not been told to skip it. This platform never asks
// for approval, so NeedsApproval does not occur here.
State state();
State state(const Entry& entry);

} // namespace LoginItem
