#include "platform.h"

#include <QFile>

#include <cerrno>

// The process itself: its hold on a folder, its memory kept from others, and
// the hints and figures about that memory.

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/mman.h>
#include <sys/prctl.h>
#endif

namespace Platform {

FolderLock::~FolderLock() {
    unlock();
}

FolderLock::Result FolderLock::lock(const QString &folder) {
    if (held())
        return Result::Locked;
#ifdef Q_OS_WIN
    // A lock file opened with no sharing: the system closes it with the process.
    const std::wstring name =
        QDir::toNativeSeparators(folder + QStringLiteral("/lock")).toStdWString();
    int fd = -1;
    const errno_t error =
        _wsopen_s(&fd, name.c_str(), _O_CREAT | _O_RDWR, _SH_DENYRW, _S_IREAD | _S_IWRITE);
    if (error == EACCES)
        return Result::Busy;
    if (error != 0)
        return Result::Failed;
#else
    // The folder itself carries the lock: no lock file to go stale. A link
    // is not followed, and the folder must be ours alone: a hold on another
    // user's folder would only hand them the records.
    const int fd = ::open(QFile::encodeName(folder).constData(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno == ELOOP || errno == ENOTDIR ? Result::Untrusted : Result::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        ::close(fd);
        return Result::Untrusted;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return busy ? Result::Busy : Result::Failed;
    }
#endif
    m_handle = fd;
    return Result::Locked;
}

bool FolderLock::holds(const QString &folder) const {
    if (!held())
        return false;
#ifdef Q_OS_WIN
    Q_UNUSED(folder);
    return true; // a folder with an open file in it can not be renamed there
#else
    struct stat ours {};
    struct stat there {};
    return ::fstat(m_handle, &ours) == 0 &&
           ::lstat(QFile::encodeName(folder).constData(), &there) == 0 &&
           ours.st_dev == there.st_dev && ours.st_ino == there.st_ino;
#endif
}

void FolderLock::unlock() {
    if (!held())
        return;
#ifdef Q_OS_WIN
    _close(m_handle);
#else
    ::close(m_handle); // closing drops the flock
#endif
    m_handle = -1;
}

void markWindowOn(const QString &programFolder) {
#ifdef Q_OS_WIN
    Q_UNUSED(programFolder);
#else
    // Only the window that holds the records marks the folder, so the hold
    // can be exclusive; a command's look at it is shared and brief, and is
    // waited out. The descriptor stays open for the process's life.
    const int fd =
        ::open(QFile::encodeName(programFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    for (int tries = 0; tries < 200; ++tries) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return;
        ::usleep(1000);
    }
    ::close(fd);
#endif
}

bool windowMarks(const QString &programFolder) {
#ifdef Q_OS_WIN
    Q_UNUSED(programFolder);
    return true;
#else
    const int fd =
        ::open(QFile::encodeName(programFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return true;
    const bool marked = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd); // closing drops the look's own hold
    return marked;
#endif
}

void keepStandardStreamsOpen() {
#ifndef Q_OS_WIN
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // The lowest free number is this one: those below it are open now.
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd)
            ::close(opened);
    }
#endif
}

void protectProcessMemory() {
#ifdef Q_OS_LINUX
    // Not dumpable: /proc/PID/mem and ptrace are closed to the user's other
    // processes, and the kernel writes no core.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
#ifndef Q_OS_WIN
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
#endif
}

void adviseLargeBlock(void *data, qsizetype size) {
#ifdef Q_OS_LINUX
    // Only whole large pages inside the block; the advice is a hint, and a
    // system without large pages simply ignores it.
    constexpr quintptr kLargePage = quintptr(2) << 20;
    const auto begin = (reinterpret_cast<quintptr>(data) + kLargePage - 1) & ~(kLargePage - 1);
    const auto end = (reinterpret_cast<quintptr>(data) + quintptr(size)) & ~(kLargePage - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    Q_UNUSED(data);
    Q_UNUSED(size);
#endif
}

qint64 peakMemoryBytes() {
#ifdef Q_OS_WIN
    return 0;
#elif defined(Q_OS_LINUX)
    // The high-water mark of this program's own memory: getrusage would also
    // count what the process that started it held before the exec.
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
#else
    struct rusage usage {};
    if (::getrusage(RUSAGE_SELF, &usage) != 0)
        return 0;
#ifdef Q_OS_MACOS
    return qint64(usage.ru_maxrss); // bytes there, KiB elsewhere
#else
    return qint64(usage.ru_maxrss) * 1024;
#endif
#endif
}

} // namespace Platform
