#include "toolchain/Toolchain.h"

#include "platform/ProcessRunner.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace Toolchain {

namespace {

// Homebrew first, then the system's own folders, so a tool resolves the same whatever search path
// the application was started with.
QStringList searchPrefix()
{
    return Platform::homebrewBinDirectories() << QStringLiteral("/usr/bin") << QStringLiteral("/bin");
}

} // namespace

Platform::PreparedProcess process(const QStringList& argv)
{
    Platform::PreparedProcess prepared;
    prepared.program = QStringLiteral("/usr/bin/env");
    prepared.arguments = argv;

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"),
               Platform::childSearchPath(searchPrefix(), env.value(QStringLiteral("PATH"))));
    for (const char* quiet :
         {"HOMEBREW_NO_COLOR", "HOMEBREW_NO_EMOJI", "HOMEBREW_NO_ENV_HINTS", "HOMEBREW_NO_AUTO_UPDATE"})
        env.insert(QString::fromLatin1(quiet), QStringLiteral("1"));
    prepared.environment = env;
    return prepared;
}

Platform::Capture capture(const QStringList& argv)
{
    return Platform::capture(process(argv));
}

QStringList brewLocations()
{
    QStringList locations;
    for (const QString& dir : Platform::homebrewBinDirectories())
        locations << dir + QStringLiteral("/brew");
    return locations;
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
