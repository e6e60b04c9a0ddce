#include "engine/ComposeUses.h"

#include "engine/Compose.h"
#include "engine/ComposeInputs.h"
#include "engine/ComposeModelReader.h"
#include "engine/EnvFile.h"

#include <QFileInfo>

#include <new>

namespace Docker {

namespace {

QString placedIn(const QString& dir, const QString& path)
{
    return path.startsWith(u'/') || dir.isEmpty() ? path : dir + u'/' + path;
}

// The files compose reads for a project started in `dir` without naming any: those COMPOSE_FILE names,
// else the first of its file names in the folder with every override file beside it (reading more than
// compose would is safe; reading less is not). None, with `reader` told why, when that cannot be known.
std::optional<QStringList> filesFound(const QString& dir, const Variables& env, ComposeModelReader& reader)
{
    if (const Variable given = env.value(QStringLiteral("COMPOSE_FILE"));
        !given.value.isEmpty() || !given.whole) {
        if (!given.whole) {
            reader.unset(given.missing);
            reader.unknownVolumes(
                QStringLiteral("COMPOSE_FILE for %1 names a variable that is not set here").arg(dir));
            return std::nullopt;
        }
        const Variable separator = env.value(QStringLiteral("COMPOSE_PATH_SEPARATOR"));
        if (!separator.whole) {
            reader.unset(separator.missing);
            reader.unknownVolumes(
                QStringLiteral("COMPOSE_PATH_SEPARATOR for %1 names a variable that is not set here")
                    .arg(dir));
            return std::nullopt;
        }
        QStringList files;
        for (const QString& file : given.value.split(
                 separator.value.isEmpty() ? QStringLiteral(":") : separator.value, Qt::SkipEmptyParts))
            files << placedIn(dir, file);
        if (!files.isEmpty())
            return files;
    }
    QStringList files;
    for (const QString& name : composeFileNames()) {
        const DiskLook look = lookAtPath(dir + u'/' + name);
        if (look.kind == DiskLook::Kind::Unknown) {
            reader.unknownVolumes(look.why);
            return std::nullopt;
        }
        if (look.kind == DiskLook::Kind::There) {
            files << dir + u'/' + name;
            break;
        }
    }
    if (files.isEmpty())
        return files;
    for (const QString& name : composeFileNames()) {
        const qsizetype dot = name.lastIndexOf(u'.');
        const QString path = dir + u'/' + name.left(dot) + QStringLiteral(".override") + name.mid(dot);
        const DiskLook look = lookAtPath(path);
        if (look.kind == DiskLook::Kind::Unknown) {
            reader.unknownVolumes(look.why);
            return std::nullopt;
        }
        if (look.kind == DiskLook::Kind::There)
            files << path;
    }
    return files;
}

// compose's name for a folder: lower case, only letters, digits, "_" and "-", none of those two first.
QString normalizedName(const QString& folder)
{
    QString name;
    for (const QChar c : folder.toLower())
        if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_' || c == u'-')
            name += c;
    while (name.startsWith(u'_') || name.startsWith(u'-'))
        name.remove(0, 1);
    return name;
}

// The name compose gives the project: the one it was started under (its containers' label, the
// registry's entry), else COMPOSE_PROJECT_NAME, else the one its files give, else its folder's. Empty
// when it goes through a variable not set here, which `missing` then names.
QString projectName(const ComposeSource& source, const Variables& env, const ComposeModelReader& reader,
                    QString& missing)
{
    if (!source.project.isEmpty())
        return source.project;
    const Variable fromEnv = env.value(QStringLiteral("COMPOSE_PROJECT_NAME"));
    if (!fromEnv.whole) {
        missing = fromEnv.missing;
        return {};
    }
    if (!fromEnv.value.isEmpty())
        return fromEnv.value;
    if (!reader.nameKnown()) {
        missing = reader.nameMissing();
        return {};
    }
    if (!reader.nameGiven().isEmpty())
        return reader.nameGiven();
    const QString dir =
        source.projectDir.isEmpty() ? QFileInfo(source.files.value(0)).absolutePath() : source.projectDir;
    return normalizedName(QFileInfo(dir).fileName());
}

ComposeFileUses readProject(const ComposeSource& source, const QHash<QString, QString>& shell)
{
    ComposeModelReader reader;
    const QString& dir = source.projectDir;
    QStringList files;
    for (const QString& file : source.files) {
        if (file == u"-")
            reader.unknownVolumes(
                QStringLiteral("its compose file was given on standard input, which cannot be read again"));
        else
            files << placedIn(dir, file);
    }
    const bool named = !source.files.isEmpty();
    const DiskLook folder = dir.isEmpty() ? DiskLook() : lookAtPath(dir);
    if (folder.kind == DiskLook::Kind::Unknown)
        reader.unknownVolumes(folder.why);

    // The shell's variables win over the env files', a later file's over an earlier one's. Files
    // that cannot be read leave the values read before them; what they set is said not to be known.
    const Variables shellVariables = wholeVariables(shell);
    QStringList envFiles;
    for (const QString& file : source.envFiles)
        envFiles << placedIn(dir, file);
    if (envFiles.isEmpty() && folder.kind == DiskLook::Kind::There)
        envFiles << dir + QStringLiteral("/.env");
    const EnvFilesRead envRead = readEnvFiles(envFiles, lookupIn(shellVariables));
    reader.add(envRead.read);
    if (envRead.unknown)
        reader.unknownVolumes(*envRead.unknown);
    Variables env = envRead.values;
    env.insert(shellVariables);

    // Files it was given that are gone name nothing (compose could not read them either), unless the
    // folder holds what compose would read there now; a folder that is there but holds none of what
    // compose looks for, when nothing was given, may have been started from anything.
    bool looked = false;
    if ((!named || source.folderToo) && folder.kind == DiskLook::Kind::There) {
        const std::optional<QStringList> found = filesFound(dir, env, reader);
        looked = found.has_value();
        for (const QString& file : found.value_or(QStringList()))
            if (!files.contains(file))
                files << file;
    }
    const QStringList bases = dir.isEmpty() ? QStringList() : QStringList{dir};
    bool anyRead = false;
    for (const QString& file : std::as_const(files))
        anyRead = reader.read(file, bases, env) || anyRead;
    if (!named && looked && !anyRead)
        reader.unknownVolumes(QStringLiteral("its compose files are not found in %1").arg(dir));
    QString missing;
    const QString project = projectName(source, env, reader, missing);
    reader.nameVolumesOf(project, missing);
    return reader.uses();
}

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
    try {
        return readProject(source, shell);
    } catch (const std::bad_alloc&) {
        ComposeFileUses uses;
        uses.unknown = QStringLiteral("the compose setup in %1 is too large to be read")
                           .arg(source.projectDir.isEmpty() ? source.files.value(0) : source.projectDir);
        uses.volumesUnknown = uses.unknown;
        return uses;
    }
}

} // namespace Docker
