#include "guilibrary.h"

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
    // By its name alone, so the program's own search path finds it: its
    // folder once installed, the build tree while it is built.
    void *library = ::dlopen(VARNLOCK_GUI_LIBRARY, RTLD_NOW | RTLD_LOCAL);
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
