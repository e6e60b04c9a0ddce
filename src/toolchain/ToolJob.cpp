#include "toolchain/ToolJob.h"

#include "toolchain/Scripts.h"

#include <QHashFunctions>

QString ToolJob::title() const
{
    switch (kind) {
    case Kind::upgrade:
        return QStringLiteral("Updating ") + formulae.join(QStringLiteral(", "));
    case Kind::install:
        return QStringLiteral("Installing ") + formulae.join(QStringLiteral(", "));
    case Kind::start:
        return QStringLiteral("Starting the runtime");
    case Kind::restart:
        return QStringLiteral("Restarting the runtime");
    case Kind::builderStart:
        return QStringLiteral("Starting the image builder");
    case Kind::builderStop:
        return QStringLiteral("Stopping the image builder");
    case Kind::builderDelete:
        return QStringLiteral("Deleting the image builder");
    case Kind::engineStart:
        return QStringLiteral("Starting the Docker engine");
    case Kind::engineRestart:
        return QStringLiteral("Restarting the Docker engine");
    case Kind::engineStop:
        return QStringLiteral("Stopping the Docker engine");
    }
    return {};
}

QString ToolJob::script() const
{
    switch (kind) {
    case Kind::upgrade:
        return Toolchain::upgradeScript(formulae);
    case Kind::install:
        return Toolchain::installScript(formulae);
    case Kind::start:
        return Toolchain::servicesScript(QStringLiteral("start"));
    case Kind::restart:
        return QStringLiteral("container system stop\n") +
               Toolchain::servicesScript(QStringLiteral("restart"));
    case Kind::builderStart:
        return Toolchain::builderStartScript(cpus, memoryGB);
    case Kind::builderStop:
        return QStringLiteral("container builder stop");
    case Kind::builderDelete:
        return QStringLiteral("container builder delete");
    case Kind::engineStart:
        return Toolchain::engineStartScript(cpus, memoryGB);
    case Kind::engineRestart:
        return QStringLiteral("colima stop\n") + Toolchain::engineStartScript(cpus, memoryGB);
    case Kind::engineStop:
        return QStringLiteral("colima stop");
    }
    return {};
}

QString ToolJob::banner() const
{
    const QString text = script();
    return text.contains(QLatin1Char('\n')) ? text : QStringLiteral("$ ") + text;
}

QString ToolJob::id() const
{
    switch (kind) {
    case Kind::upgrade:
        return QStringLiteral("upgrade:") + formulae.join(QLatin1Char(','));
    case Kind::install:
        return QStringLiteral("install:") + formulae.join(QLatin1Char(','));
    case Kind::start:
        return QStringLiteral("start");
    case Kind::restart:
        return QStringLiteral("restart");
    default:
        return script();
    }
}

size_t qHash(const ToolJob& job, size_t seed) noexcept
{
    return qHashMulti(seed, int(job.kind), job.formulae, job.cpus.value_or(-1), job.cpus.has_value(),
                      job.memoryGB.value_or(-1), job.memoryGB.has_value());
}
