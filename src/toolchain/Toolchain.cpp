#include "toolchain/Toolchain.h"

#include "platform/ProcessRunner.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace Toolchain {

QStringList searchPrefix()
{
    return {QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin"),
            QStringLiteral("/home/linuxbrew/.linuxbrew/bin"), QStringLiteral("/usr/bin"), QStringLiteral("/bin")};
}

Platform::PreparedProcess process(const QStringList& argv)
{
    Platform::PreparedProcess spec;
    spec.program = QStringLiteral("/usr/bin/env");
    spec.arguments = argv;

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), Platform::childSearchPath(searchPrefix(), env.value(QStringLiteral("PATH"))));
    for (const char* quiet : {"HOMEBREW_NO_COLOR", "HOMEBREW_NO_EMOJI", "HOMEBREW_NO_ENV_HINTS", "HOMEBREW_NO_AUTO_UPDATE"})
        env.insert(QString::fromLatin1(quiet), QStringLiteral("1"));
    spec.environment = env;
    return spec;
}

Platform::Capture capture(const QStringList& argv)
{
    return Platform::capture(process(argv));
}

QStringList brewLocations()
{
    return {QStringLiteral("/opt/homebrew/bin/brew"), QStringLiteral("/usr/local/bin/brew"),
            QStringLiteral("/home/linuxbrew/.linuxbrew/bin/brew")};
}

std::optional<QString> brewPath()
{
    return brewPath(brewLocations());
}

std::optional<QString> brewPath(const QStringList& candidates)
{
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile() && ::access(QFile::encodeName(candidate).constData(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

} // namespace Toolchain
