#include "engine/ComposeModelReader.h"

#include "engine/ComposeInputs.h"
#include "engine/ComposeValuePaths.h"
#include "engine/EnvFile.h"

#include <QFileInfo>

#include <yaml-cpp/yaml.h>

#include <new>

namespace Docker {

namespace {

// How many files one project may include or extend, in all and in one chain, before what it names
// counts as unknown: compose refuses cycles, but a forged chain must end somewhere.
constexpr int mostFiles = 64;
constexpr int deepestChain = 16;
// How many YAML nodes are looked at per project: aliases let a small file name the same node again and
// again, which a walk would visit every time.
constexpr int mostNodes = 200000;
// A compose file nests a few levels deep; a walk that goes on far deeper is being led on.
constexpr int deepestNesting = 64;
// A limit reached leaves the rest unread, and what that holds may name any path and any volume: it is
// said, never dropped.

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

bool isRemote(const QString& location)
{
    return location.contains(QLatin1StringView("://")) || location.startsWith(QLatin1StringView("git@")) ||
           location.startsWith(QLatin1StringView("github.com/"));
}

} // namespace

void ComposeModelReader::unknown(const QString& why)
{
    if (!m_uses.unknown)
        m_uses.unknown = why;
}

void ComposeModelReader::unknownVolumes(const QString& why)
{
    unknown(why);
    if (!m_uses.volumesUnknown)
        m_uses.volumesUnknown = why;
}

void ComposeModelReader::unset(const QString& variable)
{
    if (!variable.isEmpty() && !m_uses.unsetVariables.contains(variable))
        m_uses.unsetVariables << variable;
}

void ComposeModelReader::add(const QStringList& paths)
{
    for (const QString& path : paths)
        if (!m_uses.paths.contains(path))
            m_uses.paths << path;
}

bool ComposeModelReader::read(const QString& file, const QStringList& bases, const Variables& env, int depth)
{
    if (m_read.contains(file))
        return true;
    m_read.insert(file);
    if (depth > deepestChain) {
        unknownVolumes(QStringLiteral("%1 is included or extended through more than %2 files in a row, "
                                      "more than are followed")
                           .arg(file)
                           .arg(deepestChain));
        return true;
    }
    if (m_read.size() > mostFiles) {
        unknownVolumes(
            QStringLiteral("its compose files include or extend more than %1 files, more than are followed")
                .arg(mostFiles));
        return true;
    }
    const DiskRead contents = readComposeInput(file);
    if (contents.kind == DiskLook::Kind::Gone)
        return false;
    if (contents.kind == DiskLook::Kind::Unknown) {
        unknownVolumes(contents.why);
        return true;
    }
    add({file});
    const Variables savedEnv = m_env;
    const QString savedFile = m_file;
    try {
        const std::vector<YAML::Node> documents = YAML::LoadAll(contents.bytes.toStdString());
        const QStringList mine = bases + QStringList{QFileInfo(file).absolutePath()};
        m_env = env;
        m_file = file;
        for (const YAML::Node& document : documents)
            readDocument(document, mine, depth);
    } catch (const YAML::Exception&) {
        unknownVolumes(QStringLiteral("%1 is not a compose file that can be read").arg(file));
    } catch (const std::bad_alloc&) {
        unknownVolumes(tooLargeMessage(file));
    }
    m_env = savedEnv;
    m_file = savedFile;
    return true;
}

bool ComposeModelReader::spend()
{
    if (m_nodes < mostNodes) {
        ++m_nodes;
        return true;
    }
    unknownVolumes(
        QStringLiteral("its compose files hold more than %1 entries, more than are followed").arg(mostNodes));
    return false;
}

// Every value of `key` in `map` and in what it merges in with "<<", the map's own first.
std::vector<YAML::Node> ComposeModelReader::values(const YAML::Node& map, const char* key, int depth)
{
    std::vector<YAML::Node> found;
    for (const auto& [name, value] : fields(map, depth))
        if (name == QLatin1StringView(key) && value.IsDefined() && !value.IsNull())
            found.push_back(value);
    return found;
}

// The entries of a list, or the values of a map with those it merges in with "<<".
std::vector<YAML::Node> ComposeModelReader::entries(const YAML::Node& node, int depth)
{
    std::vector<YAML::Node> out;
    if (isList(node)) {
        for (const YAML::Node& entry : node)
            if (spend())
                out.push_back(entry);
    } else {
        for (const auto& [name, value] : fields(node, depth))
            out.push_back(value);
    }
    return out;
}

// The keys and values of a map, then those it merges in with "<<".
ComposeModelReader::Fields ComposeModelReader::fields(const YAML::Node& map, int depth)
{
    Fields out;
    if (!isMap(map))
        return out;
    if (depth > deepestMerge) {
        unknownVolumes(QStringLiteral("%1 merges maps (\"<<\") more than %2 deep, deeper than are followed")
                           .arg(m_file)
                           .arg(deepestMerge));
        return out;
    }
    for (const auto& entry : map) {
        if (!spend())
            break;
        const QString key = text(entry.first);
        if (key != u"<<") {
            out.emplace_back(key, entry.second);
            continue;
        }
        for (const YAML::Node& merged :
             isList(entry.second) ? entries(entry.second) : std::vector{entry.second})
            for (auto& field : fields(merged, depth + 1))
                out.push_back(std::move(field));
    }
    return out;
}

// `raw` with its variables filled in; past one that cannot be, the folder before it, which may name
// anything below it. None when not even that is known.
std::optional<QString> ComposeModelReader::filledPath(const QString& raw)
{
    QString known;
    QString missing;
    if (std::optional<QString> filled = interpolated(raw, m_env, &known, &missing))
        return filled;
    unset(missing);
    const qsizetype slash = known.lastIndexOf(u'/');
    if (slash <= 0) {
        unknown(QStringLiteral("%1 names a path through a variable that is not set here").arg(raw));
        return std::nullopt;
    }
    return known.left(slash);
}

QStringList ComposeModelReader::resolve(const QString& raw, const QStringList& bases)
{
    const std::optional<QString> filled = filledPath(raw);
    return filled ? placedPath(*filled, bases) : QStringList();
}

// A file or folder whose contents the reading follows (an include, an extended file, an include's env
// file or folder): none when it cannot be known whole. Then what it holds is not read, and it may name
// any path and any volume; the folder before the variable is still used.
QStringList ComposeModelReader::resolveFollowed(const QString& raw, const QStringList& bases,
                                                const char* what)
{
    if (const std::optional<QString> filled = interpolated(raw, m_env))
        return placedPath(*filled, bases);
    use(raw, bases);
    unknownVolumes(QStringLiteral("%1 names %2 through a variable that is not set here")
                       .arg(raw, QLatin1StringView(what)));
    return {};
}

// A field compose takes as a path, written plainly ("data/x") or not.
void ComposeModelReader::use(const QString& raw, const QStringList& bases)
{
    add(resolve(raw, bases));
}

// A string, a list of them, or a list of maps holding the path under `key`.
void ComposeModelReader::useEach(const YAML::Node& node, const QStringList& bases, const char* key)
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

// Any other string: every path it names, whatever field holds it.
void ComposeModelReader::usePieces(const QString& raw, const QStringList& bases)
{
    const ValuePaths named = pathsInValue(raw, m_env, bases);
    add(named.paths);
    for (const QString& variable : named.unset)
        unset(variable);
    if (named.unknown)
        unknown(*named.unknown);
}

void ComposeModelReader::walk(const YAML::Node& node, const QStringList& bases, int depth, bool keysAreNames,
                              const QSet<QString>& besides)
{
    if (depth > deepestNesting) {
        unknownVolumes(QStringLiteral("%1 nests more than %2 levels deep, deeper than are followed")
                           .arg(m_file)
                           .arg(deepestNesting));
        return;
    }
    if (!spend())
        return;
    if (isScalar(node)) {
        usePieces(text(node), bases);
    } else if (isList(node)) {
        for (const YAML::Node& entry : node)
            walk(entry, bases, depth + 1);
    } else {
        for (const auto& [key, value] : fields(node))
            if (keysAreNames || (!isNoHostPathField(key) && !besides.contains(key)))
                walk(value, bases, depth + 1, !keysAreNames && namesItsKeys(key));
    }
}

void ComposeModelReader::readDocument(const YAML::Node& document, const QStringList& bases, int depth)
{
    for (const auto& [section, value] : fields(document)) {
        if (section == u"name" && depth == 0) {
            // Only the project's own files name it; an included part's name is its own.
            QString missing;
            const std::optional<QString> name = interpolated(text(value), m_env, nullptr, &missing);
            m_nameGiven = name.value_or(QString());
            m_nameKnown = name.has_value();
            m_nameMissing = missing;
        } else if (section == u"include") {
            readIncludes(value, bases, depth);
        } else if (section == u"services") {
            for (const YAML::Node& service : entries(value))
                readService(service, bases, depth);
        } else if (section == u"volumes") {
            for (const auto& [key, volume] : fields(value)) {
                nameVolume(key, volume);
                walk(volume, bases);
            }
        } else if (section == u"configs" || section == u"secrets" || section == u"networks" ||
                   section == u"models") {
            for (const YAML::Node& entry : entries(value)) {
                // A config's or secret's file is a path however it is written.
                for (const YAML::Node& file : values(entry, "file"))
                    use(text(file), bases);
                walk(entry, bases);
            }
        } else if (!isNoHostPathField(section)) {
            walk(value, bases);
        }
    }
}

void ComposeModelReader::readIncludes(const YAML::Node& include, const QStringList& bases, int depth)
{
    for (const YAML::Node& entry : isList(include) ? entries(include) : std::vector{include}) {
        std::vector<YAML::Node> paths;
        QStringList folders;
        QStringList envFiles;
        bool envGiven = false;
        if (isScalar(entry)) {
            paths.push_back(entry);
        } else {
            for (const YAML::Node& path : values(entry, "path"))
                for (const YAML::Node& one : isList(path) ? entries(path) : std::vector{path})
                    paths.push_back(one);
            for (const YAML::Node& dir : values(entry, "project_directory"))
                folders << resolveFollowed(text(dir), bases, "the folder an included part runs in");
            for (const YAML::Node& env : values(entry, "env_file")) {
                envGiven = true;
                for (const YAML::Node& file : isList(env) ? entries(env) : std::vector{env})
                    envFiles << resolveFollowed(text(file), bases, "an included part's env file");
            }
        }
        for (const QString& folder : std::as_const(folders))
            if (!m_uses.folders.contains(folder))
                m_uses.folders << folder;
        QStringList files;
        for (const YAML::Node& path : paths) {
            const QString location = text(path);
            if (isRemote(location))
                unknownVolumes(
                    QStringLiteral("%1 includes %2, which cannot be read here").arg(m_file, location));
            else
                files << resolveFollowed(location, bases, "an included file");
        }
        if (files.isEmpty())
            continue;
        // Without env files of its own, an included part reads the .env of the folder it runs in.
        const QString runsIn = folders.value(0, QFileInfo(files.first()).absolutePath());
        if (!envGiven) {
            const QString dotEnv = runsIn + QStringLiteral("/.env");
            const DiskLook look = lookAtPath(dotEnv);
            if (look.kind == DiskLook::Kind::Unknown)
                unknownVolumes(look.why);
            else if (look.kind == DiskLook::Kind::There && !look.folder)
                envFiles << dotEnv;
        }
        // Named, they are used whether or not they are there now.
        add(envFiles);
        // Its env files fill in only what the including part leaves unset.
        const Variables outer = m_env;
        const EnvFilesRead envRead = readEnvFiles(envFiles, lookupIn(outer));
        add(envRead.read);
        if (envRead.unknown)
            unknownVolumes(*envRead.unknown);
        Variables env = outer;
        for (auto value = envRead.values.cbegin(); value != envRead.values.cend(); ++value)
            if (!env.contains(value.key()))
                env.insert(value.key(), value.value());
        for (const QString& file : std::as_const(files)) {
            add({file});
            read(file, folders, env, depth + 1);
        }
    }
}

void ComposeModelReader::readService(const YAML::Node& service, const QStringList& bases, int depth)
{
    for (const auto& [key, value] : fields(service)) {
        if (isNoHostPathField(key))
            continue;
        if (key == u"build") {
            readBuild(value, bases);
        } else if (key == u"env_file" || key == u"label_file") {
            useEach(value, bases);
        } else if (key == u"extends") {
            for (const YAML::Node& file : values(value, "file"))
                for (const QString& path : resolveFollowed(text(file), bases, "an extended file")) {
                    add({path});
                    read(path, bases, m_env, depth + 1);
                }
        } else if (key == u"volumes") {
            for (const YAML::Node& volume : entries(value))
                readVolume(volume, bases);
        } else if (key == u"devices") {
            for (const YAML::Node& device : entries(value)) {
                if (isScalar(device))
                    use(text(device).section(u':', 0, 0), bases);
                else
                    for (const YAML::Node& source : values(device, "source"))
                        use(text(source), bases);
            }
        } else if (key == u"security_opt") {
            for (const YAML::Node& option : entries(value)) {
                // "seccomp=<file>" (or the older "seccomp:<file>"): a file however it is written.
                const QString raw = text(option);
                if (raw.startsWith(QLatin1StringView("seccomp=")) ||
                    raw.startsWith(QLatin1StringView("seccomp:"))) {
                    const QString profile = raw.mid(8);
                    if (profile != u"unconfined" && profile != u"builtin")
                        use(profile, bases);
                }
                walk(option, bases);
            }
        } else if (key == u"credential_spec" || key == u"develop") {
            for (const YAML::Node& file : values(value, "file"))
                use(text(file), bases);
            for (const YAML::Node& watch : values(value, "watch"))
                for (const YAML::Node& rule : entries(watch))
                    for (const YAML::Node& path : values(rule, "path"))
                        use(text(path), bases);
            walk(value, bases);
        } else {
            walk(value, bases);
        }
    }
}

void ComposeModelReader::readBuild(const YAML::Node& build, const QStringList& bases)
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
    // The Dockerfile lies in the context, unless its path says otherwise.
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
    walk(build, bases, 0, false, {QStringLiteral("context"), QStringLiteral("dockerfile")});
}

void ComposeModelReader::additionalContext(const QString& value, const QStringList& bases)
{
    for (const char* scheme : {"docker-image:", "service:", "oci-layout:", "target:"})
        if (value.startsWith(QLatin1StringView(scheme)))
            return;
    if (!isRemote(value))
        use(value, bases);
}

void ComposeModelReader::readVolume(const YAML::Node& volume, const QStringList& bases)
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
            add(placedPath(spec.left(colon), bases));
        if (!spec.contains(u':'))
            add(placedPath(spec, bases));
        return;
    }
    const std::vector<YAML::Node> types = values(volume, "type");
    const QString type = types.empty() ? QString() : text(types.front());
    for (const YAML::Node& source : values(volume, "source")) {
        const QString raw = text(source);
        if (type == u"bind" || (type.isEmpty() && isHostSource(raw)))
            use(raw, bases);
    }
    walk(volume, bases, 0, false, {QStringLiteral("source")});
}

void ComposeModelReader::nameVolume(const QString& key, const YAML::Node& volume)
{
    const auto filledName = [&](const YAML::Node& node) -> std::optional<QString> {
        QString missing;
        std::optional<QString> name = interpolated(text(node), m_env, nullptr, &missing);
        if (!name) {
            unset(missing);
            unknownVolumes(
                QStringLiteral("the volume %1 is named through a variable that is not set here").arg(key));
        }
        return name;
    };
    std::optional<QString> name;
    for (const YAML::Node& given : values(volume, "name"))
        name = filledName(given);
    // `external: true` names the volume by its key; the older `external: {name: ...}` by that name.
    bool external = false;
    bool maybeExternal = false;
    for (const YAML::Node& given : values(volume, "external")) {
        if (isMap(given)) {
            external = true;
            for (const YAML::Node& legacy : values(given, "name"))
                if (!name)
                    name = filledName(legacy);
        } else if (const std::optional<QString> flag = interpolated(text(given), m_env)) {
            external = flag->compare(u"true", Qt::CaseInsensitive) == 0;
        } else {
            maybeExternal = true;
        }
    }
    QStringList names;
    if (name)
        names << *name;
    else if (external || maybeExternal)
        names << key;
    if (!name && !external && !m_unnamedVolumes.contains(key))
        m_unnamedVolumes << key;
    for (const QString& one : std::as_const(names))
        if (!one.isEmpty() && !m_uses.volumes.contains(one))
            m_uses.volumes << one;
}

void ComposeModelReader::nameVolumesOf(const QString& project, const QString& missing)
{
    if (m_unnamedVolumes.isEmpty())
        return;
    if (project.isEmpty()) {
        unset(missing);
        unknownVolumes(QStringLiteral("its project's name is not known, nor hence the name of its volume %1")
                           .arg(m_unnamedVolumes.first()));
        return;
    }
    for (const QString& key : std::as_const(m_unnamedVolumes))
        if (const QString name = project + u'_' + key; !m_uses.volumes.contains(name))
            m_uses.volumes << name;
}

} // namespace Docker
