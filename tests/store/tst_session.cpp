#include "../common/testfolders.h"

#include "reencipher.h"
#include "session.h"

#include <QtTest>

#include <cstdio>
#include <functional>

#include <sys/stat.h>

#include <unistd.h>

// What a session writes, and in which order it reaches the disk: data synced
// before a rename publishes it, the folder synced after, an append synced
// before the record is listed; a change of protection refused or cut short
// leaves the records whole.

namespace {

struct Step {
    QString step;
    QString path;
};

const QList<QByteArray> kRecords{"alpha:!a:!1:!:!", "beta:!b:!2:!:!"};

} // namespace

class TestSession : public QObject {
    Q_OBJECT
private slots:
    void writesAreDurable_data();
    void writesAreDurable();
    void writeRightAfterOursIsNotOurs_data();
    void writeRightAfterOursIsNotOurs();
    void foldersOthersCanWriteAreRefused_data();
    void foldersOthersCanWriteAreRefused();
    void linksAndPipesAreNeverOpened();
    void holdFollowsASwappedFolder();
    void whereTheRecordsLive_data();
    void whereTheRecordsLive();
    void refusedChangesNothing();
    void interruptedChangeIsSettled_data();
    void interruptedChangeIsSettled();
    void oneWayToOpen();
    void syncToolsKeepTheirFiles();
};

void TestSession::writesAreDurable_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("scope");
    for (const char *command : {"first add", "add", "replace", "remove", "import", "accept"}) {
        for (int scope : {0, 1})
            QTest::addRow("%s, scope %d", command, scope) << QString::fromLatin1(command) << scope;
    }
}

void TestSession::writesAreDurable() {
    QFETCH(QString, command);
    QFETCH(int, scope);
    const Scope s = ScopeFromDigit(char('0' + scope));
    TestFolders f;
    QCOMPARE(WriteSettingsFile(f.paths, settingsLine(s, "key7")), SettingsStatus::Ok);
    if (command != "first add")
        QCOMPARE(RewriteDatabase(f.paths, s, kRecords, "key7"), StoreStatus::Ok);
    writeBytes(f.paths.oldDatabase(), EncodeLine("old:ann:x1:") + "\r\n");
    Session session(f.paths);
    QCOMPARE(session.lock(), Platform::FolderLock::Result::Locked);
    session.recover();
    QCOMPARE(session.readSettings(), SettingsStatus::Ok);
    session.loadRecords();

    QList<Step> steps;
    bool listedBeforeSync = false;
    Platform::setDurabilityTracer([&](const char *step, const QString &path) {
        steps.append({QString::fromLatin1(step), path});
        if (QByteArray(step) == "datasync")
            listedBeforeSync = session.records().size() != (command == "first add" ? 0 : 2);
    });
    SessionStatus status = SessionStatus::Ok;
    if (command.endsWith("add"))
        status = session.add("new:!n:!3:!:!");
    else if (command == "replace")
        status = session.replace(0, "alpha:!changed:!1:!:!");
    else if (command == "remove")
        status = session.remove(1);
    else if (command == "import")
        status = session.importOldDatabase();
    else
        status = session.applySettings(
            settingsLine(s == Scope::None ? Scope::ProgramAndDBase : Scope::None, "key8"));
    Platform::setDurabilityTracer({});
    QCOMPARE(status, SessionStatus::Ok);

    QStringList trace;
    for (const Step &st : steps)
        trace << st.step + ' ' + QFileInfo(st.path).fileName();
    const QString dataFolder = f.paths.dataFolder();
    if (command.endsWith("add")) {
        const QString store = QFileInfo(StoreFile(f.paths, s)).fileName();
        QStringList expected{"datasync " + store};
        if (command == "first add")
            expected << "syncdir Data"; // the new file's name is on the disk too
        QCOMPARE(trace, expected);
        QVERIFY(!listedBeforeSync);
        return;
    }
    // Every rename: its new file synced before, its folder synced after.
    int renames = 0;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        if (steps[i].step != "rename")
            continue;
        ++renames;
        const QString target = steps[i].path;
        bool synced = false;
        for (qsizetype j = 0; j < i; ++j)
            synced |= steps[j].step == "sync" && steps[j].path.startsWith(target);
        QVERIFY2(synced, qPrintable(trace.join(", ")));
        QVERIFY2(i + 1 < steps.size() && steps[i + 1].step == "syncdir" &&
                     steps[i + 1].path == dataFolder,
                 qPrintable(trace.join(", ")));
    }
    QVERIFY2(renames >= (command == "accept" ? 3 : 1), qPrintable(trace.join(", ")));
}

void TestSession::writeRightAfterOursIsNotOurs_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("foreign");
    for (const char *command : {"add", "replace"}) {
        for (const char *foreign : {"renamed over", "written in place"})
            QTest::addRow("%s, %s", command, foreign)
                << QString::fromLatin1(command) << QString::fromLatin1(foreign);
    }
}

void TestSession::writeRightAfterOursIsNotOurs() {
    // A sync tool that answers our write at once: it writes while ours is
    // still being synced. That write is a change on disk like any other, so
    // the next command writes nothing and the foreign record stays.
    QFETCH(QString, command);
    QFETCH(QString, foreign);
    TestFolders f;
    QCOMPARE(RewriteDatabase(f.paths, Scope::None, kRecords, ""), StoreStatus::Ok);
    Session session(f.paths);
    QCOMPARE(session.lock(), Platform::FolderLock::Result::Locked);
    session.readSettings();
    session.loadRecords();
    const QByteArray theirs = storeBytes({"alpha:!a:!1:!:!", "beta:!b:!2:!:!", "zed:!z:!9:!:!"});
    bool written = false;
    // The first sync of the store file after our bytes went in: an append's
    // data sync, a rewrite's folder sync after its rename.
    Platform::setDurabilityTracer([&](const char *step, const QString &path) {
        const bool ours = (command == "add" && QByteArray(step) == "datasync") ||
                          (command == "replace" && QByteArray(step) == "syncdir");
        if (written || !ours || (command == "add" && path != f.paths.database()))
            return;
        written = true;
        if (foreign == "renamed over") {
            writeBytes(f.paths.dataFolder() + "/.sync-tmp", theirs);
            QVERIFY(::rename(QFile::encodeName(f.paths.dataFolder() + "/.sync-tmp"),
                             QFile::encodeName(f.paths.database())) == 0);
        } else {
            QFile file(f.paths.database());
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.write(theirs);
        }
    });
    const SessionStatus first =
        command == "add" ? session.add("gamma:!g:!3:!:!") : session.replace(0, "alpha:!a:!11:!:!");
    Platform::setDurabilityTracer(nullptr);
    QCOMPARE(first, SessionStatus::Ok);
    QVERIFY(written);
    QVERIFY(session.changedOnDisk());
    const QByteArray onDisk = fileBytes(f.paths.database());
    QCOMPARE(session.remove(1), SessionStatus::ChangedOnDisk);
    QCOMPARE(fileBytes(f.paths.database()), onDisk);
    QVERIFY(onDisk.contains(EncodeLine("zed:!z:!9:!:!")));
}

void TestSession::foldersOthersCanWriteAreRefused_data() {
    // What another user can prepare in a program folder that all may write
    // (mode 1777 or 0777), before our first start or while we run.
    QTest::addColumn<QString>("planted");
    QTest::addColumn<bool>("whileRunning");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("at");
    using Kind = Platform::Untrusted::Kind;
    const std::tuple<const char *, Kind, const char *> rows[] = {
        {"Data of another user's", Kind::OthersOwn, "Data"},
        {"Data that others may write", Kind::OthersMayWrite, "Data"},
        {"Data a link to another folder", Kind::Link, "Data"},
        {"a store of another user's", Kind::OthersOwn, "Data/CW2DB.pdb"},
        {"a store that others may write", Kind::OthersMayWrite, "Data/CW2DB.pdb"},
        {"a pipe at the store", Kind::NotPlainFile, "Data/CW2DB.pdb"},
        {"a link at the settings", Kind::Link, "Data/chestward.cnf"}};
    for (const auto &[planted, kind, at] : rows) {
        for (bool running : {false, true}) {
            if (running && QByteArray(at) == "Data")
                continue; // our own Data is made and held before anyone else can
            QTest::addRow("%s, %s", planted, running ? "while we run" : "before we start")
                << QString::fromLatin1(planted) << running << int(kind) << QString::fromLatin1(at);
        }
    }
}

void TestSession::foldersOthersCanWriteAreRefused() {
    QFETCH(QString, planted);
    QFETCH(bool, whileRunning);
    QFETCH(int, kind);
    QFETCH(QString, at);
    if (planted.contains("another user's") && ::geteuid() != 0)
        QSKIP("only root can give a file to another user");
    TestFolders f(false);
    const QString path = f.paths.programFolder + '/' + at;
    const auto plant = [&] {
        if (at != "Data" && !QFileInfo::exists(f.paths.dataFolder()))
            QVERIFY(Platform::createHiddenFolder(f.paths.dataFolder()));
        if (planted.contains("link")) {
            const QString elsewhere = f.paths.tempFolder + "/elsewhere";
            QDir().mkpath(elsewhere);
            QVERIFY(QFile::link(elsewhere, path));
        } else if (planted.contains("pipe")) {
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else {
            if (at == "Data")
                QVERIFY(QDir().mkdir(path));
            else
                writeBytes(path, storeBytes(kRecords));
            if (planted.contains("others may write"))
                QVERIFY(::chmod(QFile::encodeName(path).constData(), at == "Data" ? 0777 : 0666) ==
                        0);
            if (planted.contains("another user's"))
                QVERIFY(::chown(QFile::encodeName(path).constData(), 1, 1) == 0);
        }
    };
    Session session(f.paths);
    if (whileRunning) {
        QCOMPARE(session.lock(), Platform::FolderLock::Result::Locked);
        session.readSettings();
        session.loadRecords();
        plant();
        // Nothing is read, opened or written: a pipe would hang the open.
        QCOMPARE(session.add("gamma:!g:!3:!:!"), SessionStatus::Untrusted);
    } else {
        plant();
        QCOMPARE(session.lock(), Platform::FolderLock::Result::Untrusted);
        QVERIFY(!session.locked());
    }
    QCOMPARE(int(session.untrusted().kind), kind);
    QCOMPARE(session.untrusted().path, path);
    QStringList left =
        QDir(f.paths.dataFolder())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    QCOMPARE(left, at == "Data" ? QStringList() : QStringList{QFileInfo(path).fileName()});
}

void TestSession::linksAndPipesAreNeverOpened() {
    // The last guard when something is put in a store's place after the
    // folder was checked: a link is not followed to a file elsewhere, a pipe
    // is not waited on. A whole write replaces what stands there instead.
    TestFolders f;
    const QString victim = f.paths.tempFolder + "/victim";
    const QString path = f.paths.dataFolder() + "/CW2DB.pdb";
    const QByteArray victimBytes = "someone else's file\r\n";
    ::alarm(30); // an open that waits on the pipe ends the test here
    for (const char *kind : {"link", "pipe"}) {
        const std::pair<const char *, std::function<bool()>> uses[] = {
            {"read",
             [&] {
                 QByteArray in;
                 return Platform::readFile(path, in);
             }},
            {"append", [&] { return Platform::appendToFile(path, "x:!y:!z:!:!"); }},
            {"cut", [&] { return Platform::truncateFile(path, 0); }},
            {"write whole",
             [&] { return Platform::writeFileAtomically(path, "w:!w:!w:!:!\r\n"); }}};
        for (const auto &[use, call] : uses) {
            const QString row = QString::fromLatin1(kind) + ", " + use;
            writeBytes(victim, victimBytes);
            QFile::remove(path);
            QVERIFY(QByteArrayView(kind) == "link"
                        ? QFile::link(victim, path)
                        : ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
            const bool whole = QByteArrayView(use) == "write whole";
            QVERIFY2(call() == whole, qPrintable(row));
            QVERIFY2(fileBytes(victim) == victimBytes, qPrintable(row));
            QCOMPARE(QFileInfo(path).isFile() && !QFileInfo(path).isSymLink(), whole);
        }
    }
    ::alarm(0);
}

void TestSession::holdFollowsASwappedFolder() {
    // Data moved aside and a backup put in its place by hand: the hold moves
    // to the folder now in use, so a second start there is refused.
    TestFolders f;
    QCOMPARE(RewriteDatabase(f.paths, Scope::None, kRecords, ""), StoreStatus::Ok);
    Session first(f.paths);
    QCOMPARE(first.lock(), Platform::FolderLock::Result::Locked);
    first.readSettings();
    first.loadRecords();
    const QString backup = f.paths.programFolder + "/backup";
    QVERIFY(QDir().mkdir(backup));
    QVERIFY(QFile::copy(f.paths.database(), backup + "/CW2DB.pdb"));
    QVERIFY(::chmod(QFile::encodeName(backup).constData(), 0700) == 0);
    QVERIFY(QDir().rename(f.paths.dataFolder(), f.paths.programFolder + "/Data.broken"));
    QVERIFY(QDir().rename(backup, f.paths.dataFolder()));
    QCOMPARE(first.checkFolder(), SessionStatus::Ok);
    Session second(f.paths);
    QCOMPARE(second.lock(), Platform::FolderLock::Result::Busy);

    // Swapped again while another copy holds the new one: nothing is written.
    Session third(f.paths);
    QVERIFY(QDir().rename(f.paths.dataFolder(), f.paths.programFolder + "/Data.two"));
    QVERIFY(QDir().mkdir(f.paths.dataFolder()));
    QVERIFY(::chmod(QFile::encodeName(f.paths.dataFolder()).constData(), 0700) == 0);
    QCOMPARE(third.lock(), Platform::FolderLock::Result::Locked);
    QCOMPARE(first.add("gamma:!g:!3:!:!"), SessionStatus::HeldElsewhere);
    QVERIFY(!QFileInfo::exists(f.paths.database()));
}

void TestSession::whereTheRecordsLive_data() {
    QTest::addColumn<QString>("copy");
    QTest::addColumn<bool>("beside");
    QTest::newRow("a portable copy of the user's own") << "portable" << true;
    QTest::newRow("installed, so marked") << "installed" << false;
    QTest::newRow("installed, Data already beside it") << "installed with Data" << false;
    QTest::newRow("another user's folder") << "another user's" << false;
}

void TestSession::whereTheRecordsLive() {
    QFETCH(QString, copy);
    QFETCH(bool, beside);
    QTemporaryDir root;
    const QString exe = root.path() + "/lib/varnlock";
    const QString dataHome = root.path() + "/share";
    QVERIFY(QDir().mkpath(exe));
    qputenv("XDG_DATA_HOME", dataHome.toLocal8Bit());
    if (copy.startsWith("installed"))
        writeBytes(exe + '/' + StorePaths::kInstalledMark, "installed\n");
    if (copy.endsWith("with Data"))
        QVERIFY(QDir().mkdir(exe + "/Data"));
    if (copy == "another user's") {
        if (::geteuid() != 0)
            QSKIP("only root can give a folder to another user");
        QVERIFY(::chown(QFile::encodeName(exe).constData(), 1, 1) == 0);
    }
    // Whoever starts it, root included: the installed folder is never the records'.
    const StorePaths paths = StorePaths::forExecutableFolder(exe);
    QCOMPARE(paths.programFolder, beside ? exe : dataHome + "/varnlock");
    if (!beside)
        QCOMPARE(modeOf(paths.programFolder), 0700);
    QCOMPARE(paths.helpPage(), exe + "/Help/help.html");
}

void TestSession::refusedChangesNothing() {
    // Settings that cannot be staged, and a record that would encipher to a
    // line break under the new key ("K").
    const QList<QByteArray> unsafe{QByteArray(1, char(245 ^ 'K')) + ":!u:!p:!:!"};
    for (const bool unwritable : {true, false}) {
        TestFolders f;
        const QList<QByteArray> records = unwritable ? kRecords : unsafe;
        QCOMPARE(RewriteDatabase(f.paths, Scope::None, records, ""), StoreStatus::Ok);
        if (unwritable)
            QDir().mkdir(StagedPath(f.paths.config()));
        QCOMPARE(ApplySettings(f.paths, settingsLine(Scope::ProgramAndDBase, "K")),
                 unwritable ? AcceptStatus::ConfigWriteFailed : AcceptStatus::UnsafeRecord);
        QCOMPARE(fileBytes(f.paths.database()), storeBytes(records));
        for (const QString &file : {f.paths.copy(), StagedPath(f.paths.copy()), f.paths.config()})
            QVERIFY(!QFileInfo::exists(file));
    }
    // The strong store keeps a line break in a field (an earlier version let
    // one be pasted there); the other stores' files, a line a record, can not.
    TestFolders f;
    const std::vector<QByteArrayView> broken{"a:!u:!p:!:!", "b:!u:!two\nlines:!:!"};
    Strong::Keys keys;
    QCOMPARE(Strong::Create(f.paths.strongStore(), "pass word", {3, Strong::kMinMemory},
                            {broken, {}, {}}, keys),
             Strong::Status::Ok);
    QVERIFY(Platform::writeFileAtomically(f.paths.config(),
                                          SettingsFileContent(settingsLine(Scope::Strong, ""))));
    const auto before = snapshot(f);
    for (const Scope weaker : {Scope::None, Scope::ProgramOnly, Scope::ProgramAndDBase}) {
        StrongChange leaving;
        leaving.current = &keys;
        QCOMPARE(ApplySettings(f.paths, settingsLine(weaker, "K"), leaving),
                 AcceptStatus::UnsafeRecord);
        QCOMPARE(snapshot(f), before);
    }
}

void TestSession::interruptedChangeIsSettled_data() {
    QTest::addColumn<int>("stepsDone");
    QTest::newRow("copy staged, settings not") << -1;
    QTest::newRow("settings staged, nothing moved") << 0;
    QTest::newRow("copy in place") << 1;
    QTest::newRow("old store deleted") << 2;
}

void TestSession::interruptedChangeIsSettled() {
    // Before the settings are staged the change rolls back; after, forward.
    QFETCH(int, stepsDone);
    TestFolders f;
    QCOMPARE(RewriteDatabase(f.paths, Scope::None, kRecords, ""), StoreStatus::Ok);
    writeBytes(StagedPath(f.paths.copy()), copyBytes(kRecords, "Pw"));
    if (stepsDone >= 0)
        QVERIFY(Platform::writeFileAtomically(
            StagedPath(f.paths.config()),
            SettingsFileContent(settingsLine(Scope::ProgramAndDBase, "Pw"))));
    if (stepsDone >= 1)
        QVERIFY(Platform::replaceFile(StagedPath(f.paths.copy()), f.paths.copy()));
    if (stepsDone >= 2)
        QVERIFY(Platform::removeFile(f.paths.database()));
    Session session(f.paths); // settled by the next start, as the program's
    QCOMPARE(session.lock(), Platform::FolderLock::Result::Locked);
    session.recover();
    const bool forward = stepsDone >= 0;
    QCOMPARE(fileBytes(f.paths.copy()),
             forward ? copyBytes(kRecords, "Pw") : QByteArray("<missing>"));
    QCOMPARE(QFileInfo::exists(f.paths.database()), !forward);
    for (const QString &file : {f.paths.copy(), f.paths.config()})
        QVERIFY(!QFileInfo::exists(StagedPath(file)));
    session.readSettings();
    session.loadRecords();
    QCOMPARE(session.records().toList(), kRecords);
}

void TestSession::oneWayToOpen() {
    // The window, the command line and the tools open records one way: the
    // password asked only where the settings need one, a refusal listing
    // nothing, and what the title window's wait read not read again.
    TestFolders f;
    QCOMPARE(WriteSettingsFile(f.paths, settingsLine(Scope::ProgramOnly, "key7")),
             SettingsStatus::Ok);
    writeBytes(f.paths.database(), storeBytes(kRecords));
    int asked = 0;
    const auto answer = [&](const QString &typed) {
        return [&asked, typed](Session &session) {
            ++asked;
            return session.unlock(typed) == Session::Unlock::Opened;
        };
    };
    {
        Session refused(f.paths);
        QCOMPARE(refused.open(answer("key")), OpenStatus::NotGiven);
        QVERIFY(refused.records().isEmpty());
        QCOMPARE(asked, 1);
        // Held by this session, the folder is refused to the next one.
        Session second(f.paths);
        QCOMPARE(second.open(answer("key7")), OpenStatus::HeldElsewhere);
        QCOMPARE(asked, 1);
    }
    Session session(f.paths);
    QCOMPARE(session.open(answer("key7")), OpenStatus::Opened);
    QCOMPARE(session.records().toList(), RecordList(kRecords).toList());
    QCOMPARE(session.loaded(), StoreStatus::Ok);

    // Without a password: read while the title shows, not again after, and
    // every listener hears of it.
    TestFolders g;
    writeBytes(g.paths.database(), storeBytes(kRecords));
    Session early(g.paths);
    int heard[2] = {0, 0};
    early.onRecordsChanged([&](const RecordsChange &) { ++heard[0]; });
    early.onRecordsChanged([&](const RecordsChange &) { ++heard[1]; });
    early.prepare();
    QCOMPARE(early.records().size(), 2);
    QCOMPARE(early.open({}), OpenStatus::Opened);
    QCOMPARE(heard[0], 1);
    QCOMPARE(heard[1], 1);
    // Changed on disk in between, it is read again.
    TestFolders h;
    writeBytes(h.paths.database(), storeBytes(kRecords));
    Session changed(h.paths);
    changed.prepare();
    writeBytes(h.paths.database(), storeBytes(kRecords + QList<QByteArray>{"gamma:!c:!3:!:!"}));
    QCOMPARE(changed.open({}), OpenStatus::Opened);
    QCOMPARE(changed.records().size(), 3);

    // Opened only to read, beside the session that holds the folder: nothing
    // it is asked to do is written.
    Session reader(f.paths);
    QCOMPARE(reader.openToRead(answer("key7")), OpenStatus::Opened);
    const auto before = snapshot(f);
    QCOMPARE(reader.add("gamma:!c:!3:!:!"), SessionStatus::HeldElsewhere);
    QCOMPARE(reader.replace(0, "alpha:!a:!9:!:!"), SessionStatus::HeldElsewhere);
    QCOMPARE(snapshot(f), before);
}

void TestSession::syncToolsKeepTheirFiles() {
    // A Data folder shared by a sync tool holds the tool's own files: they
    // are allowed on the terms ours are (the user's own, nobody else may
    // write, no link), and anything else keeps today's refusal.
    using Kind = Platform::Untrusted::Kind;
    const struct {
        const char *name;
        const char *what; // "folder", "file", "link"; "shared" others may write it
        Kind refused;     // None: allowed
    } rows[] = {
        {".stfolder", "folder", Kind::None},
        {".stversions", "folder", Kind::None},
        {".stignore", "file", Kind::None},
        {".sync_4f2a9c.db", "file", Kind::None},
        {".sync_4f2a9c.db-wal", "file", Kind::None},
        {".owncloudsync.log", "file", Kind::None},
        {".stfolder", "link", Kind::Link},
        {".stfolder", "shared folder", Kind::OthersMayWrite},
        {".stignore", "shared file", Kind::OthersMayWrite},
        {"Backups", "folder", Kind::NotPlainFile},
        {".sync_notes.txt", "folder", Kind::NotPlainFile},
    };
    for (const auto &row : rows) {
        TestFolders f;
        writeBytes(f.paths.database(), storeBytes(kRecords));
        const QString path = f.paths.dataFolder() + '/' + row.name;
        const QByteArray what(row.what);
        if (what.contains("link")) {
            QVERIFY(QFile::link(f.paths.tempFolder, path));
        } else if (what.contains("folder")) {
            QVERIFY(QDir().mkdir(path));
            writeBytes(path + "/inside", "never read");
        } else {
            writeBytes(path, "never read");
        }
        if (what.startsWith("shared"))
            QVERIFY(::chmod(QFile::encodeName(path).constData(),
                            what.contains("folder") ? 0777 : 0666) == 0);
        Session session(f.paths);
        const bool allowed = row.refused == Kind::None;
        QVERIFY2(session.open({}) == (allowed ? OpenStatus::Opened : OpenStatus::Untrusted),
                 row.name);
        QCOMPARE(int(session.untrusted().kind), int(row.refused));
        if (allowed) {
            QCOMPARE(session.add("gamma:!g:!3:!:!"), SessionStatus::Ok);
            QCOMPARE(session.records().size(), 3);
        }
    }
}

QTEST_APPLESS_MAIN(TestSession)
#include "tst_session.moc"
