#include "app/parts/DesktopHost.h"

#include "app/parts/DialogAnswer.h"
#include "app/parts/FolderChooser.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>


namespace {

// The chosen paths once the dialog was confirmed; nothing when it was cancelled or went away. The
// dialog is let go either way.
QCoro::Task<QStringList> confirmedFiles(QFileDialog* dialog)
{
    QPointer<QFileDialog> guard(dialog);
    const int result = co_await answerOf(dialog);
    if (!guard)
        co_return QStringList();
    guard->deleteLater();
    co_return result == QDialog::Accepted ? guard->selectedFiles() : QStringList();
}

} // namespace

QCoro::Task<std::optional<Host::FolderChoice>> DesktopHost::chooseFolder(QWidget* parent, FolderRequest request)
{
    // Not Qt's file dialog: it looks at what is typed and at every folder it shows on the window's thread,
    // and a folder on a mount that stalls would hold the window (and the way out) with it.
    auto* dialog = new FolderChooser(request, parent);
    QPointer<FolderChooser> guard(dialog);
    const int result = co_await answerOf(dialog);
    if (!guard)
        co_return std::nullopt;
    guard->deleteLater();
    const QString path = guard->chosenPath();
    if (result != QDialog::Accepted || path.isEmpty())
        co_return std::nullopt;
    co_return FolderChoice{path, guard->choice()};
}

QCoro::Task<std::optional<QString>> DesktopHost::chooseSaveFile(QWidget* parent, QString suggestedName)
{
    auto* dialog = new QFileDialog(parent);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->selectFile(suggestedName);

    const QStringList files = co_await confirmedFiles(dialog);
    if (files.isEmpty())
        co_return std::nullopt;
    co_return files.first();
}

bool DesktopHost::reveal(const QString& folder)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

bool DesktopHost::openUrl(const QUrl& url)
{
    return url.isValid() && QDesktopServices::openUrl(url);
}

void DesktopHost::copy(const QString& text)
{
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(text, QClipboard::Clipboard);
}

std::optional<QString> DesktopHost::terminalProgram(const QProcessEnvironment& environment)
{
    const QStringList path = environment.value(QStringLiteral("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
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
    process.setProcessEnvironment(command.environment);
    if (command.workingDirectory)
        process.setWorkingDirectory(*command.workingDirectory);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached())
        return QStringLiteral("The terminal %1 could not be started.").arg(*terminal);
    return std::nullopt;
}
