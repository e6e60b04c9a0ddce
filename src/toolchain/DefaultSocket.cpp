#include "toolchain/DefaultSocket.h"

#include "platform/ProcessRunner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace DefaultSocket {

namespace {

// Printed by our own shell before it hands over to the command. polkit's own failures (126 for a
// dismissed prompt, 127 for a refusal) come before it, so its presence tells them apart from the
// command's exit statuses 126 and 127.
constexpr auto startedMarker = "voskel-administrator-started";

QString couldNotRun()
{
    return QStringLiteral("The command could not be run.");
}

bool hasControlCharacter(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

QString hexEscape(QChar c)
{
    return QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
}

std::optional<QString> readLink(const QByteArray& path)
{
    QByteArray buffer(256, Qt::Uninitialized);
    for (;;) {
        const ssize_t length = ::readlink(path.constData(), buffer.data(), size_t(buffer.size()));
        if (length < 0)
            return std::nullopt;
        if (length < buffer.size())
            return QFile::decodeName(buffer.left(length));
        // Possibly cut off: try again with room to spare.
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

QString colimaSocket()
{
    return QDir::homePath() + QStringLiteral("/.colima/default/docker.sock");
}

Paths Paths::system()
{
    return {QString::fromLatin1(socketPath), QString::fromLatin1(tmpfilesEntryPath),
            DefaultSocket::colimaSocket(), QDir::tempPath()};
}

Platform::PreparedProcess administratorProcess(const QString& command, const QString& program)
{
    Platform::PreparedProcess prepared;
    prepared.program = program;
    prepared.arguments = {
        QStringLiteral("/bin/sh"), QStringLiteral("-c"),
        QStringLiteral("printf '%1\\n'; exec /bin/sh -c \"$1\"").arg(QString::fromLatin1(startedMarker)),
        QStringLiteral("voskel"), command};
    return prepared;
}

Administrator pkexec(const QString& program)
{
    return [program](const QString& command) -> std::optional<QString> {
        const Platform::Completed run = Platform::runToEnd(administratorProcess(command, program));
        if (!run.started)
            return couldNotRun() + QLatin1Char(' ') + run.launchError;

        // Raw bytes: whatever the command prints after the marker cannot hide it.
        const bool commandRan = run.out.startsWith(QByteArray(startedMarker) + '\n');
        const QString problem = QString::fromUtf8(run.err).trimmed();
        if (!commandRan) {
            if (run.status() == 126)
                return std::nullopt; // the password prompt was dismissed
            return problem.isEmpty() ? couldNotRun() : problem;
        }
        if (run.succeeded())
            return std::nullopt;
        return problem.isEmpty() ? QStringLiteral("The command exited with status %1.").arg(run.status())
                                 : problem;
    };
}

std::optional<QString> runAsAdministrator(const QString& command)
{
    return pkexec()(command);
}

State state()
{
    return state(Paths::system());
}

State state(const Paths& paths)
{
    const QByteArray socket = QFile::encodeName(paths.socket);
    struct stat info;
    const bool present = ::lstat(socket.constData(), &info) == 0;
    const bool resolves = ::stat(socket.constData(), &info) == 0;
    const std::optional<QString> destination = readLink(socket);

    if (destination) {
        if (pointsAt(*destination, paths.colimaSocket))
            return State::colima(QFileInfo::exists(paths.permanentEntry));
        return present && resolves ? State::taken() : State::free();
    }
    return present ? State::taken() : State::free();
}

std::optional<QString> target()
{
    return target(QString::fromLatin1(socketPath));
}

std::optional<QString> target(const QString& socket)
{
    return readLink(QFile::encodeName(socket));
}

bool pointsAt(const QString& destination, const QString& target)
{
    return destination == target;
}

QString shellQuote(const QString& path)
{
    QString quoted = path;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString plist(const QString& target)
{
    QString escaped = target;
    escaped.replace(QLatin1Char('&'), QStringLiteral("&amp;"));
    escaped.replace(QLatin1Char('<'), QStringLiteral("&lt;"));
    escaped.replace(QLatin1Char('>'), QStringLiteral("&gt;"));

    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                          "<plist version=\"1.0\">\n"
                          "<dict>\n"
                          "  <key>Label</key><string>%1</string>\n"
                          "  <key>ProgramArguments</key>\n"
                          "  <array>\n"
                          "    <string>/bin/ln</string><string>-sf</string>\n"
                          "    <string>%2</string><string>%3</string>\n"
                          "  </array>\n"
                          "  <key>RunAtLoad</key><true/>\n"
                          "</dict>\n"
                          "</plist>\n")
        .arg(QString::fromLatin1(label), escaped, QString::fromLatin1(socketPath));
}

QString installCommand(const QString& plistFile, const QString& target)
{
    const QString daemon = shellQuote(QString::fromLatin1(plistPath));
    return QStringLiteral("/usr/bin/install -m 644 -o root -g wheel ") + shellQuote(plistFile) +
           QLatin1Char(' ') + daemon + QStringLiteral(" && { /bin/launchctl bootout system/") +
           QString::fromLatin1(label) + QStringLiteral(" 2>/dev/null; /bin/launchctl bootstrap system ") +
           daemon + QStringLiteral("; }") + QStringLiteral(" && /bin/ln -sf ") + shellQuote(target) +
           QLatin1Char(' ') + shellQuote(QString::fromLatin1(socketPath));
}

QString removeCommand(const QString& target)
{
    const QString socket = shellQuote(QString::fromLatin1(socketPath));
    return QStringLiteral("/bin/launchctl bootout system/") + QString::fromLatin1(label) +
           QStringLiteral(" 2>/dev/null; /bin/rm -f ") + shellQuote(QString::fromLatin1(plistPath)) +
           QLatin1Char(';') + QStringLiteral(" if [ \"$(/usr/bin/readlink ") + socket +
           QStringLiteral(")\" = ") + shellQuote(target) + QStringLiteral(" ]; then /bin/rm -f ") + socket +
           QStringLiteral("; fi");
}

namespace Linux {

std::optional<QString> tmpfilesEntry(const QString& target, const QString& socket)
{
    if (hasControlCharacter(target) || hasControlCharacter(socket))
        return std::nullopt;

    // The path field is unquoted and unescaped by tmpfiles; "%" starts a specifier in both fields.
    QString path = socket;
    path.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    path.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    path.replace(QLatin1Char('%'), QStringLiteral("%%"));

    // The argument runs to the end of the line with its outer blanks trimmed and C escapes applied,
    // so blanks are written as escapes.
    QString argument;
    for (const QChar c : target) {
        if (c == u'\\')
            argument += QStringLiteral("\\\\");
        else if (c == u'%')
            argument += QStringLiteral("%%");
        else if (c == u' ')
            argument += hexEscape(c);
        else
            argument += c;
    }
    return QStringLiteral("L+ \"") + path + QStringLiteral("\" - - - - ") + argument + QLatin1Char('\n');
}

QString installCommand(const QString& entryFile, const QString& target, const Paths& paths)
{
    return QStringLiteral("/usr/bin/install -D -m 644 ") + shellQuote(entryFile) + QLatin1Char(' ') +
           shellQuote(paths.permanentEntry) + QStringLiteral(" && /bin/ln -sfn ") + shellQuote(target) +
           QLatin1Char(' ') + shellQuote(paths.socket);
}

QString removeCommand(const QString& target, const Paths& paths)
{
    const QString socket = shellQuote(paths.socket);
    return QStringLiteral("/bin/rm -f ") + shellQuote(paths.permanentEntry) +
           QStringLiteral("; if [ \"$(/usr/bin/readlink ") + socket + QStringLiteral(")\" = ") +
           shellQuote(target) + QStringLiteral(" ]; then /bin/rm -f ") + socket + QStringLiteral("; fi");
}

} // namespace Linux

std::optional<QString> pointAtColima()
{
    return pointAtColima(Paths::system(), pkexec());
}

std::optional<QString> pointAtColima(const Paths& paths, const Administrator& administrator)
{
    const QString socket = paths.colimaSocket;
    const std::optional<QString> entry = Linux::tmpfilesEntry(socket, paths.socket);
    if (!entry)
        return QStringLiteral(
            "The socket path holds a control character and cannot be kept after a restart.");

    // A fresh directory only this user can enter, so nobody can swap the file before root reads it.
    QTemporaryDir folder(QDir(paths.temporaryRoot).filePath(QStringLiteral("voskel-socket-XXXXXX")));
    if (!folder.isValid())
        return folder.errorString();
    QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QSaveFile file(folder.filePath(QStringLiteral("docker-socket.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(entry->toUtf8()) < 0 || !file.commit())
        return file.errorString();

    return administrator(Linux::installCommand(file.fileName(), socket, paths));
}

std::optional<QString> stopUsingColima()
{
    return stopUsingColima(Paths::system(), pkexec());
}

std::optional<QString> stopUsingColima(const Paths& paths, const Administrator& administrator)
{
    return administrator(Linux::removeCommand(paths.colimaSocket, paths));
}

} // namespace DefaultSocket
