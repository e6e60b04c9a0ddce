#include "diagnostics/selftest/Pending.h"

#include "app/shell/MenuRow.h"

// The operations not built yet answer none; the others forward to where they live.
namespace SelfTest::Pending {

std::optional<QString> trayButtonWord(const QString& state)
{
    return MenuRow::actionTitle(state);
}

std::optional<QStringList> containerLogArgs(const Container&, std::optional<int>,
                                            const std::optional<QString>&)
{
    return std::nullopt;
}

std::optional<std::optional<QStringList>> containerBootArgs(const Container&, int)
{
    return std::nullopt;
}

std::optional<QStringList> projectLogArgs(const ComposeProject&, std::optional<int>,
                                          const std::optional<QString>&)
{
    return std::nullopt;
}

std::optional<QStringList> systemLogArgs(const QString&)
{
    return std::nullopt;
}

std::optional<QStringList> inspectArgs(const Container&)
{
    return std::nullopt;
}

std::optional<QString> inspectFileName(const DockerImage&)
{
    return std::nullopt;
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
    return std::nullopt;
}

std::optional<QString> restartJobScript()
{
    return std::nullopt;
}

std::optional<QString> upgradeJobScript(const QStringList&)
{
    return std::nullopt;
}

std::optional<QString> engineRestartJobScript(std::optional<int>, std::optional<int>)
{
    return std::nullopt;
}

} // namespace SelfTest::Pending
