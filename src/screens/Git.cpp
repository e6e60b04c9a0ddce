#include "screens/Git.h"

#include "engine/Container.h"
#include "toolchain/Toolchain.h"

namespace Git {

std::optional<QString> folderName(const QString& url)
{
    QString text = Docker::trimBlanks(url);
    while (text.endsWith(u'/'))
        text.chop(1);
    if (text.endsWith(QLatin1String(".git")))
        text.chop(4);
    if (!text.contains(u'/') && !text.contains(u':'))
        return std::nullopt;
    QString last;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text.at(i) == u'/' || text.at(i) == u':') {
            if (i > start)
                last = text.mid(start, i - start);
            start = i + 1;
        }
    }
    if (last.isEmpty() || last == QLatin1String(".") || last == QLatin1String(".."))
        return std::nullopt;
    return last;
}

QStringList cloneArgs(const QString& url, const QString& destination)
{
    return {QStringLiteral("git"), QStringLiteral("clone"), QStringLiteral("--"), Docker::trimBlanks(url),
            destination};
}

Platform::PreparedProcess cloneProcess(const QString& url, const QString& destination)
{
    Platform::PreparedProcess process = Toolchain::process(cloneArgs(url, destination));
    process.environment.insert(QStringLiteral("GIT_TERMINAL_PROMPT"), QStringLiteral("0"));
    // Overrides protocol.allow and every protocol.<name>.allow of the user's configuration.
    process.environment.insert(QStringLiteral("GIT_ALLOW_PROTOCOL"), QString::fromLatin1(allowedProtocols));
    return process;
}

std::optional<QChar> controlCharacter(const QString& text)
{
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control)
            return c;
    return std::nullopt;
}

} // namespace Git
