// Loaded into the program under test with LD_PRELOAD: a line in the file
// $VARNLOCK_SYNC_LOG for each sync and rename the program really made, once
// it succeeded. The program's own trace names the steps it means to take;
// this sees the system calls themselves.
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

namespace {

void note(const char *call, const char *path) {
    const char *log = getenv("VARNLOCK_SYNC_LOG");
    if (!log)
        return;
    const int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    dprintf(fd, "%s %s\n", call, path);
    close(fd);
}

void noteFile(const char *call, int fd) {
    char link[64];
    char path[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    path[n > 0 ? n : 0] = '\0';
    note(call, path);
}

using SyncCall = int (*)(int);

int syncAndNote(const char *name, SyncCall &real, int fd) {
    if (!real)
        real = reinterpret_cast<SyncCall>(dlsym(RTLD_NEXT, name));
    const int result = real(fd);
    if (result == 0)
        noteFile(name, fd);
    return result;
}

} // namespace

extern "C" int fsync(int fd) {
    static SyncCall real;
    return syncAndNote("fsync", real, fd);
}

extern "C" int fdatasync(int fd) {
    static SyncCall real;
    return syncAndNote("fdatasync", real, fd);
}

extern "C" int rename(const char *from, const char *to) noexcept {
    static int (*real)(const char *, const char *);
    if (!real)
        real = reinterpret_cast<int (*)(const char *, const char *)>(dlsym(RTLD_NEXT, "rename"));
    const int result = real(from, to);
    if (result == 0) {
        char whole[PATH_MAX];
        note("rename", realpath(to, whole) ? whole : to);
    }
    return result;
}
