#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// Byte counts as the desktop writes them for people: "Zero KB", "1 byte", "532 bytes", "14 KB",
// "1.5 MB", "2.25 GB". Files and disks count in thousands, memory in 1,024s; both print the same
// unit names. KB has no fraction digits, MB one, GB and above two, trailing zeros dropped.
namespace Platform {

enum class ByteCountStyle { File, Memory };

QString byteCount(qint64 bytes, ByteCountStyle style);

inline QString fileSize(qint64 bytes)
{
    return byteCount(bytes, ByteCountStyle::File);
}

inline QString memorySize(qint64 bytes)
{
    return byteCount(bytes, ByteCountStyle::Memory);
}

// The disk a project or a container takes, as its cards and tiles show it: none (drawn "—") when it
// was not measured or comes to less than a byte, so a detail never says "Zero KB" where a card says "—".
inline std::optional<QString> diskFigure(std::optional<qint64> bytes)
{
    if (!bytes || *bytes < 1)
        return std::nullopt;
    return fileSize(*bytes);
}

} // namespace Platform
