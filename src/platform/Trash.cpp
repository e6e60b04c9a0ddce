#include "platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Platform {

namespace {

// The path with every symbolic link followed when it exists; otherwise only cleaned.
QString resolved(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

bool holds(const QString& folder, const QString& path)
{
    return folder == u'/' || path.startsWith(folder + u'/');
}

QString refused(const QString& path, const QString& reason)
{
    return QStringLiteral("Refused to move %1 to the Trash: %2.").arg(path, reason);
}

} // namespace

std::optional<QString> trashRefusal(const QString& path)
{
    // The folder usually comes from container labels, which whoever starts a container can set, so
    // it is checked as untrusted input.
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return refused(path.isEmpty() ? QStringLiteral("an empty path") : path,
                       QStringLiteral("it is not an absolute path"));
    const QString target = resolved(path);
    if (target == u'/' || QDir::cleanPath(path) == u'/')
        return refused(path, QStringLiteral("it is the root of the file system"));
    for (const QString& home : {resolved(QDir::homePath()), QDir::cleanPath(QDir::homePath())}) {
        if (target == home || QDir::cleanPath(path) == home)
            return refused(path, QStringLiteral("it is your home folder"));
        if (holds(target, home) || holds(QDir::cleanPath(path), home))
            return refused(path, QStringLiteral("it contains your home folder"));
    }
    return std::nullopt;
}

std::optional<QString> moveToTrash(const QString& path)
{
    if (auto refusal = trashRefusal(path))
        return refusal;
    QFile file(path);
    if (file.moveToTrash())
        return std::nullopt;
    return QStringLiteral("Could not move %1 to the Trash: %2.").arg(path, file.errorString());
}

} // namespace Platform
