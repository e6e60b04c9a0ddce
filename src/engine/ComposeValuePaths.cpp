#include "engine/ComposeValuePaths.h"

#include <QDir>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace Docker {

namespace {

// `text` split at each of `separators` that stands outside a "${...}", whose defaults may hold them.
QList<QStringView> splitOutside(QStringView text, QStringView separators)
{
    QList<QStringView> pieces;
    qsizetype start = 0;
    int depth = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'$' && i + 1 < text.size() && (text[i + 1] == u'$' || text[i + 1] == u'{')) {
            if (text[i + 1] == u'{')
                ++depth;
            ++i;
        } else if (text[i] == u'}' && depth > 0) {
            --depth;
        } else if (depth == 0 && separators.contains(text[i])) {
            pieces << text.mid(start, i - start);
            start = i + 1;
        }
    }
    pieces << text.mid(start);
    return pieces;
}

const QRegularExpression& urlScheme()
{
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://"));
    return scheme;
}

// Gathers what one value names.
class Pieces {
public:
    Pieces(const QString& raw, const Variables& env, const QStringList& bases)
        : m_raw(raw), m_env(env), m_bases(bases)
    {
    }

    ValuePaths read();

private:
    const QString& m_raw;
    const Variables& m_env;
    const QStringList& m_bases;
    ValuePaths m_found;

    void add(const QString& path)
    {
        for (const QString& placed : placedPath(path, m_bases))
            if (!m_found.paths.contains(placed))
                m_found.paths << placed;
    }
    void useFilled(const QString& text);
    void useCut(const QString& known, const QString& missing);
};

ValuePaths Pieces::read()
{
    for (const QStringView fragment : splitOutside(m_raw, u",=")) {
        if (std::optional<QString> filled = interpolated(fragment, m_env)) {
            useFilled(*filled);
            continue;
        }
        // A variable that is not known here: the pieces before it are, and what comes after it
        // in its own piece is not.
        if (const QRegularExpressionMatch url = urlScheme().match(fragment); url.hasMatch()) {
            const QString scheme = url.captured(1).toLower();
            if (scheme == u"file" || scheme == u"unix") {
                QString known;
                QString missing;
                const QStringView rest = fragment.mid(url.capturedLength());
                if (std::optional<QString> filled = interpolated(rest, m_env, &known, &missing))
                    useFilled(*filled);
                else
                    useCut(known, missing);
            }
            continue;
        }
        for (const QStringView piece : splitOutside(fragment, u":")) {
            QString known;
            QString missing;
            if (std::optional<QString> filled = interpolated(piece, m_env, &known, &missing))
                useFilled(*filled);
            else
                useCut(known, missing);
        }
    }
    return m_found;
}

void Pieces::useFilled(const QString& text)
{
    for (const QStringView fragment : QStringView(text).split(u',')) {
        for (const QStringView part : fragment.split(u'=')) {
            const QRegularExpressionMatch url = urlScheme().match(part);
            if (url.hasMatch()) {
                // Only a file or socket address names a path on this host.
                const QString scheme = url.captured(1).toLower();
                const QStringView rest = part.mid(url.capturedLength());
                if ((scheme == u"file" || scheme == u"unix") && rest.startsWith(u'/'))
                    add(rest.toString());
                continue;
            }
            for (const QStringView piece : part.split(u':'))
                if (isPathLike(piece))
                    add(piece.toString());
        }
    }
}

// `known` ends where a variable that is not known here begins: the pieces before it are known; its
// own piece, when it may be a path, is known up to the folder before the variable, and when it has
// nothing before the variable it may be any path at all.
void Pieces::useCut(const QString& known, const QString& missing)
{
    qsizetype cut = -1;
    for (const QChar separator : {u',', u'=', u':'})
        cut = std::max(cut, known.lastIndexOf(separator));
    if (cut >= 0)
        useFilled(known.left(cut));
    const QString last = known.mid(cut + 1);
    if (!last.isEmpty() && !isHostSource(last))
        return; // not a path, whatever follows
    if (!missing.isEmpty() && !m_found.unset.contains(missing))
        m_found.unset << missing;
    const qsizetype slash = last.lastIndexOf(u'/');
    if (last.isEmpty() || slash < 0 || (slash == 0 && last.startsWith(u'/'))) {
        m_found.unknown =
            QStringLiteral("%1 names a path through a variable that is not set here").arg(m_raw);
        return;
    }
    add(last.left(slash));
}

} // namespace

QStringList placedPath(QString path, const QStringList& bases)
{
    if (path.isEmpty())
        return {};
    if (path == u"~" || path.startsWith(QLatin1StringView("~/")))
        path = QDir::homePath() + path.mid(1);
    if (path.startsWith(u'/'))
        return {path};
    QStringList out;
    for (const QString& base : bases)
        if (!base.isEmpty())
            out << (path == u"." ? base : base + u'/' + path);
    return out;
}

bool isHostSource(const QString& source)
{
    return source.startsWith(u'/') || source.startsWith(u'.') || source.startsWith(u'~');
}

bool isPathLike(QStringView piece)
{
    return piece.startsWith(u'/') || piece.startsWith(QLatin1StringView("./")) ||
           piece.startsWith(QLatin1StringView("../")) || piece.startsWith(QLatin1StringView("~/")) ||
           piece == u"." || piece == u".." || piece == u"~";
}

// Fields whose values compose takes, wherever in the model they stand, as no path on this host: what
// a container runs or is told (command, entrypoint, healthcheck, hooks, environment, build args and
// an inline Dockerfile), paths inside it (every `target`, working_dir, tmpfs, a volume's subpath),
// data (a config's content, labels, annotations) and names, addresses and settings (image, ports,
// hosts, networks, limits, ...). Extensions ("x-...") are compose's to ignore. Everything else is read:
// a field that is missing here is read, not left out.
bool isNoHostPathField(const QString& key)
{
    static const QSet<QString> keys{
        // Run or seen inside the container.
        "command", "entrypoint", "healthcheck", "post_start", "pre_stop", "environment", "args",
        "dockerfile_inline", "target", "working_dir", "tmpfs", "subpath", "content",
        // Metadata.
        "labels", "annotations", "name", "version", "description", "external", "driver",
        // Names, addresses and settings.
        "image", "container_name", "hostname", "domainname", "user", "group_add", "ports", "expose",
        "extra_hosts", "dns", "dns_opt", "dns_search", "mac_address", "networks", "network_mode", "links",
        "external_links", "depends_on", "profiles", "restart", "deploy", "scale", "platform", "platforms",
        "pull_policy", "stop_signal", "stop_grace_period", "cap_add", "cap_drop", "sysctls", "ulimits",
        "secrets", "configs", "volumes_from", "mem_limit", "mem_reservation", "memswap_limit",
        "mem_swappiness", "cpus", "cpu_count", "cpu_percent", "cpu_shares", "cpu_quota", "cpu_period",
        "cpu_rt_runtime", "cpu_rt_period", "cpuset", "shm_size", "pids_limit", "oom_kill_disable",
        "oom_score_adj", "ipc", "pid", "uts", "userns_mode", "init", "privileged", "read_only", "stdin_open",
        "tty", "runtime", "isolation", "gpus", "tags", "network", "models"};
    return key.startsWith(QLatin1StringView("x-")) || keys.contains(key);
}

bool namesItsKeys(const QString& key)
{
    return key == u"additional_contexts" || key == u"driver_opts" || key == u"options" || key == u"ssh";
}

ValuePaths pathsInValue(const QString& raw, const Variables& env, const QStringList& bases)
{
    return Pieces(raw, env, bases).read();
}

} // namespace Docker
