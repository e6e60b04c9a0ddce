#include "engine/ComposeUses.h"

#include "engine/Compose.h"
#include "engine/ComposeVariables.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <yaml-cpp/yaml.h>

#include <string>
#include <vector>

namespace Docker {

namespace {

// How many files one project may include or extend, in all and in one chain, before what it names
// counts as unknown: compose refuses cycles, but a forged chain must end somewhere.
constexpr int mostFiles = 64;
constexpr int deepestChain = 16;
// How many YAML nodes are looked at per project: aliases let a small file name the same node again and
// again, which a walk would visit every time.
constexpr int mostNodes = 50000;

// yaml-cpp throws when a node that is not there is asked what it is.
bool isMap(const YAML::Node& node)
{
    return node.IsDefined() && node.IsMap();
}

bool isList(const YAML::Node& node)
{
    return node.IsDefined() && node.IsSequence();
}

bool isScalar(const YAML::Node& node)
{
    return node.IsDefined() && node.IsScalar();
}

QString text(const YAML::Node& node)
{
    return isScalar(node) ? QString::fromStdString(node.Scalar()) : QString();
}

// A volume's source that is a host path rather than a named volume's name.
bool isHostSource(const QString& source)
{
    return source.startsWith(u'/') || source.startsWith(u'.') || source.startsWith(u'~');
}

bool isRemote(const QString& location)
{
    return location.contains(QLatin1StringView("://")) || location.startsWith(QLatin1StringView("git@")) ||
           location.startsWith(QLatin1StringView("github.com/"));
}

// One project's files being read.
class Reader {
public:
    explicit Reader(QHash<QString, QString> shell) : m_shell(std::move(shell)) {}

    ComposeFileUses uses;

    // Reads `file` with its relative paths taken from each of `bases`.
    void read(const QString& file, const QStringList& bases, const QHash<QString, QString>& env, int depth)
    {
        if (uses.unknown || m_read.contains(file))
            return;
        m_read.insert(file);
        if (depth > deepestChain || m_read.size() > mostFiles) {
            unknown(QStringLiteral("%1 includes or extends more files than are followed").arg(file));
            return;
        }
        const QFileInfo info(file);
        if (!info.exists())
            return;
        const std::optional<QByteArray> contents = smallFileContents(file);
        if (!contents) {
            unknown(QStringLiteral("%1 cannot be read").arg(file));
            return;
        }
        std::vector<YAML::Node> documents;
        try {
            documents = YAML::LoadAll(contents->toStdString());
        } catch (const YAML::Exception&) {
            unknown(QStringLiteral("%1 is not a compose file that can be read").arg(file));
            return;
        }
        const QStringList mine = bases + QStringList{info.absolutePath()};
        const QHash<QString, QString> saved = m_env;
        m_env = env;
        try {
            for (const YAML::Node& document : documents)
                readDocument(document, mine, depth);
        } catch (const YAML::Exception&) {
            unknown(QStringLiteral("%1 is not a compose file that can be read").arg(file));
        }
        m_env = saved;
    }

private:
    QHash<QString, QString> m_env;
    const QHash<QString, QString> m_shell;
    QSet<QString> m_read;
    int m_nodes = 0;

    void unknown(const QString& why)
    {
        if (!uses.unknown)
            uses.unknown = why;
    }

    bool spend()
    {
        if (++m_nodes <= mostNodes)
            return true;
        unknown(QStringLiteral("its compose files name more than can be followed"));
        return false;
    }

    // Every value of `key` in `map` and in what it merges in with "<<", the map's own first.
    std::vector<YAML::Node> values(const YAML::Node& map, const char* key, int depth = 0)
    {
        std::vector<YAML::Node> found;
        if (!isMap(map) || depth > deepestChain || !spend())
            return found;
        if (const YAML::Node value = map[key]; value.IsDefined() && !value.IsNull())
            found.push_back(value);
        const YAML::Node merged = map["<<"];
        if (isMap(merged)) {
            for (const YAML::Node& value : values(merged, key, depth + 1))
                found.push_back(value);
        } else if (isList(merged)) {
            for (const YAML::Node& part : merged)
                for (const YAML::Node& value : values(part, key, depth + 1))
                    found.push_back(value);
        }
        return found;
    }

    // The entries of a list, or the values of a map with those it merges in with "<<".
    std::vector<YAML::Node> entries(const YAML::Node& node, int depth = 0)
    {
        std::vector<YAML::Node> out;
        if (isList(node)) {
            for (const YAML::Node& entry : node)
                if (spend())
                    out.push_back(entry);
        } else if (isMap(node) && depth <= deepestChain) {
            for (const auto& entry : node) {
                if (!spend())
                    break;
                if (text(entry.first) != u"<<") {
                    out.push_back(entry.second);
                    continue;
                }
                for (const YAML::Node& merged :
                     isList(entry.second) ? entries(entry.second) : std::vector{entry.second})
                    for (const YAML::Node& value : entries(merged, depth + 1))
                        out.push_back(value);
            }
        }
        return out;
    }

    // `raw` with its variables filled in; past one that cannot be, the folder before it, which may
    // name anything below it. None when not even that is known.
    std::optional<QString> filledPath(const QString& raw)
    {
        QString known;
        if (std::optional<QString> filled = interpolated(raw, m_env, &known))
            return filled;
        const qsizetype slash = known.lastIndexOf(u'/');
        if (slash <= 0) {
            unknown(QStringLiteral("%1 names a path through a variable that is not set here").arg(raw));
            return std::nullopt;
        }
        return known.left(slash);
    }

    // Where `path` (filled in) lies: relative ones from each of `bases`.
    static QStringList placed(QString path, const QStringList& bases)
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

    QStringList resolve(const QString& raw, const QStringList& bases)
    {
        const std::optional<QString> filled = filledPath(raw);
        return filled ? placed(*filled, bases) : QStringList();
    }

    void add(const QStringList& paths)
    {
        for (const QString& path : paths)
            if (!uses.paths.contains(path))
                uses.paths << path;
    }

    void use(const QString& raw, const QStringList& bases) { add(resolve(raw, bases)); }

    // A string, a list of them, or a list of maps holding the path under `key`.
    void useEach(const YAML::Node& node, const QStringList& bases, const char* key = "path")
    {
        if (isScalar(node)) {
            use(text(node), bases);
            return;
        }
        for (const YAML::Node& entry : entries(node)) {
            if (isScalar(entry))
                use(text(entry), bases);
            else
                for (const YAML::Node& path : values(entry, key))
                    use(text(path), bases);
        }
    }

    void readDocument(const YAML::Node& document, const QStringList& bases, int depth)
    {
        if (!isMap(document))
            return;
        for (const YAML::Node& include : values(document, "include"))
            readIncludes(include, bases, depth);
        for (const YAML::Node& services : values(document, "services"))
            for (const YAML::Node& service : entries(services))
                readService(service, bases, depth);
        for (const char* section : {"configs", "secrets"})
            for (const YAML::Node& declared : values(document, section))
                for (const YAML::Node& entry : entries(declared))
                    for (const YAML::Node& file : values(entry, "file"))
                        use(text(file), bases);
        for (const YAML::Node& volumes : values(document, "volumes"))
            for (const YAML::Node& volume : entries(volumes))
                for (const YAML::Node& options : values(volume, "driver_opts"))
                    readOptions(options, bases);
    }

    void readOptions(const YAML::Node& options, const QStringList& bases)
    {
        if (!isMap(options))
            return;
        QHash<QString, QString> filled;
        for (const auto& option : options) {
            if (!spend())
                return;
            QString known;
            const std::optional<QString> value = interpolated(text(option.second), m_env, &known);
            if (!value) {
                unknown(QStringLiteral(
                            "the volume option %1 names a path through a variable that is not set here")
                            .arg(text(option.second)));
                return;
            }
            filled.insert(text(option.first), *value);
        }
        for (const QString& path : optionPaths(filled))
            add(placed(path, bases));
    }

    void readIncludes(const YAML::Node& include, const QStringList& bases, int depth)
    {
        const auto follow = [&](const YAML::Node& pathNode, const QStringList& folders,
                                const YAML::Node& envNode) {
            QHash<QString, QString> env = m_env;
            QStringList envFiles;
            if (envNode.IsDefined())
                for (const YAML::Node& file : isList(envNode) ? entries(envNode) : std::vector{envNode})
                    envFiles << resolve(text(file), bases);
            add(envFiles);
            for (const QString& file : std::as_const(envFiles))
                env.insert(envFileValues(file));
            // Shell variables win over an include's env files, as they do over a project's.
            for (auto variable = m_shell.cbegin(); variable != m_shell.cend(); ++variable)
                env.insert(variable.key(), variable.value());
            const std::vector<YAML::Node> paths =
                isList(pathNode) ? entries(pathNode) : std::vector<YAML::Node>{pathNode};
            for (const YAML::Node& path : paths) {
                const QString location = text(path);
                if (isRemote(location))
                    continue;
                for (const QString& file : resolve(location, bases)) {
                    add({file});
                    read(file, folders, env, depth + 1);
                }
            }
        };
        for (const YAML::Node& entry : isList(include) ? entries(include) : std::vector{include}) {
            if (isScalar(entry)) {
                follow(entry, {}, YAML::Node());
                continue;
            }
            QStringList folders;
            for (const YAML::Node& dir : values(entry, "project_directory"))
                folders << resolve(text(dir), bases);
            for (const QString& folder : std::as_const(folders))
                if (!uses.folders.contains(folder))
                    uses.folders << folder;
            const std::vector<YAML::Node> envs = values(entry, "env_file");
            for (const YAML::Node& path : values(entry, "path"))
                follow(path, folders, envs.empty() ? YAML::Node() : envs.front());
        }
    }

    void readService(const YAML::Node& service, const QStringList& bases, int depth)
    {
        for (const YAML::Node& build : values(service, "build"))
            readBuild(build, bases);
        for (const char* key : {"env_file", "label_file"})
            for (const YAML::Node& files : values(service, key))
                useEach(files, bases);
        for (const YAML::Node& extends : values(service, "extends"))
            for (const YAML::Node& file : values(extends, "file"))
                for (const QString& path : resolve(text(file), bases)) {
                    add({path});
                    read(path, bases, m_env, depth + 1);
                }
        for (const YAML::Node& volumes : values(service, "volumes"))
            for (const YAML::Node& volume : entries(volumes))
                readVolume(volume, bases);
        for (const YAML::Node& develop : values(service, "develop"))
            for (const YAML::Node& watch : values(develop, "watch"))
                for (const YAML::Node& rule : entries(watch))
                    for (const YAML::Node& path : values(rule, "path"))
                        use(text(path), bases);
        for (const YAML::Node& devices : values(service, "devices"))
            for (const YAML::Node& device : entries(devices)) {
                if (isScalar(device))
                    use(text(device).section(u':', 0, 0), bases);
                else
                    for (const YAML::Node& source : values(device, "source"))
                        use(text(source), bases);
            }
        for (const YAML::Node& spec : values(service, "credential_spec"))
            for (const YAML::Node& file : values(spec, "file"))
                use(text(file), bases);
    }

    void readBuild(const YAML::Node& build, const QStringList& bases)
    {
        QStringList contexts;
        const auto context = [&](const QString& raw) {
            if (isRemote(raw))
                return;
            const QStringList paths = resolve(raw, bases);
            contexts << paths;
            add(paths);
        };
        if (isScalar(build)) {
            context(text(build));
            return;
        }
        const std::vector<YAML::Node> given = values(build, "context");
        if (given.empty())
            context(QStringLiteral("."));
        for (const YAML::Node& raw : given)
            context(text(raw));
        for (const YAML::Node& dockerfile : values(build, "dockerfile"))
            use(text(dockerfile), contexts);
        // A map of name: location, or a list of "name=location".
        for (const YAML::Node& more : values(build, "additional_contexts"))
            for (const YAML::Node& value : entries(more))
                additionalContext(isMap(more) ? text(value) : text(value).section(u'=', 1), bases);
        for (const YAML::Node& ssh : values(build, "ssh"))
            for (const YAML::Node& key : entries(ssh)) {
                const QString value = text(key);
                if (isMap(ssh))
                    use(value, bases);
                else if (value.contains(u'='))
                    use(value.section(u'=', 1), bases);
            }
        for (const char* cache : {"cache_from", "cache_to"})
            for (const YAML::Node& list : values(build, cache))
                for (const YAML::Node& entry : entries(list))
                    for (const QString& part : text(entry).split(u','))
                        if (part.startsWith(QLatin1StringView("src=")) ||
                            part.startsWith(QLatin1StringView("dest=")))
                            use(part.section(u'=', 1), bases);
    }

    void additionalContext(const QString& value, const QStringList& bases)
    {
        for (const char* scheme : {"docker-image:", "service:", "oci-layout:", "target:"})
            if (value.startsWith(QLatin1StringView(scheme)))
                return;
        if (!isRemote(value))
            use(value, bases);
    }

    void readVolume(const YAML::Node& volume, const QStringList& bases)
    {
        if (isScalar(volume)) {
            // SOURCE:TARGET[:MODE]; a source that is no path names a volume. A folder whose name holds a
            // ":" cannot be told from the target, so each reading is taken.
            QString known;
            const std::optional<QString> filled = interpolated(text(volume), m_env, &known);
            if (!filled && !known.contains(u':')) {
                // The variable is in the source: the folder before it, when the source is a path at all.
                if (isHostSource(known) || known.isEmpty())
                    use(text(volume).section(u':', 0, 0), bases);
                return;
            }
            const QString spec = filled.value_or(known);
            if (!isHostSource(spec))
                return;
            for (qsizetype colon = spec.indexOf(u':'); colon > 0; colon = spec.indexOf(u':', colon + 1))
                add(placed(spec.left(colon), bases));
            if (!spec.contains(u':'))
                add(placed(spec, bases));
            return;
        }
        const std::vector<YAML::Node> types = values(volume, "type");
        const QString type = types.empty() ? QString() : text(types.front());
        for (const YAML::Node& source : values(volume, "source")) {
            const QString raw = text(source);
            if (type == u"bind" || (type.isEmpty() && isHostSource(raw)))
                use(raw, bases);
        }
    }
};

} // namespace

QStringList optionPaths(const QHash<QString, QString>& options)
{
    QStringList paths;
    const auto take = [&](const QString& candidate) {
        const bool path = candidate.startsWith(u'/') || candidate.startsWith(u'~') ||
                          candidate.startsWith(QLatin1StringView("./")) ||
                          candidate.startsWith(QLatin1StringView("../")) || candidate == u"." ||
                          candidate == u"..";
        if (path && !paths.contains(candidate))
            paths << candidate;
    };
    for (auto option = options.cbegin(); option != options.cend(); ++option) {
        take(option.value());
        for (const QString& piece : option.value().split(u',')) {
            const QString value = piece.contains(u'=') ? piece.section(u'=', 1) : piece;
            take(value);
            for (const QString& part : value.split(u':'))
                take(part);
        }
    }
    paths.sort();
    return paths;
}

ComposeFileUses composeFileUses(const ComposeSource& source, const QHash<QString, QString>& shell)
{
    QHash<QString, QString> env;
    const QStringList envFiles = source.envFiles.isEmpty() && !source.projectDir.isEmpty()
                                     ? QStringList{source.projectDir + QStringLiteral("/.env")}
                                     : source.envFiles;
    for (const QString& file : envFiles)
        env.insert(envFileValues(file));
    env.insert(shell);

    QStringList files = source.files;
    if (files.isEmpty() && !source.projectDir.isEmpty()) {
        // compose takes the first of its file names there, and the override beside it: each is read.
        for (const QString& name : composeFileNames()) {
            files << source.projectDir + u'/' + name;
            const qsizetype dot = name.lastIndexOf(u'.');
            files << source.projectDir + u'/' + name.left(dot) + QStringLiteral(".override") + name.mid(dot);
        }
    }
    Reader reader(shell);
    const QStringList bases = source.projectDir.isEmpty() ? QStringList() : QStringList{source.projectDir};
    for (const QString& file : std::as_const(files))
        reader.read(file, bases, env, 0);
    return reader.uses;
}

} // namespace Docker
