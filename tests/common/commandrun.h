#pragma once

#include "testfolders.h"

#include <QProcess>
#include <QProcessEnvironment>

// The built program in a test's program folder, run as a script runs it:
// no display unless asked for, standard input given, its answers read.
struct Run {
    int code = -1;
    QString out;
    QString err;
};

inline Run runProgram(const TestFolders &f, const QStringList &args, const QByteArray &input = {},
                      bool withDisplay = false) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!withDisplay) {
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
    }
    env.insert("TMPDIR", f.paths.tempFolder);
    process.setProcessEnvironment(env);
    process.start(f.paths.programFolder + "/varnlock", args);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}
