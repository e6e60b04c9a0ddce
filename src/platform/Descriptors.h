#pragma once

#include <fcntl.h>
#include <unistd.h>

// Small helpers for the descriptors the application hands its children.
namespace Platform {

inline void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// The same descriptor moved to 3 or above, where handing a child its standard streams cannot overwrite
// it (the application may run with 0, 1 or 2 closed).
inline int clearOfStandardStreams(int fd)
{
    if (fd < 0 || fd > STDERR_FILENO)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

inline void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

} // namespace Platform
