#include "engine/ComposeProject.h"

#include "engine/Compose.h"
#include "platform/PreparedProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {
// Far above any real compose file; a larger one is not read at all.
constexpr qint64 largestComposeFile = 4 * 1024 * 1024;

const QString noName = QStringLiteral("(no name)");
constexpr QChar openQuote = u'\u201C';
constexpr QChar closeQuote = u'\u201D';

// Nothing of it shows: no character, or only blanks, controls and marks of no width.
bool showsNothing(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.isSpace() || c.category() == QChar::Other_Format || c.category() == QChar::Other_Control;
    });
}
} // namespace

QString ComposeProject::id() const
{
    return Docker::runtimeId(runtime) + u'/' + name;
}

QString ComposeProject::displayName(const QString& name)
{
    if (isNameless(name))
        return noName;
    QStringView inner(name);
    while (inner.size() >= 2 && inner.front() == openQuote && inner.back() == closeQuote)
        inner = inner.sliced(1, inner.size() - 2);
    if (inner == noName || showsNothing(inner))
        return openQuote + name + closeQuote;
    return name;
}

int ComposeProject::runningCount() const
{
    return int(std::count_if(containers.cbegin(), containers.cend(),
                             [](const Container& c) { return c.state == u"running"; }));
}

qint64 ComposeProject::totalCount() const
{
    return std::max<qint64>(serviceCount, containers.size());
}

QString ComposeProject::statusText() const
{
    if (containers.isEmpty())
        return QStringLiteral("Not running");
    const qint64 running = runningCount();
    const qint64 total = totalCount();
    if (running == 0)
        return total == 1 ? QStringLiteral("Stopped") : QStringLiteral("All %1 stopped").arg(total);
    if (running == total)
        return total == 1 ? QStringLiteral("Running") : QStringLiteral("All %1 running").arg(running);
    return QStringLiteral("%1 of %2 running").arg(running).arg(total);
}

bool ComposeProject::hasBuild() const
{
    // Read afresh every time: the file may change between refreshes, and it is small.
    if (!workingDir)
        return false;
    const std::optional<QString> file = Docker::composeFile(*workingDir);
    return file && builds(*workingDir, *file);
}

bool ComposeProject::builds(const QString& dir, const QString& file)
{
    // The folder comes from container labels. A FIFO or a device under a compose file's name would
    // block this read, on the thread that draws the card, or never end; only a regular file is read.
    const QFileInfo info(QDir(dir).filePath(file));
    if (!info.isFile() || info.size() > largestComposeFile)
        return false;
    QFile compose(info.filePath());
    if (!compose.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = compose.read(largestComposeFile + 1);
    if (bytes.size() > largestComposeFile)
        return false;
    const QString text = Platform::decodeUtf8Strict(bytes);
    for (const QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts))
        if (Docker::trimBlanks(line).startsWith(QLatin1StringView("build:")))
            return true;
    return false;
}

size_t qHash(const ComposeProject& project, size_t seed) noexcept
{
    seed = qHashMulti(seed, project.name, project.workingDir.value_or(QString()),
                      project.workingDir.has_value(), project.serviceCount, project.runtime);
    for (const StartedFrom& from : project.startedFrom)
        seed = qHashMulti(seed, from.files, from.projectDir, from.envFiles, from.services);
    for (const Container& container : project.containers)
        seed = qHash(container, seed);
    return seed;
}

QStringList ComposeProject::rememberedFiles() const
{
    QStringList files;
    for (const StartedFrom& from : startedFrom)
        for (const QString& file : Docker::joinedFiles(from.files, from.projectDir))
            if (!files.contains(file))
                files << file;
    return files;
}

QStringList ComposeProject::configFiles() const
{
    for (const Container& container : containers)
        if (QStringList files = container.configFiles(); !files.isEmpty())
            return files;
    return {};
}

QStringList ComposeProject::containerFolders() const
{
    QStringList folders;
    for (const Container& container : containers)
        if (const std::optional<QString> dir = container.workingDir();
            dir && !dir->isEmpty() && !folders.contains(*dir))
            folders << *dir;
    return folders;
}

QList<Container> ComposeProject::troubled() const
{
    QList<Container> out;
    for (const Container& c : containers)
        if (c.isTroubled())
            out << c;
    return out;
}
