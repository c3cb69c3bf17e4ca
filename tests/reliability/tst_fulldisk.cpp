// Every write the program makes meets a full disk. Each must give its
// message, leave every file as it was, leave nothing unfinished behind, and
// work again once there is room.
#include "../common/guiharness.h"

#include "database.h"
#include "reencipher.h"
#include "strongstore.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const QString kDiskError = QStringLiteral("Disk Error - i66");

QList<QByteArray> manyRecords() {
    QList<QByteArray> out;
    for (int i = 0; i < 200; ++i)
        out << QByteArray("service%1:!user:!pw%1:!note:!/home/u/%1")
                   .replace("%1", QByteArray::number(1000 + i));
    return out;
}

// Takes every byte left on the disk that holds the throwaway folders. The
// filler sits outside the program and temporary folders.
void fillDisk(const TestFolders &f) {
    const QByteArray path = QFile::encodeName(f.root.path() + "/filler");
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    QVERIFY(fd >= 0);
    const QByteArray chunk(1 << 16, 'x');
    for (qsizetype size = chunk.size(); size >= 1; size /= 2)
        while (::write(fd, chunk.constData(), size_t(size)) > 0) {
        }
    ::close(fd);
}

void freeDisk(const TestFolders &f) {
    QVERIFY(QFile::remove(f.root.path() + "/filler"));
}

// A window on a store of many records under this scope, started as the user
// would, with the disk then filled.
struct FullDisk {
    Harness h{true};
    QList<QByteArray> records = manyRecords();
    QMap<QString, QByteArray> before;

    explicit FullDisk(int scope, bool withStore = true) {
        if (scope == int(Scope::Strong)) {
            // The strong store, its passphrase "key7".
            QCOMPARE(WriteSettingsFile(h.paths(), settingsLine(Scope::Strong, {})),
                     SettingsStatus::Ok);
            Strong::Keys keys;
            const std::vector<QByteArrayView> views(records.cbegin(), records.cend());
            QCOMPARE(Strong::Create(h.paths().strongStore(), "key7",
                                    {Strong::kMinPasses, Strong::kMinMemory}, views, keys),
                     Strong::Status::Ok);
            return;
        }
        if (scope != 0)
            writeSettings(h.paths(), kNeverExpires, "key7", scope);
        if (withStore && scope == 1)
            writeBytes(h.paths().copy(), copyBytes(records, "key7"));
        else if (withStore)
            writeBytes(h.paths().database(), storeBytes(records));
        if (!withStore)
            records.clear();
    }

    MainWindow &start() {
        MainWindow &w = h.start({"key7"});
        fillDisk(h.folders);
        before = snapshot(h.folders);
        return w;
    }

    void expectUnchanged(const QString &title) {
        QCOMPARE(h.messages.size(), 1);
        QCOMPARE(h.messages[0].title, title);
        QCOMPARE(snapshot(h.folders), before);
    }
};

} // namespace

class TestFullDisk : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void everyWrite_data();
    void everyWrite();
    void startUpUnderProgramAndDBase();
};

void TestFullDisk::initTestCase() {
    const QByteArray small = qgetenv("VARNLOCK_SMALL_DISK");
    if (small.isEmpty())
        QSKIP("run through run-on-small-disk.sh, which gives the test a small disk of its own");
    // Never fill a real disk: the temporary folder must be on the small one.
    struct statvfs fs {};
    QVERIFY(::statvfs(QDir::tempPath().toLocal8Bit().constData(), &fs) == 0);
    QVERIFY2(quint64(fs.f_blocks) * fs.f_frsize <= 64ull << 20,
             "the temporary folder is not on a small disk");
    QVERIFY(QDir::tempPath().startsWith(QString::fromLocal8Bit(small)));
}

void TestFullDisk::everyWrite_data() {
    // "accept S P": the settings window accepted with scope S and password P.
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("scope");
    QTest::addColumn<bool>("withStore");
    const std::tuple<const char *, int, bool> rows[] = {
        {"add", 0, true},
        {"add", 1, true},
        {"add", 0, false},
        {"replace", 0, true},
        {"replace", 1, true},
        {"replace", 2, true},
        {"remove", 0, true},
        {"remove", 1, true},
        {"import", 0, false},
        {"import", 1, false},
        {"accept 1 key8", 0, true},
        {"accept 0 key7", 1, true},
        {"accept 1 key8", 1, true},
        {"accept 2 key8", 0, true},
        // The strong store: its commands, and the moves into and out of it.
        {"add", 3, true},
        {"replace", 3, true},
        {"remove", 3, true},
        {"accept 3 key8", 0, true},
        {"accept 1 key8", 3, true}};
    for (const auto &[command, scope, withStore] : rows)
        QTest::addRow("%s, scope %d%s", command, scope, withStore ? "" : ", no store")
            << QString::fromLatin1(command) << scope << withStore;
}

void TestFullDisk::everyWrite() {
    QFETCH(QString, command);
    QFETCH(int, scope);
    QFETCH(bool, withStore);
    FullDisk d(scope, withStore);
    if (command == "import") {
        QList<QByteArray> old;
        for (int i = 0; i < 500; ++i)
            old << "old" + QByteArray::number(i) + ":user:pw:/path";
        writeBytes(d.h.paths().oldDatabase(), storeBytes(old));
    }
    MainWindow &w = d.start();
    d.h.messages.clear(); // under scope 1 with no copy, start-up said so
    // Longer than any slack the last block of the store could hold.
    const QString other(20000, QLatin1Char('o'));
    if (command == "add") {
        d.h.fill({"new", "bob", "pw"});
        fieldEdit(w, Field::OtherInfo)->setText(other);
        w.add();
    } else if (command == "replace" || command == "remove") {
        d.h.clickRow(5);
        fieldEdit(w, Field::UserName)->setText("changed");
        (command == "remove" ? part<QAction>(w, "removeAction") : part<QAction>(w, "replaceAction"))
            ->trigger();
    } else if (command == "import") {
        part<QAction>(w, "importAction")->trigger();
    } else {
        const QStringList parts = command.split(u' ');
        ::accept(w, parts[2], kScopeOption[parts[1].toInt()]);
    }
    d.expectUnchanged(command == "accept 2 key8" ? "Disk Error - i64" : kDiskError);
    QCOMPARE(d.h.names(), serviceNames(d.records));
    QCOMPARE(int(w.scope()), scope);
    freeDisk(d.h.folders);
    if (command == "add") {
        QCOMPARE(fieldEdit(w, Field::OtherInfo)->text(), other);
        QCOMPARE(part<QAction>(w, "importAction")->isEnabled(),
                 !withStore); // no empty store was left behind
        // With room again, the same press files what was typed.
        w.add();
        QCOMPARE(d.h.messages.size(), 1);
        d.records << "new:!bob:!pw:!" + other.toLatin1() + ":!";
    }
    d.h.start({"key7"});
    QCOMPARE(int(d.h.w().scope()), scope);
    QCOMPARE(d.h.names(), serviceNames(d.records));
}

void TestFullDisk::startUpUnderProgramAndDBase() {
    FullDisk d(1);
    fillDisk(d.h.folders);
    d.before = snapshot(d.h.folders);
    // The copy is deciphered in memory: a full disk costs a start-up nothing.
    d.h.start({"key7"});
    QVERIFY(d.h.messages.isEmpty());
    QCOMPARE(d.h.names(), serviceNames(d.records));
    QCOMPARE(snapshot(d.h.folders), d.before);
}

QTEST_MAIN(TestFullDisk)
#include "tst_fulldisk.moc"
