#pragma once

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstddef>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

// Small helpers for the descriptors the application shares with its children. Plain C++ and system
// calls: the keeper and the look server use them too.
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

// All of `size` bytes, however many reads it takes; false at the end of the input or on an error.
inline bool readWhole(int fd, void* data, size_t size)
{
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = ::read(fd, bytes, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= size_t(got);
    }
    return true;
}

inline bool writeWhole(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd, bytes, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        bytes += put;
        size -= size_t(put);
    }
    return true;
}

// Closes every descriptor from `first` to `last`, both included.
inline void closeRange(unsigned first, unsigned last)
{
    if (first > last)
        return;
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, first, last, 0) == 0)
        return;
#endif
    rlimit limit{};
    unsigned top = 65536;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < top)
        top = unsigned(limit.rlim_cur);
    for (unsigned fd = first; fd <= last && fd < top; ++fd)
        ::close(int(fd));
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
