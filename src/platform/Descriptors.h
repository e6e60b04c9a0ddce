#pragma once

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

// Small helpers for the descriptors the application shares with its children.
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

// A child that has gone when it is written to is an answer like any other, not the end of the
// application: the broken-pipe signal is ignored from the first such write on, for the process.
inline void ignoreBrokenPipe()
{
    static const bool ignored = [] {
        std::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)ignored;
}

} // namespace Platform
