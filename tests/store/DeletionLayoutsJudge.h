#pragma once

// What the layouts test judges by, asked of the disk, the kernel and compose rather than of anything
// Voskel reads: what is at a path, told apart from anything that may take its place; what a running
// container holds mounted, by file system and path within it; whether another project still starts
// as it was started, and its services still see what they saw.

#include "store/DeletionLayoutsDrawing.h"

#include "platform/FolderIdentity.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <optional>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Layouts {

// What is at a path: the file itself (device and inode), its kind, and for a file what it holds, for
// a link where it leads.
struct Entry {
    Platform::FileIdentity identity;
    char kind = '?'; // 'd'irectory, 'f'ile, 'l'ink
    QByteArray content = {};

    bool operator==(const Entry&) const = default;
};

inline std::optional<Entry> entryAt(const QString& path, bool follow)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if ((follow ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) != 0)
        return std::nullopt;
    Entry entry{{quint64(st.st_dev), quint64(st.st_ino)}};
    if (S_ISDIR(st.st_mode)) {
        entry.kind = 'd';
    } else if (S_ISLNK(st.st_mode)) {
        entry.kind = 'l';
        char target[PATH_MAX];
        const ssize_t n = ::readlink(name.constData(), target, sizeof target);
        entry.content = n < 0 ? QByteArray() : QByteArray(target, n);
    } else if (S_ISREG(st.st_mode)) {
        entry.kind = 'f';
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            entry.content = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
    }
    return entry;
}

// Everything under each of `tops`, by its own path (links not followed); with `withTops`, the tops too.
using Snapshot = QMap<QString, Entry>;

inline Snapshot snapshot(const QStringList& tops, bool withTops = false)
{
    Snapshot taken;
    for (const QString& top : tops) {
        if (withTops)
            if (const std::optional<Entry> entry = entryAt(top, false))
                taken.insert(top, *entry);
        QDirIterator it(top, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (const std::optional<Entry> entry = entryAt(path, false))
                taken.insert(path, *entry);
        }
    }
    return taken;
}

inline QString real(const QString& path)
{
    char resolved[PATH_MAX];
    return ::realpath(QFile::encodeName(path).constData(), resolved) ? QFile::decodeName(resolved)
                                                                     : QString();
}

inline bool under(const QString& path, const QString& folder)
{
    return !folder.isEmpty() && (folder == u'/' || path == folder || path.startsWith(folder + u'/'));
}

inline QString kindOf(const std::optional<Entry>& entry)
{
    if (!entry)
        return QStringLiteral("nothing");
    return entry->kind == 'd'   ? QStringLiteral("a folder")
           : entry->kind == 'l' ? QStringLiteral("a link")
                                : QStringLiteral("a file");
}

// Something a user outside the project relies on: a path as it named it, and what was there.
struct Use {
    QString path;
    QString by;
    QString how;
    bool holds = false; // what lies under it counts too: a bind source, a volume's folder, a build context
    std::optional<Entry> then;
    QString realThen;
};

// A project outside the one deleted, as its containers' labels say it was started.
struct OtherProject {
    QString name;
    QString dir;
    QStringList files;
    QStringList envFiles;
};

struct Recorded {
    QList<Use> uses;
    QMap<QString, QString> containers; // id -> name
    QStringList running;               // ids
    QList<OtherProject> projects;
    QMap<QString, QString> volumes; // name -> creation time
    Snapshot world;
};

// Whether `said` may be about something outside this test: whatever on the shared engine the test did
// not make (another run's container binding the root, a stranger's project that cannot be read), a
// mount of someone else's that stalls, an engine too busy to say. Then a folder kept is no sign of
// anything.
inline bool foreign(const QString& said)
{
    return !TestSupport::strangersNamedIn(said).isEmpty() ||
           said.contains(QStringLiteral("does not answer")) || said.contains(QStringLiteral("did not say"));
}

// The Trash folders at the top of the root's file system, where a folder from there goes when the
// home Trash lies on another.
inline QStringList topTrashes()
{
    const QString uid = QString::number(::getuid());
    return {"/.Trash-" + uid, "/.Trash/" + uid};
}

// Removes a folder a layout made directly under the root, and what the Trash of its file system took
// of it: only ever a name of this run's.
inline void removeOutside(const QString& folder)
{
    const QString name = QFileInfo(folder).fileName();
    if (QFileInfo(folder).path() != u'/' || !name.startsWith(TestSupport::runPrefix()))
        return;
    QDir(folder).removeRecursively();
    for (const QString& trash : topTrashes()) {
        QDir(trash + "/files/" + name).removeRecursively();
        QFile::remove(trash + "/info/" + name + ".trashinfo");
    }
}

// One line of a process's mount table: the file system by its device, the path within it that is
// mounted, and where.
struct KernelMount {
    quint64 device = 0;
    QString root;
    QString point;
};

// A field of the table as the kernel escapes it: a blank, a tab, a line break and a backslash as three
// octal digits after a backslash.
inline QString unescaped(const QByteArray& field)
{
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        bool octal = field[i] == '\\' && i + 3 < field.size();
        for (qsizetype j = 1; octal && j <= 3; ++j)
            octal = field[i + j] >= '0' && field[i + j] <= '7';
        if (octal) {
            out += char(field.mid(i + 1, 3).toInt(nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return QFile::decodeName(out);
}

// The lines of a mount table as /proc/<pid>/mountinfo has it.
inline QList<KernelMount> mountTable(const QByteArray& text)
{
    QList<KernelMount> mounts;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5)
            continue;
        const QList<QByteArray> numbers = fields[2].split(':');
        if (numbers.size() != 2)
            continue;
        mounts << KernelMount{quint64(makedev(numbers[0].toUInt(), numbers[1].toUInt())),
                              unescaped(fields[3]), unescaped(fields[4])};
    }
    return mounts;
}

// The mount table of the process `pid` (or "self"); none when it cannot be read.
inline std::optional<QList<KernelMount>> kernelMounts(const QString& pid)
{
    QFile table(QStringLiteral("/proc/%1/mountinfo").arg(pid));
    if (!table.open(QIODevice::ReadOnly))
        return std::nullopt;
    return mountTable(table.readAll());
}

// Where `mount` is on this process's side: through the mount of the same file system here that holds
// the deepest part of its path. None when no mount here holds it.
inline std::optional<QString> pathHere(const KernelMount& mount, const QList<KernelMount>& here)
{
    const KernelMount* best = nullptr;
    for (const KernelMount& candidate : here)
        if (candidate.device == mount.device && under(mount.root, candidate.root) &&
            (!best || candidate.root.size() > best->root.size()))
            best = &candidate;
    if (!best)
        return std::nullopt;
    const QString rest = best->root == u'/' ? mount.root : mount.root.mid(best->root.size());
    return QDir::cleanPath(best->point + u'/' + rest);
}

// The files, by identity, of a snapshot.
inline QSet<QPair<quint64, quint64>> identities(const Snapshot& taken)
{
    QSet<QPair<quint64, quint64>> found;
    for (const Entry& entry : taken)
        found.insert({entry.identity.device, entry.identity.inode});
    return found;
}

// The mounts the running containers `running` (identifiers; names in `names`) hold of what the Trash
// holds now, by its files' identities or within its folders `trashed`: one line each. A table that
// cannot be read goes to `unread`.
inline QStringList heldInTrash(const QMap<QString, QString>& names, const QStringList& running,
                               const QSet<QPair<quint64, quint64>>& inTrash, const QStringList& trashed,
                               QStringList& unread)
{
    QStringList held;
    if (running.isEmpty())
        return held;
    const std::optional<QList<KernelMount>> here = kernelMounts(QStringLiteral("self"));
    if (!here) {
        unread << QStringLiteral("this process's mount table");
        return held;
    }
    // A container gone since says so when it is started again.
    const Platform::Capture pids = TestSupport::docker(
        QStringList{"inspect", "--type", "container", "--format", "{{.Id}} {{.State.Pid}}"} + running);
    for (const QString& line : pids.out.split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(u' ');
        const QString name = names.value(fields.value(0), fields.value(0));
        if (fields.size() != 2 || fields[1] == u"0")
            continue;
        const std::optional<QList<KernelMount>> mounts = kernelMounts(fields[1]);
        if (!mounts) {
            unread << QStringLiteral("the mount table of container %1").arg(name);
            continue;
        }
        for (const KernelMount& mount : *mounts) {
            const std::optional<QString> path = pathHere(mount, *here);
            if (!path)
                continue;
            const std::optional<Entry> entry = entryAt(*path, false);
            const bool inside =
                (entry && inTrash.contains({entry->identity.device, entry->identity.inode})) ||
                std::any_of(trashed.cbegin(), trashed.cend(),
                            [&](const QString& item) { return under(*path, item); });
            if (inside)
                held << QStringLiteral("container %1 still holds %2 at %3, and that is in the Trash now")
                            .arg(name, *path, mount.point);
        }
    }
    return held;
}

// What a service of another project read, and what it printed then.
struct Seen {
    QString project;
    Probe probe;
    QString printed;
};

// `probe` run in the running container of `project`'s service.
inline Platform::Capture probeRun(const QString& project, const Probe& probe)
{
    const QString id =
        TestSupport::docker({"ps", "-q", "--filter", "label=com.docker.compose.project=" + project,
                             "--filter", "label=com.docker.compose.service=" + probe.service})
            .out.split(u'\n', Qt::SkipEmptyParts)
            .value(0);
    if (id.isEmpty())
        return {1, {}, QStringLiteral("its container does not run")};
    return TestSupport::docker({"exec", id, "sh", "-c", probe.script});
}

// The last line of what compose said: its verdict, after the lines of its progress.
inline QString lastLine(const QString& said)
{
    return said.trimmed().split(u'\n').last().trimmed();
}

// Each project of the layout but the target brought up by compose as it was started, from nothing, as
// after a restart of the machine: every file it names is read again. What fails to start, or whose
// services see other than they saw, one line each.
inline QStringList upAgain(const Layout& layout, const QList<Seen>& seen)
{
    QStringList lost;
    for (const Step& step : layout.steps) {
        if (step.kind != Step::Kind::Project || step.name == layout.target)
            continue;
        const QStringList ids =
            TestSupport::docker({"ps", "-aq", "--filter", "label=com.docker.compose.project=" + step.name})
                .out.split(u'\n', Qt::SkipEmptyParts);
        if (!ids.isEmpty())
            TestSupport::docker(QStringList{"rm", "-f"} + ids);
        const Platform::Capture up =
            TestSupport::docker(QStringList{"compose", "-p", step.name} + step.args + QStringList{"up", "-d"},
                                step.cwd.isEmpty() ? QDir::rootPath() : step.cwd);
        if (up.status != 0) {
            lost << QStringLiteral("project %1 no longer starts: %2").arg(step.name, lastLine(up.err));
            continue;
        }
        for (const Seen& before : seen) {
            if (before.project != step.name)
                continue;
            const Platform::Capture now = probeRun(step.name, before.probe);
            const QString what = QStringLiteral("project %1's %2, asked `%3`,")
                                     .arg(step.name, before.probe.service, before.probe.script);
            if (now.status != 0)
                lost << QStringLiteral("%1 no longer answers: %2").arg(what, lastLine(now.err));
            else if (now.out != before.printed)
                lost << QStringLiteral("%1 says \"%2\" now, not \"%3\"")
                            .arg(what, now.out.trimmed(), before.printed.trimmed());
        }
    }
    return lost;
}

} // namespace Layouts
