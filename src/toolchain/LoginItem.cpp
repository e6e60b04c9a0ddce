#include "toolchain/LoginItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace LoginItem {

namespace {

constexpr auto entryFileName = "voskel.desktop";

// Characters that force an argument into quotes.
bool needsQuotes(const QString& argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    if (argument.isEmpty())
        return true;
    return std::any_of(argument.cbegin(), argument.cend(), [](QChar c) { return reserved.contains(c); });
}

QString quoteArgument(QString argument)
{
    // Field codes are expanded after unquoting, so a literal "%" is doubled inside quotes too.
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
    if (!needsQuotes(argument))
        return argument;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : std::as_const(argument)) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

// The escapes every string value of a desktop entry goes through, applied after quoting.
QString escapeValue(const QString& value)
{
    QString escaped;
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\':
            escaped += QStringLiteral("\\\\");
            break;
        case '\n':
            escaped += QStringLiteral("\\n");
            break;
        case '\t':
            escaped += QStringLiteral("\\t");
            break;
        case '\r':
            escaped += QStringLiteral("\\r");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// Whether the desktop was told to skip the entry (a user may switch it off in the desktop's own
// startup settings, which edit the same file).
bool isSkipped(const QString& text)
{
    bool inMainGroup = false;
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == u"[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if ((key == u"Hidden" && value == u"true") ||
            (key == u"X-GNOME-Autostart-enabled" && value == u"false"))
            return true;
    }
    return false;
}

} // namespace

QString name(State state)
{
    switch (state) {
    case State::On:
        return QStringLiteral("on");
    case State::Off:
        return QStringLiteral("off");
    case State::NeedsApproval:
        return QStringLiteral("needsApproval");
    }
    return QStringLiteral("off");
}

Entry Entry::application()
{
    return {QDir(autostartDirectory()).filePath(QString::fromLatin1(entryFileName)),
            {QCoreApplication::applicationFilePath()}};
}

QString autostartDirectory()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart");
}

QString execLine(const QStringList& command)
{
    QStringList arguments;
    for (const QString& argument : command)
        arguments << quoteArgument(argument);
    return escapeValue(arguments.join(QLatin1Char(' ')));
}

QString desktopEntry(const QStringList& command)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Voskel\n"
                          "Exec=%1\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execLine(command));
}

void set(bool on)
{
    set(on, Entry::application());
}

void set(bool on, const Entry& entry)
{
    if (!on) {
        QFile file(entry.file);
        if (QFileInfo(entry.file).isSymLink() || file.exists()) {
            if (!file.remove())
                throw Error(
                    QStringLiteral("The login item could not be removed: %1").arg(file.errorString()));
        }
        return;
    }

    const QString folder = QFileInfo(entry.file).absolutePath();
    if (!QDir().mkpath(folder))
        throw Error(QStringLiteral("The login item could not be saved: cannot create %1").arg(folder));
    QSaveFile file(entry.file);
    if (!file.open(QIODevice::WriteOnly) || file.write(desktopEntry(entry.command).toUtf8()) < 0 ||
        !file.commit())
        throw Error(QStringLiteral("The login item could not be saved: %1").arg(file.errorString()));
}

State state()
{
    return state(Entry::application());
}

State state(const Entry& entry)
{
    QFile file(entry.file);
    if (!file.open(QIODevice::ReadOnly))
        return State::Off;
    return isSkipped(QString::fromUtf8(file.readAll())) ? State::Off : State::On;
}

} // namespace LoginItem
