// Times the record store and the real program's start-up on stores of several
// sizes, each next to what the machine itself needs for the same bytes,
// measured in the same run: one read() of the whole file, or one write() of it
// made durable. Line-by-line reads and writes are shown beside, for reference.
//
//   varnlock_bench [--records 1000,10000,...]   the table (default: up to 1,000,000)
//   varnlock_bench --write-store DIR N           a program folder DIR with N records

#include "breachlist.h"
#include "csv.h"
#include "database.h"
#include "fieldcipher.h"
#include "mainwindow.h"
#include "merge.h"
#include "passwordhealth.h"
#include "platform.h"
#include "recordfind.h"
#include "recordline.h"
#include "recordlist.h"
#include "reencipher.h"
#include "servicelist.h"
#include "session.h"
#include "settings.h"
#include "storecopies.h"
#include "storepaths.h"
#include "strongstore.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sodium.h>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Enough turns that the verdicts hold from run to run on an idle machine.
constexpr int kRuns = 11;
// A window command's turns each wait for a sync to the disk, whose time
// varies most from turn to turn.
constexpr int kCommandRuns = 21;
const QByteArray kKey = "Bench2026key";

// The median of several runs, in milliseconds.
double medianMs(const std::function<void()> &work, int runs = kRuns) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        // Every run starts as a program's first would: the memory it asks
        // for comes fresh from the system, for the baselines as for the store.
        malloc_trim(0);
        QElapsedTimer clock;
        clock.start();
        work();
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double median(std::vector<double> values);

// A baseline and an operation timed in turns, so that what the machine is
// doing meanwhile weighs on both alike: medians of at least fifteen turns,
// more (up to a second's worth) while the turns are quick. Fewer let a ratio
// near its bound fall either side of it from run to run.
std::pair<double, double> pairedMs(const std::function<void()> &baseline,
                                   const std::function<void()> &work) {
    std::vector<double> base, times;
    QElapsedTimer total;
    total.start();
    while (base.size() < 15 || (total.elapsed() < 1000 && base.size() < 101)) {
        base.push_back(medianMs(baseline, 1));
        times.push_back(medianMs(work, 1));
    }
    return {median(base), median(times)};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Records shaped like real ones: a service, a mail address, a password, a note
// and an address, about 89 bytes each.
QList<QByteArray> makeRecords(qsizetype count) {
    QRandomGenerator random(20261206);
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    auto word = [&random](int length) {
        QByteArray out(length, Qt::Uninitialized);
        for (char &c : out)
            c = letters[random.bounded(62)];
        return out;
    };
    QList<QByteArray> lines;
    lines.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        const QByteArray service = word(6 + int(random.bounded(8)));
        lines.append(service + ":!" + word(8) + "@example.org:!" + word(12) + ":!" + word(8) +
                     ":!https://" + service + ".example.org");
    }
    return lines;
}

StorePaths programFolder(const QString &folder) {
    StorePaths paths;
    paths.programFolder = folder;
    paths.tempFolder = QDir::tempPath();
    QDir().mkpath(paths.dataFolder());
    return paths;
}

// ---- what the machine itself needs ----------------------------------------

// One read() of the whole file into a fresh block: no reader of this store
// can do less.
void rawRead(const QString &path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    QByteArray block(QFileInfo(path).size(), Qt::Uninitialized);
    Platform::adviseLargeBlock(block.data(), block.size()); // the memory the store gets too
    qsizetype done = 0;
    while (done < block.size()) {
        const ssize_t n = ::read(fd, block.data() + done, size_t(block.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
    ::close(fd);
}

// The field decode as the plainest loop does it: one table look-up a byte.
void tableDecode(QByteArray &bytes) {
    static const auto table = [] {
        std::array<char, 256> out{};
        for (int b = 0; b < 256; ++b) {
            QByteArray one(1, char(b));
            DecodeInPlace(one);
            out[size_t(b)] = one[0];
        }
        return out;
    }();
    for (char &c : bytes)
        c = table[static_cast<unsigned char>(c)];
}

// One write() of the bytes to a new file, fsync, rename over the old file and
// fsync of the folder: the least a replace that survives a power cut costs.
void rawDurableWrite(const QString &path, const QByteArray &bytes) {
    const QByteArray part = QFile::encodeName(path + ".raw");
    const int fd = ::open(part.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
    ::fsync(fd);
    ::close(fd);
    ::rename(part.constData(), QFile::encodeName(path).constData());
    const int dir = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

// The line-by-line forms: what a plain program written without care does.
void lineRead(const QString &path) {
    QList<QByteArray> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    while (!file.atEnd())
        lines.append(file.readLine());
}

void lineWrite(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    qsizetype from = 0;
    while (from < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', from);
        end = end < 0 ? bytes.size() : end + 1;
        file.write(bytes.constData() + from, end - from);
        from = end;
    }
}

QByteArray fileBytes(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// ---- the real program ------------------------------------------------------

struct StartUp {
    double readyMs = 0;
    double peakMiB = 0;
    bool ok = false;
};

// Runs the program from a folder holding the store, as a user would, with
// --time-startup; it reports its own figures and ends.
StartUp timeRealProgram(const QString &program, const QString &folder) {
    const QString copy = folder + "/varnlock";
    if (!QFileInfo::exists(copy))
        QFile::copy(program, copy);
    std::vector<double> ready, peak;
    static const QRegularExpression report(
        QStringLiteral("window ready ([0-9.]+) ms .* peak memory ([0-9]+) KiB"));
    for (int run = 0; run < kRuns; ++run) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.start(copy, {"--time-startup"});
        if (!process.waitForFinished(120000))
            return {};
        const auto match = report.match(QString::fromLocal8Bit(process.readAllStandardError()));
        if (!match.hasMatch())
            return {};
        ready.push_back(match.captured(1).toDouble());
        peak.push_back(match.captured(2).toDouble() / 1024);
    }
    return {median(ready), median(peak), true};
}

// The command line from the program's folder, ls and show, timed in turns
// with a process that only reads the store file, and the program's own
// start alone (--version) for reference.
struct CommandTimes {
    double bare = 0, ls = 0, show = 0, version = 0;
    bool ok = false;
};

CommandTimes timeCommandLine(const QString &folder, const QString &store, const QString &name) {
    const QString program = folder + "/varnlock";
    const auto run = [](const QString &file, const QStringList &args, std::vector<double> &into) {
        QProcess process;
        process.setStandardInputFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        process.start(file, args);
        const bool ended = process.waitForFinished(60000) && process.exitCode() == 0;
        into.push_back(ended ? double(clock.nsecsElapsed()) / 1e6 : 1e9);
        process.readAllStandardOutput();
        return ended;
    };
    std::vector<double> bare, ls, show, version;
    bool ok = true;
    for (int i = 0; i < kRuns; ++i) {
        ok &= run(VARNLOCK_BARE_READ, {store}, bare);
        ok &= run(program, {"ls"}, ls);
        ok &= run(program, {"show", name, "--field", "password"}, show);
        ok &= run(program, {"--version"}, version);
    }
    return {median(bare), median(ls), median(show), median(version), ok};
}

// ---- the table ---------------------------------------------------------------

struct Row {
    QString what;
    double value;
    double limit;    // the physical baseline, or the bound; 0: none
    double lineBase; // the line-by-line baseline; 0: none
    QString target;  // empty: for reference
    bool met;
    const char *unit = "ms";
};

void printRows(qsizetype records, double fileMB, const std::vector<Row> &rows,
               const char *file = "store file") {
    std::printf("\n%lld record%s, %s %.1f MB\n", static_cast<long long>(records),
                records == 1 ? "" : "s", file, fileMB);
    std::printf("  %-42s %11s %11s %7s %11s  %s\n", "operation", "value", "against", "ratio",
                "line base", "target");
    for (const Row &r : rows) {
        const bool ratio = r.target.contains("x ") || r.target.endsWith('x');
        std::printf("  %-42s %8.3f %-2s", qPrintable(r.what), r.value, r.unit);
        if (r.limit > 0)
            std::printf(" %8.3f %-2s", r.limit, r.unit);
        else
            std::printf(" %11s", "");
        if (ratio && r.limit > 0)
            std::printf(" %6.2fx", r.value / r.limit);
        else
            std::printf(" %7s", "");
        if (r.lineBase > 0)
            std::printf(" %8.3f ms", r.lineBase);
        else
            std::printf(" %11s", "");
        if (r.target.isEmpty())
            std::printf("  (for reference)\n");
        else
            std::printf("  %s: %s\n", qPrintable(r.target), r.met ? "met" : "MISSED");
    }
}

// What a user waits for in the window itself (drawn offscreen): Replace and
// Remove until the window answers, against the store's own rewrite; one key
// typed into the find line until the list shows its matches.
void windowRows(const StorePaths &paths, qsizetype count, std::vector<Row> &rows) {
    UiHooks hooks;
    hooks.message = [](QMessageBox::Icon, const QString &, const QString &text) {
        std::fprintf(stderr, "window: %s\n", qPrintable(text));
    };
    hooks.confirm = [](const QString &, const QString &) { return true; };
    hooks.open = [](const QString &) {};
    hooks.chooseFile = [](const QString &, bool) { return QString(); };
    hooks.endProgram = [] {};
    MainWindow window(paths, hooks);
    window.load();
    window.show();
    QCoreApplication::processEvents();
    auto *view = window.findChild<ServiceList *>("recordView");
    auto *password = window.findChild<QLineEdit *>("passwordEdit");
    auto *find = window.findChild<QLineEdit *>("findLine");
    const auto click = [&](int row) {
        view->selectRow(row);
        emit view->clickedRow();
        emit view->mouseUp(Qt::LeftButton);
    };
    int turn = 0;
    // The store's own rewrite, into a folder of its own so the window's stamp
    // stays its own, taken turn about with each command so that the disk's
    // moods weigh on both alike. The command is timed to the window's
    // answer; the click that chose the record and the typing come before it,
    // untimed.
    QTemporaryDir scratchRoot;
    const StorePaths scratch = programFolder(scratchRoot.path());
    const auto commandMs = [&](const std::function<void()> &before,
                               const std::function<void()> &command) {
        std::vector<double> base, times;
        for (int run = 0; run < kCommandRuns; ++run) {
            before();
            QCoreApplication::processEvents();
            malloc_trim(0);
            base.push_back(medianMs(
                [&] { RewriteDatabase(scratch, Scope::None, window.records().lines(), kKey); }, 1));
            QElapsedTimer clock;
            clock.start();
            command();
            QCoreApplication::processEvents();
            times.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        return std::pair{median(base), median(times)};
    };
    const auto [replaceRename, replace] = commandMs(
        [&] {
            click(int(count / 2));
            password->setText("changed" + QString::number(++turn));
        },
        [&] { window.replaceSelected(); });
    const auto [removeRename, remove] =
        commandMs([&] { click(int(count / 3)); }, [&] { window.removeSelected(); });
    // The aim is for large stores, where the list's own work could outgrow
    // the disk's; below 100,000 records the window's fixed millisecond (the
    // repaint) is shown for reference.
    const bool large = count >= 100000;
    rows.push_back({"window: Replace answered", replace, replaceRename, 0,
                    large ? "within 1.2x" : "", !large || replace <= 1.2 * replaceRename});
    rows.push_back({"window: Remove answered", remove, removeRename, 0, large ? "within 1.2x" : "",
                    !large || remove <= 1.2 * removeRename});
    // The aim for one key: 50 ms at a million records, 10 ms up to 100,000.
    const double keyLimit = count > 100000 ? 50 : 10;
    window.openFind();
    const auto type = [&](const QString &text) {
        find->setText(text);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    };
    // Timed from the key to the list showing its matches; the text before it
    // is typed untimed.
    const auto keyMs = [&](const QString &before, const QString &after) {
        std::vector<double> times;
        for (int run = 0; run < kRuns; ++run) {
            type(before);
            QElapsedTimer clock;
            clock.start();
            type(after);
            times.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        return median(times);
    };
    const double firstKey = keyMs(QString(), QStringLiteral("q"));
    const double nextKey = keyMs(QStringLiteral("q"), QStringLiteral("qz"));
    rows.push_back({"window: find, first key (\"q\")", firstKey, keyLimit, 0,
                    QStringLiteral("under %1 ms").arg(keyLimit), firstKey < keyLimit});
    rows.push_back({"window: find, next key (\"qz\")", nextKey, keyLimit, 0,
                    QStringLiteral("under %1 ms").arg(keyLimit), nextKey < keyLimit});
}

bool benchSize(qsizetype count, const QString &program) {
    QTemporaryDir root;
    const StorePaths paths = programFolder(root.path() + "/program");
    const QString scratch = root.path() + "/scratch.txt";

    {
        const RecordList sorted(makeRecords(count));
        RewriteDatabase(paths, Scope::None, sorted.lines(), kKey);
        RewriteDatabase(paths, Scope::ProgramAndDBase, sorted.lines(), kKey);
    }
    const QByteArray stored = fileBytes(paths.database());
    const QByteArray enciphered = fileBytes(paths.copy());
    const double fileMB = double(stored.size()) / 1e6;
    std::vector<Row> rows;

    // Loading: the store as start-up reads it, against one read of its bytes.
    const double lineLoad = medianMs([&] { lineRead(paths.database()); });
    for (const Scope scope : {Scope::None, Scope::ProgramAndDBase}) {
        const auto [raw, load] = pairedMs([&] { rawRead(StoreFile(paths, scope)); },
                                          [&] {
                                              RecordList list;
                                              LoadDatabase(paths, scope, kKey, list);
                                          });
        rows.push_back({scope == Scope::None ? "load, database file" : "load, enciphered copy",
                        load, raw, lineLoad, "within 3x", load <= 3 * raw});
    }

    // The field decode apart, against the plainest table loop over the same bytes.
    {
        QByteArray mine = stored, plain = stored;
        const auto [table, decode] =
            pairedMs([&] { tableDecode(plain); }, [&] { DecodeInPlace(mine); });
        rows.push_back(
            {"field decode of the store's bytes", decode, table, 0, "within 1x", decode <= table});
    }

    // A start after one Add: the store's reader on the file with one record
    // appended (out of order), against the same store sorted.
    {
        const StorePaths added = programFolder(root.path() + "/added");
        QFile::copy(paths.database(), added.database());
        AppendRecord(added, Scope::None, "0000 first:!u:!p:!:!", kKey);
        const auto [sorted, afterAdd] = pairedMs(
            [&] {
                RecordList list;
                LoadDatabase(paths, Scope::None, kKey, list);
            },
            [&] {
                RecordList list;
                LoadDatabase(added, Scope::None, kKey, list);
            });
        rows.push_back(
            {"load after one Add", afterAdd, sorted, 0, "within 1.1x", afterAdd <= 1.1 * sorted});
    }

    // Rewriting: the whole store replaced from the list as loaded, against one
    // durable write of it.
    RecordList loaded;
    LoadDatabase(paths, Scope::None, kKey, loaded);
    for (const Scope scope : {Scope::None, Scope::ProgramAndDBase}) {
        const QByteArray &bytes = scope == Scope::None ? stored : enciphered;
        const double line = medianMs([&] { lineWrite(scratch, bytes); });
        const auto [raw, rewrite] =
            pairedMs([&] { rawDurableWrite(scratch, bytes); },
                     [&] { RewriteDatabase(paths, scope, loaded.lines(), kKey); });
        rows.push_back(
            {scope == Scope::None ? "rewrite, database file" : "rewrite, enciphered copy", rewrite,
             raw, line, "within 1.5x", rewrite <= 1.5 * raw});
    }

    // A new master password under Program and DBase: the copy deciphered and
    // enciphered again, staged and committed with the settings.
    const auto settingsFor = [](const QByteArray &password) {
        return BuildSettingsLine(kNeverExpires, password, "12-01-2026", Scope::ProgramAndDBase);
    };
    WriteSettingsFile(paths, settingsFor(kKey));
    int turn = 0;
    const double rekey =
        medianMs([&] { ApplySettings(paths, settingsFor(++turn % 2 ? "Other2026key" : kKey)); });
    rows.push_back({"new master password, enciphered copy", rekey, 0, 0, "", true});
    QFile::remove(paths.config()); // the program below starts without a password

    int n = 0;
    const double append = medianMs(
        [&] {
            AppendRecord(paths, Scope::None, "new" + QByteArray::number(++n) + ":!u:!p:!:!", kKey);
        },
        11);
    rows.push_back({"append one record", append, 0, 0, "", true});

    windowRows(paths, count, rows);

    // The strong store, its key already derived (the derivation is timed
    // apart): load against one read() and one decryption of as many bytes;
    // rewrite against one durable write; an append.
    {
        const QString strongPath = paths.strongStore();
        Strong::Keys keys;
        const Strong::KdfParams quick{Strong::kMinPasses, Strong::kMinMemory};
        Strong::Create(strongPath, "bench pass", quick, loaded.lines(), keys);
        const QByteArray strongBytes = fileBytes(strongPath);
        QByteArray key(crypto_aead_xchacha20poly1305_ietf_KEYBYTES, '\7');
        QByteArray nonce(crypto_aead_xchacha20poly1305_ietf_NPUBBYTES, '\1');
        QByteArray sealed(strongBytes.size() + crypto_aead_xchacha20poly1305_ietf_ABYTES,
                          Qt::Uninitialized);
        unsigned long long sealedSize = 0;
        crypto_aead_xchacha20poly1305_ietf_encrypt(
            reinterpret_cast<unsigned char *>(sealed.data()), &sealedSize,
            reinterpret_cast<const unsigned char *>(strongBytes.constData()), strongBytes.size(),
            nullptr, 0, nullptr, reinterpret_cast<const unsigned char *>(nonce.constData()),
            reinterpret_cast<const unsigned char *>(key.constData()));
        const auto [rawStrong, strongLoad] = pairedMs(
            [&] {
                rawRead(strongPath);
                QByteArray plain(strongBytes.size(), Qt::Uninitialized);
                unsigned long long plainSize = 0;
                const int opened = crypto_aead_xchacha20poly1305_ietf_decrypt(
                    reinterpret_cast<unsigned char *>(plain.data()), &plainSize, nullptr,
                    reinterpret_cast<const unsigned char *>(sealed.constData()), sealedSize,
                    nullptr, 0, reinterpret_cast<const unsigned char *>(nonce.constData()),
                    reinterpret_cast<const unsigned char *>(key.constData()));
                if (opened != 0)
                    std::fprintf(stderr, "the baseline did not decipher\n");
            },
            [&] {
                Strong::Opened opened;
                Strong::Reopen(strongPath, keys, opened);
                RecordList list;
                list.adopt(std::move(opened.block), std::move(opened.views));
            });
        rows.push_back({"load, strong store", strongLoad, rawStrong, 0, "within 3x",
                        strongLoad <= 3 * rawStrong});
        // Written as the session writes it: every record with its identity.
        std::vector<RecordMeta> identities;
        identities.reserve(loaded.lines().size());
        for (size_t i = 0; i < loaded.lines().size(); ++i)
            identities.push_back(NewRecordMeta(1000));
        const auto [rawWrite, strongRewrite] = pairedMs(
            [&] { rawDurableWrite(scratch, strongBytes); },
            [&] {
                Strong::Rewrite(strongPath, keys, StoreContents(loaded.lines(), identities, {}));
            });
        // Under a few megabytes the cipher alone (about 0.9 GB/s a core here)
        // costs about what the durable write does, with too little to overlap
        // the two: the aim is for large stores, smaller ones are shown for
        // reference.
        const bool large = count >= 100000;
        rows.push_back({"rewrite, strong store", strongRewrite, rawWrite, 0,
                        large ? "within 1.5x" : "", !large || strongRewrite <= 1.5 * rawWrite});
        const double strongAppend = medianMs(
            [&] {
                Strong::Append(strongPath, keys, "new" + QByteArray::number(++n) + ":!u:!p:!:!");
            },
            11);
        rows.push_back({"append one record, strong store", strongAppend, 1, 0, "under 1 ms",
                        strongAppend < 1});
        // Two copies of the store changed apart, 1,000 records on each side
        // (a change, or a new record), merged: against loading both.
        {
            const std::span<const QByteArrayView> lines = loaded.lines();
            std::vector<RecordMeta> meta;
            meta.reserve(lines.size());
            for (size_t i = 0; i < lines.size(); ++i)
                meta.push_back(NewRecordMeta(1000));
            const size_t changes = std::min<size_t>(1000, lines.size() / 4);
            QList<QByteArray> changedLines[2];
            std::vector<QByteArrayView> sideLines[2];
            std::vector<RecordMeta> sideMeta[2];
            const QString sidePath[2] = {strongPath + ".a", strongPath + ".b"};
            for (int side = 0; side < 2; ++side) {
                sideLines[side].assign(lines.begin(), lines.end());
                sideMeta[side] = meta;
                for (size_t c = 0; c < changes; ++c) {
                    const size_t at = size_t(side) + c * 2;
                    changedLines[side] << sideLines[side][at].toByteArray() + (side ? "b" : "a");
                    sideMeta[side][at] = ChangedMeta(meta[at], sideLines[side][at], 2000 + side);
                    sideLines[side][at] = changedLines[side].back();
                }
                Strong::Rewrite(sidePath[side], keys,
                                StoreContents(sideLines[side], sideMeta[side], {}));
            }
            Strong::Opened opened[2];
            const auto loadBoth = [&] {
                for (int side = 0; side < 2; ++side)
                    Strong::OpenCopy(sidePath[side], keys, opened[side]);
            };
            const auto [both, merged] = pairedMs(loadBoth, [&] {
                loadBoth();
                const MergeResult result =
                    MergeStores({opened[0].views, opened[0].meta, opened[0].tombstones},
                                {opened[1].views, opened[1].meta, opened[1].tombstones});
                if (result.changes.size() != changes)
                    std::fprintf(stderr, "the merge found %zu changes\n", result.changes.size());
            });
            rows.push_back({"merge two strong copies, 1,000 changes each", merged, both, 0,
                            large ? "within 3x" : "", !large || merged <= 3 * both});
            for (const QString &path : sidePath)
                QFile::remove(path);
        }
        // A start looks for copies a sync tool left; with none it costs one listing.
        const double findCopies =
            medianMs([&] { (void)FindStoreCopies(paths, Scope::Strong); }, 11);
        rows.push_back({"look for copies a sync tool left (none)", findCopies, 1, 0, "under 1 ms",
                        findCopies < 1});
        // At a million records, the most memory an unlock takes, in a process
        // of its own: the default derivation, then the records listed.
        if (count >= 1000000) {
            Strong::Keys full;
            Strong::Create(strongPath, "bench pass", Strong::KdfParams{}, loaded.lines(), full);
            QProcess peak;
            peak.start(QCoreApplication::applicationFilePath(), {"--strong-peak", strongPath});
            peak.waitForFinished(120000);
            const double peakMiB = peak.readAllStandardOutput().trimmed().toDouble();
            const double fileMiB = double(QFileInfo(strongPath).size()) / (1 << 20);
            const double limit = 2 * fileMiB + 40 + double(Strong::KdfParams{}.memoryBytes >> 20);
            rows.push_back({"unlock, strong store: peak memory", peakMiB, limit, 0,
                            "under 2x file + 40 MiB + derivation", peakMiB > 0 && peakMiB < limit,
                            "Mi"});
        }
        QFile::remove(strongPath);
    }

    // The password health report of 100,000 records, the strength estimate
    // of every password included (what the window and health command wait for).
    if (count == 100000) {
        const RecordList list(makeRecords(count));
        std::vector<HealthRecord> given(static_cast<size_t>(count));
        for (qsizetype i = 0; i < count; ++i)
            given[size_t(i)].line = list.line(i);
        qsizetype listed = 0;
        const double reportMs = medianMs(
            [&] { listed = qsizetype(BuildHealthReport(given, QDate(2026, 1, 1)).rows.size()); },
            3);
        rows.push_back({"password health report", reportMs, 2000, 0, "under 2 s",
                        reportMs < 2000 && listed > 0});
    }

    // A CSV export of 100,000 other records brought in as the window does it:
    // read, checked against the store, and added in one durable rewrite.
    if (count == 100000) {
        const QString csv = root.path() + "/import.csv";
        {
            QFile out(csv);
            out.open(QIODevice::WriteOnly);
            out.write(CsvExportHeader());
            for (const QByteArray &record : makeRecords(count))
                out.write(CsvExportRow("csv" + record));
        }
        std::vector<double> runs;
        for (int run = 0; run < 3; ++run) {
            Platform::writeFileAtomically(paths.database(), stored);
            Session session(paths);
            session.open({});
            QElapsedTimer clock;
            clock.start();
            QFile in(csv);
            in.open(QIODevice::ReadOnly);
            const CsvImportPlan plan =
                PlanCsvImport(in, session.records(), session.scope(),
                              [&session](QByteArrayView l) { return session.storable(l); });
            const bool added = session.importRecords(plan.newRecords()) == SessionStatus::Ok &&
                               plan.count(CsvImportRow::Outcome::New) == count;
            runs.push_back(added ? double(clock.nsecsElapsed()) / 1e6 : 1e9);
        }
        Platform::writeFileAtomically(paths.database(), stored);
        const double importMs = median(runs);
        rows.push_back({"import 100,000 CSV rows with the rewrite", importMs, 2000, 0, "under 2 s",
                        importMs < 2000});
    }

    // The real program from its own folder: the window usable after the
    // splash, and the most memory it held.
    QFile::remove(paths.copy());
    const StartUp startUp = timeRealProgram(program, paths.programFolder);
    if (!startUp.ok) {
        std::printf("\n%lld records: the program at %s did not report its start-up\n",
                    static_cast<long long>(count), qPrintable(program));
        return false;
    }
    rows.push_back({"program: window ready after the splash", startUp.readyMs, 1000, 0, "under 1 s",
                    startUp.readyMs < 1000});
    if (count <= 100000) {
        const QList<QByteArray> records = makeRecords(count);
        const CommandTimes cli =
            timeCommandLine(paths.programFolder, paths.database(),
                            QString::fromLatin1(ServiceName(records[count / 2])));
        if (!cli.ok) {
            std::printf("\n%lld records: the command line did not answer\n",
                        static_cast<long long>(count));
            return false;
        }
        const bool aimed = count == 1000;
        rows.push_back({"command line: ls (against a bare read)", cli.ls, cli.bare, 0,
                        aimed ? "within 1.5x" : "", cli.ls < 1.5 * cli.bare});
        rows.push_back({"command line: show NAME --field password", cli.show, cli.bare, 0,
                        aimed ? "within 1.5x" : "", cli.show < 1.5 * cli.bare});
        rows.push_back(
            {"command line: --version (start alone)", cli.version, cli.bare, 0, "", true});
    }
    const double memoryLimit = 2 * double(stored.size()) / (1 << 20) + 40;
    const bool memoryTarget = count >= 1000000;
    rows.push_back({"program: peak memory", startUp.peakMiB, memoryLimit, 0,
                    memoryTarget ? "under 2x file + 40 MiB" : "", startUp.peakMiB < memoryLimit,
                    "Mi"});

    printRows(count, fileMB, rows);
    return std::all_of(rows.begin(), rows.end(), [](const Row &r) { return r.met; });
}

// A damaged or hostile store may hold one enormous line: the program lists a
// record of 10 MiB for less than three times its size over an empty store.
bool benchHugeRecord(const QString &program) {
    QTemporaryDir empty, huge;
    programFolder(empty.path());
    const StorePaths paths = programFolder(huge.path());
    QFile store(paths.database());
    if (!store.open(QIODevice::WriteOnly) ||
        store.write(EncodeLine("huge:!u:!p:!" + QByteArray(10 << 20, 'o') + ":!") + "\r\n") < 0)
        return false;
    store.close();
    const StartUp base = timeRealProgram(program, empty.path());
    const StartUp listed = timeRealProgram(program, huge.path());
    if (!base.ok || !listed.ok) {
        std::printf("\na 10 MiB record: the program did not report its start-up\n");
        return false;
    }
    const double grewMiB = listed.peakMiB - base.peakMiB;
    printRows(1, double(store.size()) / 1e6,
              {{"program: peak memory over an empty store", grewMiB, 30, 0, "under 30 MiB",
                grewMiB < 30, "Mi"}});
    return grewMiB < 30;
}

// Reads a file past the system's cache, as from a cold disk: the disk's own
// speed. False where the file system can not (then it is read as usual).
bool diskRead(const QString &path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_DIRECT);
    if (fd < 0)
        return false;
    void *block = nullptr;
    constexpr size_t kPiece = 1 << 20;
    if (posix_memalign(&block, 4096, kPiece) != 0) {
        ::close(fd);
        return false;
    }
    ssize_t n = 0;
    while ((n = ::read(fd, block, kPiece)) > 0) {
    }
    std::free(block);
    ::close(fd);
    return n == 0;
}

// A breach list of 1 GB (about 22 million hashes, as the public lists write
// them) checked for 1,000 passwords in one streaming pass, against the
// disk's read of the same file; and, for reference, against a read of it
// from the system's cache, where the check itself then sets the pace.
bool benchBreachList() {
    QTemporaryDir root;
    const QString path = root.path() + "/breached.txt";
    constexpr qint64 kSize = 1000LL * 1000 * 1000;
    std::vector<QByteArray> passwords;
    for (int i = 0; i < 1000; ++i)
        passwords.push_back("bench password " + QByteArray::number(i));
    std::vector<QByteArrayView> views(passwords.begin(), passwords.end());
    {
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly))
            return false;
        QRandomGenerator random(20261209);
        static const char hex[] = "0123456789ABCDEF";
        QByteArray piece;
        qint64 written = 0, line = 0;
        while (written < kSize) {
            piece.clear();
            for (int n = 0; n < 20000; ++n, ++line) {
                // One password of ten is in the list, spread through it.
                if (line % 200000 == 100000 && line / 200000 < 100)
                    piece += BreachHashHex(views[size_t(line / 200000) * 10]);
                else
                    for (int k = 0; k < 40; ++k)
                        piece += hex[random.bounded(16)];
                piece += ':' + QByteArray::number(random.bounded(1, 1000)) + "\r\n";
            }
            out.write(piece);
            written += piece.size();
        }
    }
    const BreachCheck check(views);
    qint64 found = 0;
    const auto checkList = [&] {
        const BreachCheck::Result result = check.checkFile(path);
        found = std::count(result.found.begin(), result.found.end(), true);
    };
    const auto cachedRead = [&] {
        QFile in(path);
        in.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        QByteArray buffer(1 << 20, Qt::Uninitialized);
        while (in.read(buffer.data(), buffer.size()) > 0) {
        }
    };
    std::vector<Row> rows;
    if (diskRead(path)) {
        std::vector<double> disk, checks;
        for (int turn = 0; turn < 5; ++turn) {
            disk.push_back(medianMs([&] { diskRead(path); }, 1));
            checks.push_back(medianMs(checkList, 1));
        }
        rows.push_back({"breach list check (against the disk)", median(checks), median(disk), 0,
                        "within 1.5x", median(checks) < 1.5 * median(disk) && found == 100});
    } else {
        std::printf("\n(the file system can not read past its cache: the disk is not timed)\n");
    }
    const auto [cached, checked] = pairedMs(cachedRead, checkList);
    rows.push_back(
        {"breach list check (against a cached read)", checked, cached, 0, "", found == 100});
    const bool met = std::all_of(rows.begin(), rows.end(), [](const Row &r) { return r.met; });
    printRows(1000, double(QFileInfo(path).size()) / 1e6, rows, "breach list");
    if (found != 100)
        std::printf("  the check found %lld of the 100 passwords planted\n",
                    static_cast<long long>(found));
    return met;
}

QList<qsizetype> sizesFrom(const QString &text) {
    QList<qsizetype> sizes;
    for (const QString &part : text.split(',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const qsizetype n = part.trimmed().toLongLong(&ok);
        if (!ok || n <= 0)
            return {};
        sizes.append(n);
    }
    return sizes;
}

int usage() {
    std::fprintf(stderr, "usage: varnlock_bench [--records N,N,...]\n"
                         "       varnlock_bench --write-store DIR N\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[]) {
    // The window rows draw offscreen: no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);

    // The child of the strong store's memory row: opens the store as an
    // unlock does and prints the most memory it held, in MiB.
    if (args.size() == 2 && args.first() == "--strong-peak") {
        Strong::Keys keys;
        Strong::Opened opened;
        if (Strong::Open(args.at(1), "bench pass", keys, opened) != Strong::Status::Ok)
            return 1;
        RecordList list;
        list.adopt(std::move(opened.block), std::move(opened.views));
        std::printf("%.1f\n", double(Platform::peakMemoryBytes()) / (1 << 20));
        return 0;
    }
    if (!args.isEmpty() && args.first() == "--write-store") {
        bool ok = false;
        const qsizetype count = args.size() == 3 ? args.at(2).toLongLong(&ok) : 0;
        if (!ok || count < 0)
            return usage();
        const StorePaths paths = programFolder(args.at(1));
        if (RewriteDatabase(paths, Scope::None, RecordList(makeRecords(count)).lines(), kKey) !=
            StoreStatus::Ok) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(paths.database()));
            return 1;
        }
        std::printf("%s: %lld records\n", qPrintable(paths.database()),
                    static_cast<long long>(count));
        return 0;
    }

    QString sizes = "1000,10000,100000,1000000";
    if (args.size() == 2 && args.first() == "--records")
        sizes = args.at(1);
    else if (!args.isEmpty())
        return usage();
    const QList<qsizetype> counts = sizesFrom(sizes);
    if (counts.isEmpty())
        return usage();

    std::printf("Medians of %d runs or more. Baselines, timed in turns with the operation on the "
                "same bytes:\n"
                "load: one read() of the store's file, nothing else;\n"
                "rewrite: one write() to a new file, fsync, rename, fsync of the folder.\n"
                "Line base: the same file read or written line by line, not synced.\n",
                kRuns);
    // The strong store's derivation on this machine, apart from the sizes.
    {
        QElapsedTimer clock;
        clock.start();
        const Strong::KdfParams params = Strong::CalibratedParams();
        const double calibrateMs = double(clock.nsecsElapsed()) / 1e6;
        QTemporaryDir root;
        Strong::Keys keys;
        clock.restart();
        Strong::Create(root.path() + "/derive.sdb", "bench pass", params, {}, keys);
        std::printf("\nStrong store: Argon2id, %u passes over %llu MiB (tuned to this machine in "
                    "%.0f ms); one derivation %.0f ms\n",
                    params.passes, static_cast<unsigned long long>(params.memoryBytes >> 20),
                    calibrateMs, double(clock.nsecsElapsed()) / 1e6);
    }
    bool allMet = true;
    for (const qsizetype count : counts)
        allMet &= benchSize(count, VARNLOCK_PROGRAM);
    allMet &= benchHugeRecord(VARNLOCK_PROGRAM);
    allMet &= benchBreachList();
    std::printf("\n%s\n", allMet ? "all targets met" : "some targets missed");
    return allMet ? 0 : 1;
}
