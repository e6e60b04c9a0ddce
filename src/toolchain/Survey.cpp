#include "toolchain/Survey.h"

#include "platform/Json.h"
#include "toolchain/KeyedRows.h"
#include "toolchain/Toolchain.h"

namespace Toolchain {

namespace {

using Parser = QMap<QString, QString> (*)(const QString&);

// Runs one Homebrew command naming every catalogue formula and parses what it prints. Homebrew's
// exit status and error output say nothing the parsers could use, so they are ignored.
QMap<QString, QString> brewQuery(bool brewPresent, const QStringList& prefix, Parser parse)
{
    if (!brewPresent)
        return {};
    QStringList argv = prefix;
    for (const Tool& tool : all())
        argv << tool.formula;
    return parse(capture(argv).out);
}

} // namespace

QList<Tool> survey()
{
    return survey(brewPath().has_value());
}

QList<Tool> survey(bool brewPresent)
{
    const QMap<QString, QString> listed =
        brewQuery(brewPresent,
                  {QStringLiteral("brew"), QStringLiteral("list"), QStringLiteral("--formula"),
                   QStringLiteral("--versions")},
                  parseBrewList);

    QList<Tool> tools;
    for (const Tool& row : all()) {
        Tool tool = row;
        const Platform::Capture probe = capture(QStringList{row.binary} + row.versionArgs);
        if (probe.status == 0)
            tool.installed = firstVersion(probe.out + QLatin1Char('\n') + probe.err);
        // A plugin's probe is the only proof that docker can load it; Homebrew may list a copy that
        // was never linked into docker's plugin folder.
        if (!tool.installed && !row.isPlugin && listed.contains(row.formula))
            tool.installed = listed.value(row.formula);
        tool.brewManaged = listed.contains(row.formula);
        tools.append(tool);
    }
    return tools;
}

QMap<QString, QString> brewLatest()
{
    return brewLatest(brewPath().has_value());
}

QMap<QString, QString> brewLatest(bool brewPresent)
{
    return brewQuery(brewPresent,
                     {QStringLiteral("brew"), QStringLiteral("info"), QStringLiteral("--json=v2")},
                     parseBrewInfo);
}

std::optional<QString> refreshIndex()
{
    return refreshIndex(brewPath().has_value());
}

std::optional<QString> refreshIndex(bool brewPresent)
{
    if (!brewPresent)
        return QStringLiteral("Homebrew not found.");
    const Platform::Capture update =
        capture({QStringLiteral("brew"), QStringLiteral("update"), QStringLiteral("--quiet")});
    if (update.status == 0)
        return std::nullopt;
    // Error output is preferred whenever there is any, even if only blanks, so a blank one falls
    // through to the generic text rather than to whatever progress Homebrew printed.
    const QString problem = (update.err.isEmpty() ? update.out : update.err).trimmed();
    if (!problem.isEmpty())
        return problem;
    return QStringLiteral("brew update failed (exit %1).").arg(update.status);
}

QMap<QString, QString> parseBrewList(const QString& text)
{
    QMap<QString, QString> versions;
    for (const auto& [formula, listed] : keyedRows(text))
        versions.insert(formula, *newest(listed));
    return versions;
}

QMap<QString, QString> parseBrewInfo(const QString& text)
{
    const std::optional<QList<QJsonObject>> entries =
        Platform::objectArray(Platform::parseJson(text).toObject().value(QLatin1String("formulae")));
    if (!entries)
        return {};

    QMap<QString, QString> versions;
    for (const QJsonObject& formula : *entries) {
        const QJsonValue name = formula.value(QLatin1String("name"));
        const QJsonValue stable =
            formula.value(QLatin1String("versions")).toObject().value(QLatin1String("stable"));
        if (!name.isString() || !formula.value(QLatin1String("versions")).isObject() || !stable.isString())
            continue;
        QString version = stable.toString();
        const auto revision = Platform::jsonWholeNumber(formula.value(QLatin1String("revision")));
        if (revision && *revision >= 1)
            version += QLatin1Char('_') + QString::number(*revision);
        versions.insert(name.toString(), version);
    }
    return versions;
}

} // namespace Toolchain
