#include "engine/ComposeInputs.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Docker {

namespace {

bool plainlyGone(int error)
{
    return error == ENOENT || error == ENOTDIR;
}

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

DiskRead failedRead(const QString& path, int error)
{
    if (plainlyGone(error))
        return {};
    return {DiskLook::Kind::Unknown, {}, QStringLiteral("%1 cannot be read: %2").arg(path, reason(error))};
}

DiskRead tooLarge(const QString& path)
{
    return {DiskLook::Kind::Unknown, {}, tooLargeMessage(path)};
}

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

DiskLook lookAtPath(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) == 0)
        return {DiskLook::Kind::There, S_ISDIR(info.st_mode), {}};
    const int error = errno;
    if (plainlyGone(error))
        return {};
    return {DiskLook::Kind::Unknown, false,
            QStringLiteral("%1 cannot be looked at: %2").arg(path, reason(error))};
}

DiskRead readComposeInput(const QString& path)
{
    int fd = -1;
    do {
        // Non-blocking: opening a pipe put in a file's place would otherwise wait for a writer.
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return failedRead(path, errno);
    const Descriptor file(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return failedRead(path, errno);
    if (!S_ISREG(info.st_mode))
        return {DiskLook::Kind::Unknown, {}, QStringLiteral("%1 is not a plain file").arg(path)};
    if (info.st_size > largestComposeInput)
        return tooLarge(path);
    QByteArray bytes;
    bytes.resize(qsizetype(info.st_size) + 1);
    qsizetype filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            // It grew while being read: read on, up to the bound.
            if (bytes.size() > largestComposeInput)
                return tooLarge(path);
            bytes.resize(std::min<qsizetype>(bytes.size() * 2, largestComposeInput + 1));
        }
        const ssize_t got = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return failedRead(path, errno);
        if (got == 0)
            break;
        filled += got;
    }
    bytes.truncate(filled);
    return {DiskLook::Kind::There, bytes, {}};
}

QString tooLargeMessage(const QString& path)
{
    return QStringLiteral("%1 is too large to be read").arg(path);
}

} // namespace Docker
