#include "toolchain/Scripts.h"

#include "toolchain/Tool.h"

#include <QRegularExpression>

#include <algorithm>

namespace Toolchain {

bool isFormulaName(const QString& formula)
{
    static const QRegularExpression pattern(QStringLiteral("\\A[a-z0-9][a-z0-9._+@-]*\\z"));
    return pattern.match(formula).hasMatch();
}

namespace {

bool allFormulaNames(const QStringList& formulae)
{
    return std::all_of(formulae.cbegin(), formulae.cend(), isFormulaName);
}

// Fails visibly, so a refused job never reads as a success.
QString refusal(const QString& what)
{
    return QStringLiteral("echo 'Not a Homebrew formula name; nothing was %1.' >&2\nexit 2\n").arg(what);
}

} // namespace

QString installScript(const QStringList& formulae)
{
    if (!allFormulaNames(formulae))
        return refusal(QStringLiteral("installed"));

    QString script =
        QStringLiteral("brew install ") + formulae.join(QLatin1Char(' ')) + QStringLiteral(" || exit $?\n");
    for (const QString& formula : formulae) {
        if (!pluginFormulae().contains(formula))
            continue;
        script += QStringLiteral("mkdir -p \"$HOME/.docker/cli-plugins\" || exit $?\n"
                                 "ln -sfn \"$(brew --prefix)/lib/docker/cli-plugins/%1\"     "
                                 "\"$HOME/.docker/cli-plugins/%1\" || exit $?\n")
                      .arg(formula);
    }
    const bool startsRuntime = std::any_of(formulae.cbegin(), formulae.cend(),
                                           [](const QString& f) { return runtimeFormulae().contains(f); });
    if (startsRuntime)
        script += servicesScript(QStringLiteral("start"));
    if (formulae.contains(QStringLiteral("colima"))) {
        // The services script ends without a line break.
        if (startsRuntime)
            script += QLatin1Char('\n');
        script += engineStartScript(std::nullopt, std::nullopt) + QStringLiteral(" || exit $?\n");
    }
    return script;
}

QString upgradeScript(const QStringList& formulae)
{
    if (formulae.isEmpty() || !allFormulaNames(formulae))
        return refusal(QStringLiteral("updated"));
    return QStringLiteral("brew upgrade ") + formulae.join(QLatin1Char(' '));
}

QString servicesScript(const QString& verb)
{
    return QStringLiteral("container system start --enable-kernel-install || exit $?\n"
                          "if brew list --formula socktainer >/dev/null 2>&1; then\n"
                          "    brew services ") +
           verb + QStringLiteral(" socktainer\nfi");
}

QString engineStartScript(std::optional<int> cpus, std::optional<int> memoryGB)
{
    QString script = QStringLiteral("colima start --activate=false");
    if (cpus)
        script += QStringLiteral(" --cpus ") + QString::number(*cpus);
    if (memoryGB)
        script += QStringLiteral(" --memory ") + QString::number(*memoryGB);
    return script;
}

QString builderStartScript(std::optional<int> cpus, std::optional<int> memoryGB)
{
    QString script = QStringLiteral("container builder start");
    if (cpus)
        script += QStringLiteral(" --cpus ") + QString::number(*cpus);
    if (memoryGB)
        script += QStringLiteral(" --memory ") + QString::number(*memoryGB) + QLatin1Char('G');
    return script;
}

} // namespace Toolchain
