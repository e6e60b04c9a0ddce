// A read-only view of a folder that stops answering on demand, as a network mount that went away does:
// SIGUSR1 stalls it, SIGUSR2 lets it answer again. Every look made while stalled (but at the mount point
// itself) waits until then, in the kernel, where no signal ends it. For trying by hand how the application
// behaves with project folders on such a mount; not built with the rest, and not installed by
// scripts/deps.sh. Needs libfuse3-dev and fuse3 (apt-get install libfuse3-dev fuse3):
//   cc -O1 -o stallfs scripts/hand/stallfs.c $(pkg-config --cflags --libs fuse3)
//   ./stallfs <backing folder> <mount point> [-f]  (as root, or with user_allow_other; -f: in the foreground)
//   kill -USR1 $(pidof stallfs)   ...   kill -USR2 $(pidof stallfs)   ...   fusermount3 -u <mount point>
// With STALLFS_ONLY_BELOW=<pid> in its environment it stalls only that process and what it started.
// scripts/hand/stalled-projects.sh puts nineteen projects on it and times the text modes and the window.
#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static const char* backing;
static volatile sig_atomic_t stalled;
// With STALLFS_ONLY_BELOW=<pid>, only that process and those it started (however deep) are held up;
// every other process is answered at once, so a stall tried by hand holds up nobody else's work.
static pid_t onlyBelow;

static void onSignal(int sig) { stalled = sig == SIGUSR1; }

static pid_t parentOf(pid_t pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE* status = fopen(path, "r");
    if (!status)
        return 0;
    char line[256];
    int parent = 0;
    while (fgets(line, sizeof line, status))
        if (sscanf(line, "PPid: %d", &parent) == 1)
            break;
    fclose(status);
    return (pid_t)parent;
}

static int holdsUp(pid_t pid)
{
    for (int depth = 0; onlyBelow != 0 && pid > 1 && depth < 64; ++depth, pid = parentOf(pid))
        if (pid == onlyBelow)
            return 1;
    return onlyBelow == 0;
}

static void waitWhileStalled(const char* path)
{
    if (strcmp(path, "/") == 0 || !holdsUp(fuse_get_context()->pid))
        return;
    while (stalled)
        usleep(50000);
}

static void real(char* out, const char* path) { snprintf(out, PATH_MAX, "%s%s", backing, path); }

static int fsGetattr(const char* path, struct stat* st, struct fuse_file_info* fi)
{
    (void)fi;
    waitWhileStalled(path);
    char p[PATH_MAX];
    real(p, path);
    return lstat(p, st) == 0 ? 0 : -errno;
}

static int fsReaddir(const char* path, void* buf, fuse_fill_dir_t fill, off_t off, struct fuse_file_info* fi,
                     enum fuse_readdir_flags flags)
{
    (void)off, (void)fi, (void)flags;
    waitWhileStalled(path);
    char p[PATH_MAX];
    real(p, path);
    DIR* d = opendir(p);
    if (!d)
        return -errno;
    for (struct dirent* e; (e = readdir(d));)
        fill(buf, e->d_name, NULL, 0, 0);
    closedir(d);
    return 0;
}

static int fsOpen(const char* path, struct fuse_file_info* fi)
{
    waitWhileStalled(path);
    char p[PATH_MAX];
    real(p, path);
    int fd = open(p, O_RDONLY);
    if (fd < 0)
        return -errno;
    fi->fh = fd;
    return 0;
}

static int fsRead(const char* path, char* buf, size_t size, off_t off, struct fuse_file_info* fi)
{
    waitWhileStalled(path);
    ssize_t n = pread(fi->fh, buf, size, off);
    return n < 0 ? -errno : (int)n;
}

static int fsRelease(const char* path, struct fuse_file_info* fi)
{
    (void)path;
    close(fi->fh);
    return 0;
}

static const struct fuse_operations ops = {
    .getattr = fsGetattr, .readdir = fsReaddir, .open = fsOpen, .read = fsRead, .release = fsRelease};

int main(int argc, char* argv[])
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s <backing folder> <mount point> [fuse options]\n", argv[0]);
        return 2;
    }
    backing = realpath(argv[1], NULL);
    if (getenv("STALLFS_ONLY_BELOW"))
        onlyBelow = (pid_t)atoi(getenv("STALLFS_ONLY_BELOW"));
    signal(SIGUSR1, onSignal);
    signal(SIGUSR2, onSignal);
    argv[1] = argv[0];
    return fuse_main(argc - 1, argv + 1, &ops, NULL);
}
