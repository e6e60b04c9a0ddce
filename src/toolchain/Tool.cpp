#include "toolchain/Tool.h"

#include <limits>

QString Tool::updateKey() const
{
    return formula + QLatin1Char(' ') + latest.value_or(QString());
}

bool Tool::hasUpdate() const
{
    return installed && latest && Toolchain::isOlder(*installed, *latest);
}

size_t qHash(const Tool& tool, size_t seed) noexcept
{
    return qHashMulti(seed, tool.formula, tool.name, tool.purpose, tool.homepage, tool.binary,
                      tool.versionArgs, tool.isPlugin, tool.isOptional, tool.installed.value_or(QString()),
                      tool.installed.has_value(), tool.latest.value_or(QString()), tool.latest.has_value(),
                      tool.brewManaged);
}

namespace Toolchain {

namespace {

Tool row(const char* formula, const QString& name, const char* binary, const QStringList& versionArgs,
         bool isPlugin, bool isOptional, const QString& purpose, const char* homepage)
{
    Tool tool;
    tool.formula = QString::fromLatin1(formula);
    tool.name = name;
    tool.purpose = purpose;
    tool.homepage = QString::fromLatin1(homepage);
    tool.binary = QString::fromLatin1(binary);
    tool.versionArgs = versionArgs;
    tool.isPlugin = isPlugin;
    tool.isOptional = isOptional;
    return tool;
}

// A plain base-10 parse: an optional "+", then ASCII digits only; anything else, or a value too
// large for 64 bits, is not a number.
std::optional<qint64> parseInteger(QStringView text)
{
    if (text.startsWith(u'+'))
        text = text.mid(1);
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

} // namespace

const QList<Tool>& all()
{
    static const QList<Tool> catalogue{
        row("container", QStringLiteral("Apple container"), "container", {QStringLiteral("--version")}, false,
            false, QStringLiteral("Runs Linux containers in lightweight VMs on macOS."),
            "https://apple.github.io/container/documentation/"),
        row("socktainer", QStringLiteral("socktainer"), "socktainer", {QStringLiteral("--version")}, false,
            false, QStringLiteral("Docker-API socket over Apple container \u2014 how Voskel reaches it."),
            "https://socktainer.github.io/"),
        row("docker", QStringLiteral("Docker CLI"), "docker", {QStringLiteral("--version")}, false, false,
            QStringLiteral("The command Voskel runs for every query and every action."),
            "https://docs.docker.com/reference/cli/docker/"),
        row("docker-compose", QStringLiteral("Docker Compose"), "docker",
            {QStringLiteral("compose"), QStringLiteral("version")}, true, false,
            QStringLiteral("Brings a whole project up and down. A docker plugin, not a separate command."),
            "https://docs.docker.com/compose/"),
        row("colima", QStringLiteral("Colima"), "colima", {QStringLiteral("--version")}, false, true,
            QStringLiteral("Optional. A Docker engine in a small Linux VM, beside Apple's runtime."),
            "https://colima.run/"),
    };
    return catalogue;
}

const QSet<QString>& runtimeFormulae()
{
    static const QSet<QString> formulae{QStringLiteral("container"), QStringLiteral("socktainer")};
    return formulae;
}

const QSet<QString>& pluginFormulae()
{
    static const QSet<QString> formulae = pluginFormulae(all());
    return formulae;
}

QSet<QString> pluginFormulae(const QList<Tool>& catalogue)
{
    QSet<QString> formulae;
    for (const Tool& tool : catalogue) {
        if (tool.isPlugin)
            formulae.insert(tool.formula);
    }
    return formulae;
}

std::optional<QString> firstVersion(const QString& text)
{
    const QString padded = text + QLatin1Char(' ');
    QString token;
    for (const char32_t c : padded.toUcs4()) {
        if (c == U'.' || QChar::isNumber(c)) {
            token += QString::fromUcs4(&c, 1);
            continue;
        }
        if (!token.isEmpty() && token.contains(QLatin1Char('.')) && token.front() != QLatin1Char('.')) {
            qsizetype from = 0;
            qsizetype to = token.size();
            while (from < to && token.at(from) == QLatin1Char('.'))
                ++from;
            while (to > from && token.at(to - 1) == QLatin1Char('.'))
                --to;
            if (to > from)
                return token.mid(from, to - from);
        }
        token.clear();
    }
    return std::nullopt;
}

QList<qint64> components(const QString& version)
{
    QList<qint64> parts;
    qsizetype start = 0;
    const auto flush = [&](qsizetype end) {
        if (end > start)
            parts.append(parseInteger(QStringView(version).mid(start, end - start)).value_or(0));
        start = end + 1;
    };
    for (qsizetype i = 0; i < version.size(); ++i) {
        const QChar c = version.at(i);
        if (c == u'.' || c == u'_' || c == u'-')
            flush(i);
    }
    flush(version.size());
    return parts;
}

bool isOlder(const QString& version, const QString& than)
{
    const QList<qint64> a = components(version);
    const QList<qint64> b = components(than);
    for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i) {
        const qint64 x = i < a.size() ? a.at(i) : 0;
        const qint64 y = i < b.size() ? b.at(i) : 0;
        if (x != y)
            return x < y;
    }
    return false;
}

std::optional<QString> newest(const QStringList& versions)
{
    if (versions.isEmpty())
        return std::nullopt;
    QString best = versions.first();
    for (qsizetype i = 1; i < versions.size(); ++i) {
        if (isOlder(best, versions.at(i)))
            best = versions.at(i);
    }
    return best;
}

} // namespace Toolchain
