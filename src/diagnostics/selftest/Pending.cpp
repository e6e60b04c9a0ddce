#include "diagnostics/selftest/Pending.h"

#include "app/shell/MenuRow.h"
#include "sheets/LogSource.h"
#include "toolchain/ToolJob.h"

// The operations not built yet answer none; the others forward to where they live.
namespace SelfTest::Pending {

std::optional<QString> trayButtonWord(const QString& state)
{
    return MenuRow::actionTitle(state);
}

std::optional<QStringList> containerLogArgs(const Container& container, std::optional<int> tail,
                                            const std::optional<QString>& since)
{
    return LogSource::container(container).args(tail, since);
}

std::optional<std::optional<QStringList>> containerBootArgs(const Container& container, int tail)
{
    return LogSource::container(container).bootArgs(tail);
}

std::optional<QStringList> projectLogArgs(const ComposeProject& project, std::optional<int> tail,
                                          const std::optional<QString>& since)
{
    return LogSource::project(project).args(tail, since);
}

std::optional<QStringList> systemLogArgs(const QString& since)
{
    return LogSource::systemArgs(since);
}

std::optional<QStringList> inspectArgs(const Container& container)
{
    return LogSource::inspect(container).args(std::nullopt, std::nullopt);
}

std::optional<QString> inspectFileName(const DockerImage& image)
{
    return LogSource::inspectImage(image).saveName();
}

std::optional<std::optional<QString>> cloneFolderName(const QString&)
{
    return std::nullopt;
}

std::optional<QStringList> cloneArgs(const QString&, const QString&)
{
    return std::nullopt;
}

std::optional<QString> startJobScript()
{
    return ToolJob::start().script();
}

std::optional<QString> restartJobScript()
{
    return ToolJob::restart().script();
}

std::optional<QString> upgradeJobScript(const QStringList& formulae)
{
    return ToolJob::upgrade(formulae).script();
}

std::optional<QString> engineRestartJobScript(std::optional<int> cpus, std::optional<int> memoryGB)
{
    return ToolJob::engineRestart(cpus, memoryGB).script();
}

} // namespace SelfTest::Pending
