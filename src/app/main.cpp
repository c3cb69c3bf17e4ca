#include "chestwrd.h"
#include "splash.h"

#include <QApplication>
#include <QScreen>

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
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnlock"));
    QApplication::setDesktopFileName(QStringLiteral("varnlock"));
    // The program ends when its main window closes, not when a splash or the
    // password prompt happens to be the last window left.
    QApplication::setQuitOnLastWindowClosed(false);
    InstallVarnlockStyle();

    const UiHooks hooks = UiHooks::desktop();
    Chestwrd mainWindow(StorePaths::forProgramFolder(QCoreApplication::applicationDirPath()),
                        hooks);
    mainWindow.showAbout = [&] { ShowSplash(hooks, mainWindow); };
    ShowSplash(hooks, mainWindow);
    return QApplication::exec();
}
