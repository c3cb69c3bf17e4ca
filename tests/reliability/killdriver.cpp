// Changes a store without end, one operation after another, and records after
// each how many it has finished. A test kills it at a random moment.
//
//   killdriver KIND PROGRAM_FOLDER TEMP_FOLDER SCOPE PROGRESS_FILE

#include "killmodel.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

#include <unistd.h>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 6) {
        std::fprintf(stderr, "usage: killdriver KIND PROGRAM TEMP SCOPE PROGRESS\n");
        return 2;
    }
    const KillModel::Kind kind = KillModel::kindFromName(QString::fromLocal8Bit(argv[1]));
    StorePaths paths;
    paths.programFolder = QString::fromLocal8Bit(argv[2]);
    paths.tempFolder = QString::fromLocal8Bit(argv[3]);
    KillModel::State state = KillModel::initialState(ScopeFromDigit(argv[4][0]));
    Session session(paths);
    if (!KillModel::startSession(session, {state.password})) {
        std::fprintf(stderr, "the session did not start\n");
        return 1;
    }

    // The count is one eight-byte write at a fixed place: a kill lands before
    // or after it, never inside.
    QFile progress(QString::fromLocal8Bit(argv[5]));
    if (!progress.open(QIODevice::ReadWrite))
        return 1;
    const int fd = progress.handle();
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    for (qint64 done = 0;; ++done) {
        if (!KillModel::apply(session, state, kind, int(done))) {
            std::fprintf(stderr, "operation %lld failed\n", static_cast<long long>(done));
            return 1;
        }
        state = KillModel::next(state, kind, int(done));
        const qint64 count = done + 1;
        if (::pwrite(fd, &count, sizeof count, 0) != sizeof count)
            return 1;
    }
}
