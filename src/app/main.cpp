#include "chestwrd.h"
#include "instance.h"
#include "splash.h"

#include <QApplication>
#include <QScreen>

#include <cstdio>

namespace {

// Shows the splash without waiting; when it closes it brings up the main window.
void ShowSplash(const UiHooks &hooks, Chestwrd &mainWindow) {
    auto *splash = new Splash(hooks, [&mainWindow] { mainWindow.showLoaded(); });
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        splash->move(screen->availableGeometry().center() - splash->rect().center());
    splash->show();
}

} // namespace

int main(int argc, char *argv[]) {
    // Before anything is read: no other process may look into this one.
    Platform::protectProcessMemory();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnlock"));
    QApplication::setDesktopFileName(QStringLiteral("org.example.varnlock"));
    // The program ends when its main window closes, not when a splash or the
    // password prompt happens to be the last window left.
    QApplication::setQuitOnLastWindowClosed(false);
    InstallVarnlockStyle();

    const UiHooks hooks = UiHooks::desktop();
    Chestwrd mainWindow(StorePaths::forExecutableFolder(QCoreApplication::applicationDirPath()),
                        hooks);
    const QString dataFolder = mainWindow.paths().dataFolder();
    // A second start on the same records brings the first window forward and
    // ends before it reads or writes anything.
    if (mainWindow.session().lock() == Platform::FolderLock::Result::Busy) {
        FrontRequests::ask(dataFolder);
        std::fprintf(stderr, "varnlock: %s\n", qPrintable(kOpenElsewhereText));
        hooks.message(QMessageBox::Information, kProgramTitle, kOpenElsewhereText);
        return 0;
    }
    FrontRequests front(dataFolder);
    QObject::connect(&front, &FrontRequests::requested, &mainWindow,
                     [&mainWindow] { mainWindow.bringToFront(); });

    mainWindow.showAbout = [&] { ShowSplash(hooks, mainWindow); };
    ShowSplash(hooks, mainWindow);
    return QApplication::exec();
}
