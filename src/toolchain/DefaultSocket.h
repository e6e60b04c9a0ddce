#pragma once

#include "platform/PreparedProcess.h"

#include <QString>

#include <functional>
#include <optional>

// Points the system's default Docker socket at Colima's engine, now and after every restart, and
// says what is there. Everything is synchronous and reads the file system afresh on every call.
// The launch-daemon texts describe the macOS way of keeping the link; this host keeps it with a
// systemd-tmpfiles entry, installed by one administrator command run through pkexec.
namespace DefaultSocket {

inline constexpr auto socketPath = "/var/run/docker.sock";
inline constexpr auto label = "app.qel.voskel.docker-socket";
inline constexpr auto plistPath = "/Library/LaunchDaemons/app.qel.voskel.docker-socket.plist";
inline constexpr auto tmpfilesEntryPath = "/etc/tmpfiles.d/app.qel.voskel.docker-socket.conf";
inline constexpr auto pkexecPath = "/usr/bin/pkexec";

// Colima's socket for its profile named default: the home folder + "/.colima/default/docker.sock".
QString colimaSocket();

// What is at the default socket path.
struct State {
    enum class Kind {
        Colima, // a link whose stored destination is exactly Colima's socket
        Free,   // nothing there, or a link to nothing
        Taken,  // another engine's socket, or a link to another existing path
    };
    Kind kind = Kind::Free;
    bool permanent = false; // Colima only: the entry that restores the link at boot is installed

    static State colima(bool permanent) { return {Kind::Colima, permanent}; }
    static State free() { return {Kind::Free, false}; }
    static State taken() { return {Kind::Taken, false}; }

    bool operator==(const State&) const = default;
};

// Where everything lives on this host. Tests point every path into a temporary folder so that the
// real default socket is never touched.
struct Paths {
    QString socket;
    QString permanentEntry;
    QString colimaSocket;
    // The folder in which the private directory for the file handed to root is made.
    QString temporaryRoot;

    static Paths system();
};

// Runs one shell command as the administrator and waits for it. Absent means it ran and succeeded,
// or the user dismissed the password prompt; otherwise the text to show.
using Administrator = std::function<std::optional<QString>(const QString& command)>;

// The administrator command through polkit: `<program> /bin/sh -c ...` with `command` as one
// argument, so it reaches the shell unchanged.
Platform::PreparedProcess administratorProcess(const QString& command,
                                               const QString& program = QString::fromLatin1(pkexecPath));
Administrator pkexec(const QString& program = QString::fromLatin1(pkexecPath));
std::optional<QString> runAsAdministrator(const QString& command);

State state();
State state(const Paths& paths);

// The destination stored in the link at `socket`, not resolved further; absent when it is not a
// symbolic link or cannot be read.
std::optional<QString> target();
std::optional<QString> target(const QString& socket);

// Whether a link's stored destination leads to `target`: the whole path, exactly as written.
bool pointsAt(const QString& destination, const QString& target);

// A path for the shell: in single quotes, each inner quote written as '\''.
QString shellQuote(const QString& path);

// The launch daemon that runs `/bin/ln -sf <target> /var/run/docker.sock` at load and every boot.
QString plist(const QString& target);
// Installs a prepared property list as the launch daemon, loads it and links at once.
QString installCommand(const QString& plistFile, const QString& target);
// Unloads and deletes the launch daemon; removes the link only while it still leads to `target`.
QString removeCommand(const QString& target);

// The texts this host runs in their place.
namespace Linux {
// The systemd-tmpfiles line that recreates the link at boot; absent when a path holds a control
// character, which the line cannot carry.
std::optional<QString> tmpfilesEntry(const QString& target, const QString& socket);
// Installs the prepared entry file and links at once. `ln -sfn`, so a link to a folder is replaced
// rather than written into.
QString installCommand(const QString& entryFile, const QString& target, const Paths& paths);
// Deletes the entry; removes the link only while it still leads to `target`.
QString removeCommand(const QString& target, const Paths& paths);
} // namespace Linux

// Links the default socket to Colima's, permanently. The entry handed to root is written into a
// fresh private directory that is removed again afterwards.
std::optional<QString> pointAtColima();
std::optional<QString> pointAtColima(const Paths& paths, const Administrator& administrator);

// Stops using Colima as the default: deletes the entry and the link while it still leads there.
std::optional<QString> stopUsingColima();
std::optional<QString> stopUsingColima(const Paths& paths, const Administrator& administrator);

} // namespace DefaultSocket
