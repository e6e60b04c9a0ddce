#include "diagnostics/ToolsDump.h"

#include "diagnostics/Output.h"
#include "toolchain/Scripts.h"
#include "toolchain/ServicesStatus.h"
#include "toolchain/Survey.h"
#include "toolchain/ToolJob.h"
#include "toolchain/Toolchain.h"

#include <QCoreApplication>
#include <QTextStream>

namespace Diagnostics {

namespace {

// A missing version prints as a hyphen here, unlike the dumps' dash: the lines are meant for grep.
QString orHyphen(const std::optional<QString>& value)
{
    return value.value_or(QStringLiteral("-"));
}

QString toolLine(Tool tool, const std::optional<QString>& latest)
{
    tool.latest = latest;
    const bool older = tool.hasUpdate();
    QString state;
    if (!tool.installed)
        state = QStringLiteral("not installed");
    else if (!latest)
        state = QStringLiteral("latest unknown");
    else if (older)
        state = QStringLiteral("update available");
    else
        state = QStringLiteral("up to date");

    QString line = QStringLiteral("  ") + tool.formula + QStringLiteral("  installed ") +
                   orHyphen(tool.installed) + QStringLiteral("  latest ") + orHyphen(latest) +
                   QStringLiteral("  brew-owned ") +
                   (tool.brewManaged ? QStringLiteral("true") : QStringLiteral("false")) +
                   QStringLiteral("  [") + state + u']';
    // Only Homebrew can update what it installed; a tool installed another way is left to its owner.
    if (older && tool.brewManaged)
        line += QStringLiteral("  -> can update");
    return line;
}

void printScript(QTextStream& out, const QString& label, const QString& script)
{
    printLine(out, QStringLiteral("--- ") + label + QStringLiteral(" ---"));
    printLines(out, script);
}

} // namespace

ToolsHost ToolsHost::current()
{
    return {Toolchain::brewPath(), LoginItem::state(), QCoreApplication::applicationFilePath()};
}

void runToolsDump(QTextStream& out, bool withScripts)
{
    runToolsDump(out, withScripts, ToolsHost::current());
}

void runToolsDump(QTextStream& out, bool withScripts, const ToolsHost& host)
{
    const bool brewPresent = host.brewPath.has_value();
    printLine(out, QStringLiteral("brew: ") + host.brewPath.value_or(QStringLiteral("not found")));

    const QMap<QString, QString> latest = Toolchain::brewLatest(brewPresent);
    const QList<Tool> tools = Toolchain::survey(brewPresent);
    for (const Tool& tool : tools) {
        std::optional<QString> newest;
        if (const auto found = latest.constFind(tool.formula); found != latest.cend())
            newest = found.value();
        printLine(out, toolLine(tool, newest));
    }

    const SystemStatus status = Toolchain::readSystemStatus();
    QString services = QStringLiteral("services: ") +
                       (status.running ? QStringLiteral("running") : QStringLiteral("stopped")) +
                       QStringLiteral("  client ") + orHyphen(status.clientVersion) +
                       QStringLiteral("  server ") + orHyphen(status.serverVersion);
    if (status.needsRestart())
        services += QStringLiteral("  [restart needed]");
    printLine(out, services);

    printLine(out, QStringLiteral("login item: ") + LoginItem::name(host.loginItem) +
                       QStringLiteral("  bundle ") + host.bundlePath);

    if (!withScripts)
        return;
    printScript(out, QStringLiteral("install"),
                Toolchain::installScript({QStringLiteral("container"), QStringLiteral("socktainer")}));
    printScript(out, QStringLiteral("start"), ToolJob::start().script());
    printScript(out, QStringLiteral("restart"), ToolJob::restart().script());
}

} // namespace Diagnostics
