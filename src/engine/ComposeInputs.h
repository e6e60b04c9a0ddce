#pragma once

#include <QByteArray>
#include <QString>

// The files compose reads for a project, looked at and read as compose would meet them. Only a path
// that is plainly not there (ENOENT, or ENOTDIR on the way to it) is told apart as such: anything
// else that keeps it from being looked at or read whole (denied, a loop of links, an I/O error,
// something other than a plain file, more than a compose or env file can be) leaves it not known,
// with the reason. All of it looks at the disk: run it as a folder look.
namespace Docker {

// A compose or env file is a few kilobytes, and the largest anyone writes by hand a few hundred. One
// far larger is not one; its YAML would take many times its size to hold.
inline constexpr qint64 largestComposeInput = 1 << 20;

struct DiskLook {
    enum class Kind { There, Gone, Unknown };

    Kind kind = Kind::Gone;
    bool folder = false; // There only
    QString why;         // Unknown only: "<path> cannot be looked at: <reason>"

    bool operator==(const DiskLook&) const = default;
};

// What is at `path`, every link followed.
DiskLook lookAtPath(const QString& path);

struct DiskRead {
    DiskLook::Kind kind = DiskLook::Kind::Gone;
    QByteArray bytes; // There only
    QString why;      // Unknown only: "<path> cannot be read: <reason>", "<path> is too large to be read"

    bool operator==(const DiskRead&) const = default;
};

// The whole of the plain file at `path`, up to largestComposeInput. A pipe in a file's place is not
// waited on: it is no plain file.
DiskRead readComposeInput(const QString& path);

// What to say of `path` when it holds more than can be read, or its YAML more than memory allows.
QString tooLargeMessage(const QString& path);

} // namespace Docker
