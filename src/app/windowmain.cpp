// The window's start, and clip's clipboard: the part of the program that
// needs a display.
#include "clipboardhandover.h"
#include "guilibrary.h"
#include "instance.h"
#include "mainwindow.h"
#include "recordcommands.h"
#include "splash.h"
#include "terminal.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {

// How long a start waits for a command run from a terminal to let the records go.
constexpr qint64 kCommandWaitMs = 3000;

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

int RunWindow(int argc, char *argv[]) {
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
    const QString programFolder = mainWindow.paths().programFolder;
    Platform::FolderLock::Result held = mainWindow.session().lock();
    // A command's hold mostly ends within a moment (a script's add, say).
    QElapsedTimer waited;
    waited.start();
    while (held == Platform::FolderLock::Result::Busy && !Platform::windowMarks(programFolder) &&
           waited.elapsed() < kCommandWaitMs) {
        QThread::msleep(50);
        held = mainWindow.session().lock();
    }
    if (held == Platform::FolderLock::Result::Busy) {
        const bool window = Platform::windowMarks(programFolder);
        if (window)
            FrontRequests::ask(dataFolder);
        const QString text = window ? kOpenElsewhereText : kCommandAtWorkText;
        std::fprintf(stderr, "varnlock: %s\n", qPrintable(text));
        hooks.message(QMessageBox::Information, kProgramTitle, text);
        return 0;
    }
    // A folder that is not the user's alone is neither read nor written.
    if (held == Platform::FolderLock::Result::Untrusted) {
        hooks.message(QMessageBox::Critical, kProgramTitle,
                      UntrustedFolderText(mainWindow.session().untrusted()));
        return 1;
    }
    FrontRequests front(dataFolder);
    // Marked once all a window sets up in Data is there.
    if (held == Platform::FolderLock::Result::Locked)
        Platform::markWindowOn(programFolder);
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

int RunClip(int argc, char *argv[], const CommandArguments &args) {
    QGuiApplication app(argc, argv);
    Session session(StorePaths::forExecutableFolder(QCoreApplication::applicationDirPath()));
    if (!OpenRecords(session, Access::Read))
        return kExitFailed;
    SayCopiesLeft(session);
    return ClipCommand(session, args);
}

} // namespace

extern "C" Q_DECL_EXPORT const GuiEntry *VarnlockGuiEntry() {
    static const GuiEntry entry{RunWindow, RunClip, HoldClipboard};
    return &entry;
}
