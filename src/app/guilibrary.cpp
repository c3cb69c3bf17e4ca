#include "guilibrary.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <dlfcn.h>
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
    // Beside the program first (installed, or a portable copy); then by its
    // name alone, so the program's own search path finds it in the build tree.
    const QString folder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    void *library = nullptr;
    if (!folder.isEmpty())
        library = ::dlopen(
            QFile::encodeName(folder + QStringLiteral("/" VARNLOCK_GUI_LIBRARY)).constData(),
            RTLD_NOW | RTLD_LOCAL);
    if (!library)
        library = ::dlopen(VARNLOCK_GUI_LIBRARY, RTLD_NOW | RTLD_LOCAL);
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
