// A folder that stops answering, as a network mount whose server went away does: a file system of
// its own, served straight from /dev/fuse, that answers for its root folder and never for anything in
// it. A thread that looks at a name inside waits in the kernel, and once a kill has reached it, it
// waits where no signal can end it, until this program ends and the mount is torn down.
//
//   voskel_stalling_mount <empty folder> [pid]
//
// With a pid, it stalls only the looks of that process and of those it started (however deep), and
// every other process finds nothing there: tests that run beside on a shared engine, whose plans look
// at every container's folder, see one that is not there rather than one that never answers (unless they
// look at the very path a look of ours is held at: the kernel has them wait for that look).
//
// Prints "ready" once the mount is in place (or why it could not be made, with status 2: mounting
// needs the right to, which a test then takes as a reason to skip), then "held <pid>" for each look it
// holds, naming the thread that waits. Ends on SIGTERM or SIGINT, or when its standard input closes,
// unmounting on the way.
#include <linux/fuse.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

volatile sig_atomic_t stopAsked = 0;

void stop(int)
{
    stopAsked = 1;
}

void reply(int device, std::uint64_t unique, int error, const void* body = nullptr, size_t size = 0)
{
    fuse_out_header header{};
    header.len = std::uint32_t(sizeof header + size);
    header.error = -error;
    header.unique = unique;
    std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
    if (body)
        bytes.append(static_cast<const char*>(body), size);
    [[maybe_unused]] const ssize_t written = ::write(device, bytes.data(), bytes.size());
}

pid_t stallBelow = 0; // 0: every process

// The parent of `pid` (a thread's is its process's); 0 when it cannot be read.
pid_t parentOf(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    std::FILE* status = std::fopen(path.c_str(), "r");
    if (!status)
        return 0;
    char line[256];
    pid_t parent = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "PPid: %d", &parent) == 1)
            break;
    std::fclose(status);
    return parent;
}

bool stalls(pid_t pid)
{
    for (int depth = 0; stallBelow != 0 && pid > 1 && depth < 64; ++depth, pid = parentOf(pid))
        if (pid == stallBelow)
            return true;
    return stallBelow == 0;
}

void answer(int device, const fuse_in_header& header, const char* body)
{
    switch (header.opcode) {
    case FUSE_INIT: {
        fuse_init_in in{};
        std::memcpy(&in, body, std::min<size_t>(sizeof in, header.len - sizeof header));
        fuse_init_out out{};
        out.major = FUSE_KERNEL_VERSION;
        out.minor = std::min<std::uint32_t>(in.minor, FUSE_KERNEL_MINOR_VERSION);
        out.max_readahead = in.max_readahead;
        out.max_write = 4096;
        // Looks at names in one folder reach it side by side, rather than one after another behind the
        // folder's lock, so every look held is seen held here.
        out.flags = in.flags & FUSE_PARALLEL_DIROPS;
        reply(device, header.unique, 0, &out, sizeof out);
        return;
    }
    case FUSE_GETATTR:
        if (header.nodeid == FUSE_ROOT_ID) {
            fuse_attr_out out{};
            out.attr_valid = 0;
            out.attr.ino = FUSE_ROOT_ID;
            out.attr.mode = S_IFDIR | 0755;
            out.attr.nlink = 2;
            out.attr.uid = ::getuid();
            out.attr.gid = ::getgid();
            reply(device, header.unique, 0, &out, sizeof out);
            return;
        }
        break;
    case FUSE_LOOKUP:
        if (!stalls(pid_t(header.pid))) {
            reply(device, header.unique, ENOENT);
            return;
        }
        // The stall: never answered.
        std::printf("held %u\n", header.pid);
        std::fflush(stdout);
        return;
    case FUSE_INTERRUPT:
    case FUSE_FORGET:
    case FUSE_BATCH_FORGET:
        return; // no answer is expected, and an interrupted lookup stays unanswered
    default:
        break;
    }
    reply(device, header.unique, ENOSYS);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: voskel_stalling_mount <empty folder> [pid]\n");
        return 1;
    }
    const char* folder = argv[1];
    if (argc == 3)
        stallBelow = pid_t(std::atoi(argv[2]));
    const int device = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (device < 0) {
        std::printf("cannot open /dev/fuse: %s\n", std::strerror(errno));
        return 2;
    }
    const std::string options = "fd=" + std::to_string(device) +
                                ",rootmode=40000,user_id=" + std::to_string(::getuid()) +
                                ",group_id=" + std::to_string(::getgid());
    if (::mount("voskel-stall", folder, "fuse.voskel-stall", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        std::printf("cannot mount at %s: %s\n", folder, std::strerror(errno));
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = stop;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<char> buffer(FUSE_MIN_READ_BUFFER + 1024 * 1024);
    while (!stopAsked) {
        pollfd fds[2] = {{device, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (::poll(fds, 2, 200) < 0)
            continue;
        if (fds[1].revents != 0) {
            char byte;
            if (::read(STDIN_FILENO, &byte, 1) <= 0)
                break;
        }
        if ((fds[0].revents & POLLIN) == 0)
            continue;
        const ssize_t got = ::read(device, buffer.data(), buffer.size());
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == ENOENT))
            continue;
        if (got < ssize_t(sizeof(fuse_in_header)))
            break; // unmounted from outside
        fuse_in_header header;
        std::memcpy(&header, buffer.data(), sizeof header);
        answer(device, header, buffer.data() + sizeof header);
    }
    // Detached first: a thread still waiting on the mount is let go as the connection closes.
    ::umount2(folder, MNT_DETACH);
    ::close(device);
    return 0;
}
