#pragma once

#include "testfolders.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

// The built program run as a real process in a program folder of the test's
// own, on the X server the test runs on (see run-under-xvfb.sh), driven and
// read with xdotool as a user would.

inline QStringList windowsOf(qint64 pid, const QString &name = QString()) {
    QStringList args{"search", "--all", "--onlyvisible", "--pid", QString::number(pid)};
    if (!name.isEmpty())
        args << "--name" << name;
    QProcess xdotool;
    xdotool.start("xdotool", args);
    xdotool.waitForFinished(5000);
    return QString::fromLatin1(xdotool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// Waits for a visible window of the process, optionally by its title.
inline QStringList waitForWindow(qint64 pid, const QString &name = QString(), int ms = 20000) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        const QStringList found = windowsOf(pid, name);
        if (!found.isEmpty())
            return found;
        QTest::qWait(100);
    }
    return {};
}

// The built program in the test's program folder, beside Data.
inline void installProgram(const TestFolders &f) {
    QVERIFY(QFile::copy(QStringLiteral(VARNLOCK_PATH), f.paths.programFolder + "/varnlock"));
    if (!QFileInfo::exists(f.paths.dataFolder()))
        QVERIFY(Platform::createHiddenFolder(f.paths.dataFolder()));
}

// A copy of the program in the test's program folder, started (and known to
// have started) before the test goes on.
struct Copy {
    QProcess process;

    explicit Copy(const TestFolders &f) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", f.paths.tempFolder);
        process.setProcessEnvironment(env);
        process.start(f.paths.programFolder + "/varnlock", {});
        if (!process.waitForStarted(10000))
            qWarning("the program did not start: %s", qPrintable(process.errorString()));
    }
    ~Copy() {
        process.kill();
        process.waitForFinished(5000);
    }
    qint64 pid() const { return process.processId(); }
};
