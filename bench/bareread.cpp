// The baseline of the command line's rows: a process that starts, reads one
// file whole, and ends, with nothing else loaded.
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char *argv[]) {
    if (argc != 2)
        return 2;
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 1;
    static char buffer[1 << 16];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
    }
    ::close(fd);
    return n < 0 ? 1 : 0;
}
