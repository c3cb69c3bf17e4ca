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

enum class ProgramDisplay { None, Inherited, Offscreen };

// The environment the program runs in: the test's temporary folder, and the
// display asked for.
inline QProcessEnvironment programEnvironment(const TestFolders &f, ProgramDisplay display) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (display != ProgramDisplay::Inherited) {
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
    }
    if (display == ProgramDisplay::Offscreen)
        env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TMPDIR", f.paths.tempFolder);
    return env;
}

// Starts the program in the test's folder; the caller writes its input.
inline void startProgram(QProcess &process, const TestFolders &f, const QStringList &args,
                         ProgramDisplay display = ProgramDisplay::None) {
    process.setProcessEnvironment(programEnvironment(f, display));
    process.start(f.paths.programFolder + "/varnlock", args);
}

inline Run runProgram(const TestFolders &f, const QStringList &args, const QByteArray &input = {},
                      bool withDisplay = false) {
    QProcess process;
    startProgram(process, f, args, withDisplay ? ProgramDisplay::Inherited : ProgramDisplay::None);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}
