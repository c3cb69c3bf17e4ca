#include "guilibrary.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

const GuiEntry *LoadGui(QString *why) {
    using Entry = const GuiEntry *(*)();
#ifdef Q_OS_WIN
    // Looked for in the program's own folder first.
    HMODULE library = ::LoadLibraryW(L"varnlock-window.dll");
    if (!library) {
        *why = QStringLiteral("varnlock-window.dll could not be loaded (error %1)")
                   .arg(::GetLastError());
        return nullptr;
    }
    const auto entry = reinterpret_cast<Entry>(::GetProcAddress(library, "VarnlockGuiEntry"));
#else
    // Beside the program first (installed, or a portable copy), and only a
    // file this user or root put there: a library planted in a folder others
    // may write would run as the user. Without one there, by its name alone,
    // which the build tree's search path finds while the program is built.
    const QString folder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    const QString beside = folder + QStringLiteral("/" VARNLOCK_GUI_LIBRARY);
    void *library = nullptr;
    const int fd = folder.isEmpty() ? -1
                                    : ::open(QFile::encodeName(beside).constData(),
                                             O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
        struct stat st {};
        const bool trusted = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                             (st.st_uid == ::geteuid() || st.st_uid == 0) &&
                             !(st.st_mode & (S_IWGRP | S_IWOTH));
        // The very file looked at is the one loaded.
        if (trusted)
            library = ::dlopen(QByteArray("/proc/self/fd/" + QByteArray::number(fd)).constData(),
                               RTLD_NOW | RTLD_LOCAL);
        ::close(fd);
        if (!trusted) {
            *why = QStringLiteral("%1 is another user's, or others may write it, so it is not "
                                  "loaded. Make it yours alone (chmod go-w), or put the program "
                                  "where only you can write.")
                       .arg(beside);
            return nullptr;
        }
    } else {
        library = ::dlopen(VARNLOCK_GUI_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    }
    if (!library) {
        *why = QString::fromLocal8Bit(::dlerror());
        return nullptr;
    }
    const auto entry = reinterpret_cast<Entry>(::dlsym(library, "VarnlockGuiEntry"));
#endif
    if (!entry) {
        *why = QStringLiteral("the window's library has no entry");
        return nullptr;
    }
    return entry();
}
