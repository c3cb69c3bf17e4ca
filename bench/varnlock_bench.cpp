// Times the record store and the start-up on a large store, each next to a
// baseline measured in the same run on the same bytes.

#include "chestwrd.h"
#include "database.h"
#include "fieldcipher.h"
#include "recordfind.h"
#include "recordlist.h"
#include "session.h"
#include "settings.h"
#include "storepaths.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kRecords = 100000;
constexpr int kRuns = 5;

// The median of several runs, in milliseconds.
double medianMs(const std::function<void()> &work, int runs = kRuns) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

QList<QByteArray> makeRecords(int count) {
    QRandomGenerator random(20261206);
    QList<QByteArray> lines;
    lines.reserve(count);
    auto word = [&random](int length) {
        static const char letters[] =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        QByteArray out(length, ' ');
        for (char &c : out)
            c = letters[random.bounded(62)];
        return out;
    };
    for (int i = 0; i < count; ++i) {
        const QByteArray service = word(6 + random.bounded(8));
        lines.append(service + ":!" + word(8) + "@example.org:!" + word(12) + ":!" + word(8) +
                     ":!https://" + service + ".example.org");
    }
    return lines;
}

// The baselines: the same bytes read and written line by line, nothing else.
QList<QByteArray> plainRead(const QString &path) {
    QList<QByteArray> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    while (!file.atEnd())
        lines.append(file.readLine());
    return lines;
}

void plainWrite(const QString &path, const QList<QByteArray> &lines) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    for (const QByteArray &line : lines) {
        file.write(line);
        file.write("\r\n");
    }
}

// The baseline plus what every safe replace costs: a new file synced to disk
// and renamed over the old one.
void plainSafeWrite(const QString &path, const QByteArray &content) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(content);
        file.commit();
    }
}

QByteArray fileBytesOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Row {
    const char *what;
    double ms;
    double baselineMs; // 0 when the row has no baseline
    const char *target;
    bool met;
};

void printRows(const std::vector<Row> &rows) {
    std::printf("%-44s %12s %12s %7s  %s\n", "operation (100,000 records)", "time ms",
                "baseline ms", "ratio", "target");
    for (const Row &r : rows) {
        if (r.baselineMs > 0)
            std::printf("%-44s %12.3f %12.3f %6.2fx  %s %s\n", r.what, r.ms, r.baselineMs,
                        r.ms / r.baselineMs, r.target, r.met ? "met" : "MISSED");
        else
            std::printf("%-44s %12.4f %12s %7s  %s %s\n", r.what, r.ms, "", "", r.target,
                        r.met ? "met" : "MISSED");
    }
}

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir root;
    StorePaths paths;
    paths.programFolder = root.path() + "/program";
    paths.tempFolder = root.path() + "/tmp";
    QDir().mkpath(paths.dataFolder());
    QDir().mkpath(paths.tempFolder);
    const QByteArray key = "Bench2026key";

    const QList<QByteArray> records = makeRecords(kRecords);
    QList<QByteArray> sorted = RecordList(records).lines();
    QList<QByteArray> stored;
    stored.reserve(sorted.size());
    for (const QByteArray &line : sorted)
        stored.append(EncodeLine(line));
    RewriteDatabase(paths, Scope::None, sorted, key);
    RewriteDatabase(paths, Scope::ProgramAndDBase, sorted, key);
    std::printf("store file: %.1f MB, enciphered copy: %.1f MB\n\n",
                double(QFileInfo(paths.database()).size()) / 1e6,
                double(QFileInfo(paths.copy()).size()) / 1e6);

    const QString baselineFile = root.path() + "/baseline.txt";
    plainWrite(baselineFile, stored);
    std::vector<Row> rows;

    const double readBase = medianMs([&] { plainRead(baselineFile); });
    const double load0 = medianMs([&] {
        RecordList list;
        LoadDatabase(paths, Scope::None, key, list);
    });
    rows.push_back({"LoadDatabase, scope 0", load0, readBase, "within 2x", load0 <= 2 * readBase});
    const double load1 = medianMs([&] {
        RecordList list;
        LoadDatabase(paths, Scope::ProgramAndDBase, key, list);
    });
    rows.push_back(
        {"LoadDatabase, scope 1 (deciphered in memory)", load1, readBase, "(for reference)", true});

    const double writeBase = medianMs([&] { plainWrite(baselineFile, stored); });
    const double rewrite0 = medianMs([&] { RewriteDatabase(paths, Scope::None, sorted, key); });
    rows.push_back(
        {"RewriteDatabase, scope 0", rewrite0, writeBase, "within 2x", rewrite0 <= 2 * writeBase});
    const QByteArray storedBytes = fileBytesOf(paths.database());
    const double syncBase = medianMs([&] { plainSafeWrite(baselineFile, storedBytes); });
    rows.push_back(
        {"  plain write, synced and renamed", syncBase, writeBase, "(for reference)", true});
    const double rewrite1 =
        medianMs([&] { RewriteDatabase(paths, Scope::ProgramAndDBase, sorted, key); });
    rows.push_back(
        {"RewriteDatabase, scope 1", rewrite1, writeBase, "within 2x", rewrite1 <= 2 * writeBase});

    // One append on the large store and on a small one: it must not grow with
    // the store.
    StorePaths small = paths;
    small.programFolder = root.path() + "/small";
    QDir().mkpath(small.dataFolder());
    RewriteDatabase(small, Scope::None, sorted.mid(0, 10), key);
    int n = 0;
    const double appendBig = medianMs(
        [&] {
            AppendRecord(paths, Scope::None, "new" + QByteArray::number(++n) + ":!u:!p:!:!", key);
        },
        21);
    const double appendSmall = medianMs(
        [&] {
            AppendRecord(small, Scope::None, "new" + QByteArray::number(++n) + ":!u:!p:!:!", key);
        },
        21);
    rows.push_back({"AddRecord append, 100,000 vs 10 records", appendBig, appendSmall,
                    "does not grow", appendBig <= 3 * appendSmall + 0.05});

    RecordList list(sorted);
    const double addMs =
        medianMs([&] { list.add("mmmm" + QByteArray::number(++n) + ":!u:!p:!:!"); }, 101);
    const double replaceMs = medianMs(
        [&] { list.replace(kRecords / 2, "kkkk" + QByteArray::number(++n) + ":!u:!p:!:!"); }, 101);
    const double removeMs = medianMs([&] { list.remove(kRecords / 3); }, 101);
    rows.push_back({"list add", addMs, 0, "under 1 ms", addMs < 1});
    rows.push_back({"list replace", replaceMs, 0, "under 1 ms", replaceMs < 1});
    rows.push_back({"list remove", removeMs, 0, "under 1 ms", removeMs < 1});
    // The find line filters the whole list at every key.
    const RecordList found(sorted);
    const double findMs = medianMs([&] { FindRecords(found, "ExAm"); }, 11);
    const double findRareMs = medianMs([&] { FindRecords(found, "qz9X"); }, 11);
    rows.push_back(
        {"find line, one key (text in every record)", findMs, 0, "under 50 ms", findMs < 50});
    rows.push_back({"find line, one key (text in few records)", findRareMs, 0, "under 50 ms",
                    findRareMs < 50});

    // Start-up: from a new main window to the first idle event loop, next to
    // the session's own start-up load of the same store in the same run.
    RewriteDatabase(paths, Scope::None, sorted, key);
    QFile::remove(paths.copy());
    const double libraryLoad = medianMs([&] {
        Session session(paths);
        session.readSettings();
        session.loadRecords();
    });
    const double startUp = medianMs([&] {
        Chestwrd window(paths, UiHooks::desktop());
        window.showLoaded();
        QEventLoop idle;
        QTimer::singleShot(0, &idle, &QEventLoop::quit); // runs once the posted work is done
        idle.exec();
    });
    rows.push_back({"start-up to first idle", startUp, libraryLoad, "under 1 s, within 3x",
                    startUp < 1000 && startUp <= 3 * libraryLoad});

    printRows(rows);
    const bool allMet = std::all_of(rows.begin(), rows.end(), [](const Row &r) { return r.met; });
    std::printf("\n%s\n", allMet ? "all targets met" : "some targets missed");
    return 0;
}
