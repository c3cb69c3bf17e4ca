#include "clipboardhandover.h"
#include "commandline.h"
#include "commands.h"
#include "instance.h"
#include "mainwindow.h"
#include "splash.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace {

// Shows the splash without waiting; when it closes it brings up the main window.
void ShowSplash(const UiHooks &hooks, const std::function<void()> &showMainWindow) {
    auto *splash = new Splash(hooks, showMainWindow);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        splash->move(screen->availableGeometry().center() - splash->rect().center());
    splash->show();
}

// With --time-startup the program starts as usual, then prints how long the
// window took to become usable after the splash closed, and the most memory
// it used, and ends: the benchmark times the real program this way.
void ReportStartUpAndQuit(const QElapsedTimer &sinceSplashClosed) {
    QTimer::singleShot(0, [sinceSplashClosed] {
        std::fprintf(
            stderr,
            "varnlock: window ready %.1f ms after the splash closed; peak memory %lld KiB\n",
            double(sinceSplashClosed.nsecsElapsed()) / 1e6,
            static_cast<long long>(Platform::peakMemoryBytes() / 1024));
        QApplication::quit();
    });
}

} // namespace

int main(int argc, char *argv[]) {
    // Before anything is read: no other process may look into this one.
    Platform::protectProcessMemory();
    // The help, the version, a refusal and the commands need no window, and
    // so no display (clip alone reaches one).
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (argc > 1 && qstrcmp(argv[1], kHoldClipboardArgument) == 0)
        return HoldClipboard(argc, argv);
    const CommandLine request = ReadCommandLine(arguments);
    if (request.kind == CommandLine::Kind::Command)
        return RunCommand(argc, argv);
    if (request.kind != CommandLine::Kind::Window)
        return AnswerCommandLine(request);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnlock"));
    QApplication::setDesktopFileName(QStringLiteral("org.example.varnlock"));
    // The program ends when its main window closes, not when a splash or the
    // password prompt happens to be the last window left.
    QApplication::setQuitOnLastWindowClosed(false);
    InstallVarnlockStyle();

    const UiHooks hooks = UiHooks::desktop();
    MainWindow mainWindow(StorePaths::forExecutableFolder(QCoreApplication::applicationDirPath()),
                          hooks);
    const QString dataFolder = mainWindow.paths().dataFolder();
    // A second start on the same records brings the first window forward and
    // ends before it reads or writes anything.
    const Platform::FolderLock::Result held = mainWindow.session().lock();
    if (held == Platform::FolderLock::Result::Busy) {
        FrontRequests::ask(dataFolder);
        std::fprintf(stderr, "varnlock: %s\n", qPrintable(kOpenElsewhereText));
        hooks.message(QMessageBox::Information, kProgramTitle, kOpenElsewhereText);
        return 0;
    }
    // A folder that is not the user's alone is neither read nor written.
    if (held == Platform::FolderLock::Result::Untrusted) {
        hooks.message(QMessageBox::Critical, kProgramTitle,
                      UntrustedFolderText(mainWindow.session().untrusted()));
        return 1;
    }
    FrontRequests front(dataFolder);
    QObject::connect(&front, &FrontRequests::requested, &mainWindow,
                     [&mainWindow] { mainWindow.bringToFront(); });

    const auto showMainWindow = [&mainWindow] { mainWindow.showLoaded(); };
    QObject::connect(&mainWindow, &MainWindow::aboutRequested,
                     [&] { ShowSplash(hooks, showMainWindow); });
    if (QCoreApplication::arguments().contains(QStringLiteral("--time-startup"))) {
        ShowSplash(hooks, [&mainWindow] {
            QElapsedTimer clock;
            clock.start();
            mainWindow.showLoaded();
            ReportStartUpAndQuit(clock);
        });
    } else {
        ShowSplash(hooks, showMainWindow);
    }
    // The records are read while the splash shows, once it has been drawn.
    QTimer::singleShot(50, &mainWindow, [&mainWindow] { mainWindow.preload(); });
    return QApplication::exec();
}
