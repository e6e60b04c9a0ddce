#include "diagnostics/Output.h"

#include "engine/Docker.h"
#include "platform/ProcessRunner.h"

#include <QTextStream>

namespace Diagnostics {

void printLine(QTextStream& out, const QString& line)
{
    out << line << '\n';
    out.flush();
}

QString describe(const std::exception& failure)
{
    if (const auto* docker = dynamic_cast<const DockerError*>(&failure))
        return docker->errorDescription();
    if (const auto* launch = dynamic_cast<const Platform::LaunchError*>(&failure))
        return launch->message();
    return QString::fromLocal8Bit(failure.what());
}

} // namespace Diagnostics
