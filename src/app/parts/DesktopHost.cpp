#include "app/parts/DesktopHost.h"

#include "app/parts/DialogAnswer.h"
#include "app/parts/FileChooserPortal.h"
#include "app/parts/FolderChooser.h"
#include "platform/Foundlings.h"
#include "platform/SessionBus.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QWidget>

namespace {

// What the user picked in Voskel's own chooser; nothing when it was cancelled or went away. The chooser
// is let go either way.
QCoro::Task<std::optional<Host::FolderChoice>> ownChoice(FolderChooser* dialog)
{
    QPointer<FolderChooser> guard(dialog);
    const int result = co_await answerOf(dialog);
    if (!guard)
        co_return std::nullopt;
    guard->deleteLater();
    const QString path = guard->chosenPath();
    if (result != QDialog::Accepted || path.isEmpty())
        co_return std::nullopt;
    co_return Host::FolderChoice{path, guard->choice()};
}

} // namespace

DesktopHost::DesktopHost() : DesktopHost(QDBusConnection::sessionBus())
{
}

DesktopHost::DesktopHost(QDBusConnection bus) : m_bus(std::move(bus))
{
}

QString DesktopHost::portalParent(const QWidget* window)
{
    if (!window || QGuiApplication::platformName() != u"xcb")
        return {};
    // Never made here: a window without a native one of its own yet has nothing to name.
    const WId id = window->window()->internalWinId();
    return id ? QStringLiteral("x11:") + QString::number(quintptr(id), 16) : QString();
}

QCoro::Task<std::optional<Host::FolderChoice>> DesktopHost::chooseFolder(QWidget* parent,
                                                                         FolderRequest request)
{
    const QPointer<QWidget> over(parent);
    FileChooserPortal::FolderQuestion question{request.title.isEmpty() ? FolderChooser::defaultTitle()
                                                                       : request.title,
                                               request.prompt,
                                               request.startIn,
                                               request.choicesLabel,
                                               request.choices,
                                               request.chosen};
    auto asking = FileChooserPortal::chooseFolder(m_bus, portalParent(parent), question);
    const FileChooserPortal::Answer answer = co_await std::move(asking);
    if (answer.kind == FileChooserPortal::Answer::Kind::cancelled || (parent && !over))
        co_return std::nullopt;
    if (answer.kind == FileChooserPortal::Answer::Kind::chosen) {
        // A portal that shows no pop-up keeps the entry it would have opened on.
        std::optional<int> choice;
        if (!request.choices.isEmpty())
            choice = answer.choice.value_or(request.chosen);
        co_return FolderChoice{answer.path, choice};
    }

    // Not Qt's file dialog: it looks at what is typed and at every folder it shows on the window's thread,
    // and a folder on a mount that stalls would hold the window (and the way out) with it.
    co_return co_await ownChoice(new FolderChooser(request, over.data()));
}

QCoro::Task<std::optional<QString>> DesktopHost::chooseSaveFile(QWidget* parent, QString suggestedName)
{
    const QPointer<QWidget> over(parent);
    // In the home folder, as the own panel starts: left to itself the portal opens where it was started.
    auto asking = FileChooserPortal::chooseSaveFile(
        m_bus, portalParent(parent), {QStringLiteral("Save"), suggestedName, QDir::homePath()});
    const FileChooserPortal::Answer answer = co_await std::move(asking);
    if (answer.kind == FileChooserPortal::Answer::Kind::cancelled || (parent && !over))
        co_return std::nullopt;
    if (answer.kind == FileChooserPortal::Answer::Kind::chosen)
        co_return answer.path;

    // Not Qt's file dialog either: typing a path on a mount that stalls into its name held the window.
    const std::optional<FolderChoice> choice =
        co_await ownChoice(new FolderChooser(suggestedName, QDir::homePath(), over.data()));
    if (!choice)
        co_return std::nullopt;
    co_return choice->path;
}

namespace {

// The browser or file manager a link opens is the user's and runs on: where this process stands in for
// a session without a bus, it gets the session's environment as it was, not the stand-in.
bool openAsTheSessionWould(const QUrl& url)
{
    if (qgetenv("DBUS_SESSION_BUS_ADDRESS") != QByteArray(Platform::SessionBus::none))
        return QDesktopServices::openUrl(url);
    QProcess opener;
    opener.setProgram(QStringLiteral("xdg-open"));
    opener.setArguments({url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded)});
    opener.setProcessEnvironment(
        Platform::SessionBus::asTheSessionGaveIt(QProcessEnvironment::systemEnvironment()));
    qint64 pid = 0;
    if (!opener.startDetached(&pid))
        return false;
    Platform::letRunOn(pid);
    return true;
}

} // namespace

bool DesktopHost::reveal(const QString& folder)
{
    return openAsTheSessionWould(QUrl::fromLocalFile(folder));
}

bool DesktopHost::openUrl(const QUrl& url)
{
    return url.isValid() && openAsTheSessionWould(url);
}

void DesktopHost::copy(const QString& text)
{
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(text, QClipboard::Clipboard);
}

std::optional<QString> DesktopHost::terminalProgram(const QProcessEnvironment& environment)
{
    const QStringList path =
        environment.value(QStringLiteral("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    QStringList candidates;
    const QString chosen = environment.value(QStringLiteral("TERMINAL")).trimmed();
    if (!chosen.isEmpty())
        candidates << chosen;
    candidates << QStringLiteral("x-terminal-emulator");
    for (const QString& candidate : candidates) {
        if (candidate.contains(QLatin1Char('/'))) {
            const QFileInfo file(candidate);
            if (file.isFile() && file.isExecutable())
                return file.absoluteFilePath();
            continue;
        }
        const QString found = QStandardPaths::findExecutable(candidate, path);
        if (!found.isEmpty())
            return found;
    }
    return std::nullopt;
}

QStringList DesktopHost::terminalArguments(const QString& terminal, const Platform::PreparedProcess& command)
{
    const QString name = QFileInfo(terminal).fileName();
    QString runTheRest = QStringLiteral("-e");
    if (name == u"gnome-terminal" || name == u"kgx" || name == u"ptyxis")
        runTheRest = QStringLiteral("--");
    else if (name == u"xfce4-terminal" || name == u"mate-terminal" || name == u"terminator")
        runTheRest = QStringLiteral("-x");
    return QStringList{runTheRest, command.program} + command.arguments;
}

std::optional<QString> DesktopHost::openTerminal(const Platform::PreparedProcess& command)
{
    const std::optional<QString> terminal = terminalProgram(command.environment);
    if (!terminal)
        return QStringLiteral("No terminal emulator was found: set $TERMINAL to one, or install one that "
                              "provides x-terminal-emulator.");
    QProcess process;
    process.setProgram(*terminal);
    process.setArguments(terminalArguments(*terminal, command));
    process.setProcessEnvironment(Platform::SessionBus::asTheSessionGaveIt(command.environment));
    if (command.workingDirectory)
        process.setWorkingDirectory(*command.workingDirectory);
    process.setStandardInputFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid))
        return QStringLiteral("The terminal %1 could not be started.").arg(*terminal);
    // It comes back to Voskel (the subreaper of what it starts) at once, and is the user's to close.
    Platform::letRunOn(pid);
    return std::nullopt;
}
