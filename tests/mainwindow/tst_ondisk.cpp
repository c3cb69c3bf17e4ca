#include "../common/guiharness.h"

#include "database.h"
#include "recordline.h"
#include "reencipher.h"
#include "settingscopies.h"

#include <QDirIterator>
#include <QProcess>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

// The files change under a running window: another machine's copy synced in,
// or a backup restored. Whatever the command, nothing is written over them,
// the user is told, the list is read again and the fields keep what was typed.

namespace {

const QList<QByteArray> kOurs{"alpha:!a:!1:!:!", "beta:!b:!2:!:!"};
const QByteArray kDelta = "delta:!d:!4:!:!";
const QByteArray kOtherPassword = "other9";

// The records as the scope stores them under key; the strong store is opened
// with key when it is there (as another machine with the same passphrase
// does), or made.
void writeStore(const StorePaths &paths, Scope scope, const QList<QByteArray> &records,
                const QByteArray &key, Strong::Keys &keys) {
    if (scope != Scope::Strong) {
        QCOMPARE(RewriteDatabase(paths, scope, records, key), StoreStatus::Ok);
        return;
    }
    const std::vector<QByteArrayView> lines(records.begin(), records.end());
    Strong::Opened opened;
    if (Strong::Open(paths.strongStore(), key, keys, opened) == Strong::Status::Ok)
        QCOMPARE(Strong::Rewrite(paths.strongStore(), keys, lines), Strong::Status::Ok);
    else
        QCOMPARE(Strong::Create(paths.strongStore(), key, {3, Strong::kMinMemory}, lines, keys),
                 Strong::Status::Ok);
}

// Another machine's copy of the program folder: it changes its own files,
// which then replace ours as a sync tool or a restore puts them.
struct OtherMachine {
    QTemporaryDir root;
    StorePaths paths;

    explicit OtherMachine(const StorePaths &ours) {
        paths.programFolder = root.path();
        paths.tempFolder = root.path();
        QDir().mkpath(paths.dataFolder());
        for (const QString &name : QDir(ours.dataFolder()).entryList(QDir::Files | QDir::Hidden))
            QFile::copy(ours.dataFolder() + '/' + name, paths.dataFolder() + '/' + name);
    }

    // Each file is renamed over ours; ours that the other side no longer has go.
    void syncInto(const StorePaths &ours) const {
        const QDir theirs(paths.dataFolder());
        for (const QString &name : QDir(ours.dataFolder()).entryList(QDir::Files | QDir::Hidden)) {
            if (!theirs.exists(name))
                QFile::remove(ours.dataFolder() + '/' + name);
        }
        for (const QString &name : theirs.entryList(QDir::Files | QDir::Hidden))
            syncFileInto(ours, name);
    }

    // One file, renamed over ours as a sync tool puts it. False when it could not be.
    bool syncFileInto(const StorePaths &ours, const QString &name) const {
        const QString staged = ours.dataFolder() + "/.sync-" + name;
        return QFile::copy(paths.dataFolder() + '/' + name, staged) &&
               std::rename(QFile::encodeName(staged),
                           QFile::encodeName(ours.dataFolder() + '/' + name)) == 0;
    }

    // The other way a backup comes back: written over our file in place.
    void restoreInPlace(const StorePaths &ours, Scope scope) const {
        const QString name = QFileInfo(StoreFile(paths, scope)).fileName();
        writeBytes(ours.dataFolder() + '/' + name, fileBytes(paths.dataFolder() + '/' + name));
    }
};

QMap<QString, QByteArray> dataFiles(const StorePaths &paths) {
    QMap<QString, QByteArray> out;
    for (const QString &name : QDir(paths.dataFolder()).entryList(QDir::Files | QDir::Hidden))
        out.insert(name, fileBytes(paths.dataFolder() + '/' + name));
    return out;
}

} // namespace

class TestOnDisk : public QObject {
    Q_OBJECT
private slots:
    void nothingWrittenOverNewerFiles_data();
    void nothingWrittenOverNewerFiles();
    void readDuringTheSplash_data();
    void readDuringTheSplash();
    void selectionFollowsItsRecordAcrossAReload();
    void filteredListUnderTheReloadMessage();
    void passwordChangeArrivingInTwoHalves_data();
    void passwordChangeArrivingInTwoHalves();
    void strongStoreArrivingAfterItsSettings();
    void missingStrongStoreIsToldBeforeAnyPassphrase_data();
    void missingStrongStoreIsToldBeforeAnyPassphrase();
    void recordsUnderAnEarlierPassword_data();
    void recordsUnderAnEarlierPassword();
    void settingsSetAsideBySyncTool_data();
    void settingsSetAsideBySyncTool();
    void settingsSetAsideToldAgainAfterALock();
    void settingsSetAsideAheadOfTheirRecords();
    void filesNotOursAloneStopTheStart();
    void plantedTemporaryFileIsNeverRead_data();
    void plantedTemporaryFileIsNeverRead();
};

void TestOnDisk::nothingWrittenOverNewerFiles_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("scope");
    QTest::addColumn<QString>("change");
    for (const char *command : {"add", "replace", "remove", "import", "accept"}) {
        for (int scope : {0, 1, 2, 3}) {
            // Beside a strong store the old database is not offered.
            if (scope == 3 && QByteArrayView(command) == "import")
                continue;
            for (const char *change : {"record synced in", "restored in place", "protection"}) {
                QTest::addRow("%s, scope %d, %s", command, scope, change)
                    << QString::fromLatin1(command) << scope << QString::fromLatin1(change);
            }
        }
    }
}

void TestOnDisk::nothingWrittenOverNewerFiles() {
    QFETCH(QString, command);
    QFETCH(int, scope);
    QFETCH(QString, change);
    const Scope ours = scope == 3 ? Scope::Strong : ScopeFromDigit(char('0' + scope));
    const QByteArray key = ours == Scope::None ? QByteArray(kUnsetPassword) : "key7";

    Harness h(true);
    QCOMPARE(WriteSettingsFile(h.paths(), settingsLine(ours, key)), SettingsStatus::Ok);
    Strong::Keys ourKeys, theirKeys;
    writeStore(h.paths(), ours, kOurs, key, ourKeys);
    writeBytes(h.paths().oldDatabase(), EncodeLine("old:ann:x1:") + "\r\n");
    MainWindow &w = h.start(ours == Scope::None ? QStringList() : QStringList{"key7"});
    QCOMPARE(h.names(), serviceNames(kOurs));

    // The command's input, typed before the files change.
    SecurityWindow *settings = nullptr;
    if (command == "add") {
        h.fill({"gamma", "g", "3"});
    } else if (command == "replace") {
        h.clickRow(0);
        fieldEdit(w, Field::UserName)->setText("changed");
    } else if (command == "remove") {
        h.clickRow(1);
    } else if (command == "accept") {
        settings = openSettings(w);
        part<QLineEdit>(settings, "passwordEdit")->setText("new5");
        part<QRadioButton>(settings, "scopeProgramOnly")->click();
    }
    const QStringList typed = h.fields();

    // The other side: one more record, and maybe new protection.
    OtherMachine other(h.paths());
    const QList<QByteArray> theirs = kOurs + QList<QByteArray>{kDelta};
    writeStore(other.paths, ours, RecordList(theirs).toList(), key, theirKeys);
    Scope now = ours;
    QByteArray nowKey = key;
    if (change == "protection") {
        now = Scope::ProgramAndDBase;
        nowKey = kOtherPassword;
        StrongChange leaving;
        leaving.current = &theirKeys;
        QCOMPARE(ApplySettings(other.paths, settingsLine(now, nowKey), leaving), AcceptStatus::Ok);
    }
    if (change == "restored in place")
        other.restoreInPlace(h.paths(), ours);
    else
        other.syncInto(h.paths());
    const auto published = dataFiles(h.paths());
    h.promptEntries = {QString::fromLatin1(kOtherPassword)};
    const int promptsBefore = h.promptsAnswered;

    auto run = [&] {
        if (command == "add")
            w.add();
        else if (command == "replace")
            w.replaceSelected();
        else if (command == "remove")
            w.removeSelected();
        else if (command == "import")
            w.importOldDatabase();
        else
            part<QPushButton>(settings, "acceptButton")->click();
    };
    run();

    // A password set elsewhere is told, then asked for, before its records are shown.
    const qsizetype told = change == "protection" ? 2 : 1;
    QCOMPARE(h.messages.size(), told);
    QCOMPARE(h.messages[0].icon, QMessageBox::Warning);
    QVERIFY2(h.messages[0].text.startsWith("The records were changed on disk"),
             qPrintable(h.messages[0].text));
    if (change == "protection")
        QCOMPARE(h.messages[1].text, kPasswordChangedElsewhereText);
    QCOMPARE(dataFiles(h.paths()), published);
    QCOMPARE(h.names(), serviceNames(theirs));
    QCOMPARE(w.scope(), now);
    QCOMPARE(h.promptsAnswered - promptsBefore, change == "protection" ? 1 : 0);
    QCOMPARE(h.fields(), typed);
    if (settings)
        QCOMPARE(part<QLineEdit>(settings, "passwordEdit")->text(), QStringLiteral("new5"));

    // Repeated, the command now works on the records as they are on disk.
    run();
    QCOMPARE(h.messages.size(), told + (command == "import" ? 1 : 0));
    if (command == "import")
        QCOMPARE(h.messages.last().text, QStringLiteral("Old Database Import Success"));
    QList<QByteArray> expected = RecordList(theirs).toList();
    QStringList restart;
    if (command == "add") {
        expected << "gamma:!g:!3:!:!";
    } else if (command == "replace") {
        expected.replace(0, "alpha:!changed:!1:!:!");
    } else if (command == "remove") {
        expected.removeOne("beta:!b:!2:!:!");
    } else if (command == "import") {
        expected << "old:!ann:!x1:!";
    } else {
        now = Scope::ProgramOnly;
        nowKey = "new5";
    }
    if (now != Scope::None)
        restart << QString::fromLatin1(nowKey);
    h.start(restart);
    QCOMPARE(h.w().scope(), now);
    QCOMPARE(h.w().records().toList(), RecordList(expected).toList());
}

void TestOnDisk::readDuringTheSplash_data() {
    QTest::addColumn<int>("scope");
    QTest::addColumn<bool>("changed");
    for (int scope : {0, 1, 2}) {
        for (bool changed : {false, true})
            QTest::addRow("scope %d%s", scope, changed ? ", changed before the window" : "")
                << scope << changed;
    }
}

void TestOnDisk::readDuringTheSplash() {
    // The records are read while the splash shows; what changes on disk
    // before the window comes is read again, never shown from the early read.
    QFETCH(int, scope);
    QFETCH(bool, changed);
    const Scope ours = ScopeFromDigit(char('0' + scope));
    const QByteArray key = ours == Scope::None ? QByteArray(kUnsetPassword) : "key7";
    Harness h(true);
    QCOMPARE(WriteSettingsFile(h.paths(), settingsLine(ours, key)), SettingsStatus::Ok);
    QCOMPARE(RewriteDatabase(h.paths(), ours, kOurs, key), StoreStatus::Ok);
    const QList<QByteArray> theirs = RecordList(kOurs + QList<QByteArray>{kDelta}).toList();
    int promptsDuringSplash = -1;
    h.beforeLoad = [&](MainWindow &w) {
        w.preload();
        promptsDuringSplash = h.promptsAnswered;
        if (changed)
            QCOMPARE(RewriteDatabase(h.paths(), ours, theirs, key), StoreStatus::Ok);
    };
    h.start(ours == Scope::None ? QStringList() : QStringList{"key7"});
    QCOMPARE(promptsDuringSplash, 0); // nobody is asked anything during the splash
    QCOMPARE(h.promptsAnswered, ours == Scope::None ? 0 : 1);
    QCOMPARE(h.w().records().toList(), changed ? theirs : RecordList(kOurs).toList());
    QCOMPARE(h.names(), serviceNames(changed ? theirs : kOurs));
    QVERIFY(h.messages.isEmpty());
}

void TestOnDisk::selectionFollowsItsRecordAcrossAReload() {
    Harness h(true);
    const QList<QByteArray> three{"alpha:!a:!1:!:!", "bravo:!b:!2:!:!", "charlie:!c:!3:!:!"};
    MainWindow &w = h.startWith(three);
    w.openFind();
    QTest::keyClicks(part<QLineEdit>(w, "findLine"), "bravo");
    QTest::keyClick(part<QLineEdit>(w, "findLine"), Qt::Key_Return);
    QCOMPARE(h.fields()[0], QStringLiteral("bravo"));

    // Another record changes and one arrives while the window is idle: the
    // list follows, the selection stays on bravo, the fields keep what was
    // typed, and Replace acts on it.
    fieldEdit(w, Field::Password)->setText("22");
    QList<QByteArray> theirs{"alpha:!a:!9:!:!", "bravo:!b:!2:!:!", "charlie:!c:!3:!:!", kDelta};
    OtherMachine other(h.paths());
    writeBytes(other.paths.database(), storeBytes(theirs));
    other.syncInto(h.paths());
    QTRY_COMPARE(w.records().size(), 4);
    QCOMPARE(h.names(), QStringList{"bravo"}); // still found
    QCOMPARE(h.fields(), (QStringList{"bravo", "b", "22", "", ""}));
    QCOMPARE(h.commands(), QStringLiteral("add replace remove"));
    part<QAction>(w, "replaceAction")->trigger();
    theirs[1] = "bravo:!b:!22:!:!";
    QCOMPARE(h.databaseFile(), storeBytes(theirs));
    QVERIFY(h.messages.isEmpty());

    // Bravo renamed elsewhere: no longer selected, and the window says so;
    // a replace by its key stores nothing and says why; the edit stays.
    theirs[1] = "brave:!b:!22:!:!";
    writeBytes(other.paths.database(), storeBytes(theirs));
    other.syncInto(h.paths());
    QTRY_COMPARE(h.messages.size(), 1);
    QVERIFY(h.messages[0].text.startsWith("The record \"bravo\" that you had selected"));
    fieldEdit(w, Field::Password)->setText("33");
    QCOMPARE(h.commands(), QStringLiteral("add"));
    w.replaceSelected();
    QCOMPARE(h.messages.size(), 2);
    QVERIFY(h.messages[1].text.startsWith("Nothing was replaced"));
    QCOMPARE(h.databaseFile(), storeBytes(theirs));
    QCOMPARE(h.fields()[2], QStringLiteral("33"));
}

void TestOnDisk::filteredListUnderTheReloadMessage() {
    // The settings of a new protection arrive before the copy they go with:
    // the reload asks for the password, finds no copy and says so; the list,
    // filtered to its last rows, is painted under that message.
    Harness h(true);
    const QList<QByteArray> many{"a1:!u:!p:!:!", "a2:!u:!p:!:!", "a3:!u:!p:!:!", "zz1:!u:!p:!:!",
                                 "zz2:!u:!p:!:!"};
    MainWindow &w = h.startWith(many);
    w.openFind();
    QTest::keyClicks(part<QLineEdit>(w, "findLine"), "zz");
    QCOMPARE(h.names(), (QStringList{"zz1", "zz2"}));
    QStringList painted;
    h.whileMessageShows = [&] {
        if (h.messages.last().title != QStringLiteral("Error - i67"))
            return;
        for (int row = 0; row < part<ServiceList>(w, "recordView")->count(); ++row)
            painted.append(part<ServiceList>(w, "recordView")->text(row));
        part<ServiceList>(w, "recordView")->viewport()->repaint();
    };
    QCOMPARE(ApplySettings(h.paths(), settingsLine(Scope::ProgramAndDBase, kOtherPassword)),
             AcceptStatus::Ok);
    QFile::remove(h.paths().copy());
    h.promptEntries = {QString::fromLatin1(kOtherPassword)};
    QVERIFY(w.reloadFromDisk());
    QCOMPARE(h.messages.size(), 2);
    QCOMPARE(h.messages[0].text, kPasswordChangedElsewhereText);
    QCOMPARE(h.messages[1].title, QStringLiteral("Error - i67"));
    QVERIFY(painted.isEmpty());
    QCOMPARE(part<ServiceList>(w, "recordView")->count(), 0);
}

void TestOnDisk::passwordChangeArrivingInTwoHalves_data() {
    QTest::addColumn<bool>("setAside");
    QTest::newRow("its settings come") << false;
    // Settings changed here too meanwhile: the sync tool kept ours and set
    // the other computer's aside.
    QTest::newRow("its settings set aside by the sync tool") << true;
}

void TestOnDisk::passwordChangeArrivingInTwoHalves() {
    // Another computer set a new password: its copy arrives first, its
    // settings a moment later. Until they do, nothing is listed from the
    // copy and nothing is written into it.
    QFETCH(bool, setAside);
    Harness h(true);
    writeSettings(h.paths(), kNeverExpires, "key7", 1);
    QCOMPARE(RewriteDatabase(h.paths(), Scope::ProgramAndDBase, kOurs, "key7"), StoreStatus::Ok);
    MainWindow &w = h.start({"key7"});
    OtherMachine other(h.paths());
    QCOMPARE(ApplySettings(other.paths, settingsLine(Scope::ProgramAndDBase, kOtherPassword)),
             AcceptStatus::Ok);
    QVERIFY(other.syncFileInto(h.paths(), "CW2DB.edb"));
    QTRY_COMPARE(h.messages.size(), 1);
    QCOMPARE(h.messages[0].text, kOtherKeyText);
    QCOMPARE(h.names(), QStringList());
    const QByteArray theirCopy = h.copyFile();
    h.fill({"new", "n", "pw"});
    w.add();
    QCOMPARE(h.messages.size(), 2);
    QCOMPARE(h.messages[1].text, kOtherKeyText);
    QCOMPARE(h.copyFile(), theirCopy);
    QCOMPARE(h.fields()[0], QStringLiteral("new"));

    // The settings arrive: the new password is asked for, the records come
    // back, and the add goes into the copy under the new password.
    h.promptEntries = {QString::fromLatin1(kOtherPassword)};
    const QString setAsidePath =
        h.paths().dataFolder() + "/chestward.sync-conflict-20261211-101500-ABCDEFG.cnf";
    if (setAside)
        writeBytes(setAsidePath, fileBytes(other.paths.config()));
    else
        other.syncInto(h.paths());
    QTRY_COMPARE(h.promptsAnswered, 2);
    QTRY_COMPARE(h.names(), serviceNames(kOurs));
    QCOMPARE(h.messages.size(), 3);
    QCOMPARE(h.messages[2].text,
             setAside ? kSettingsTakenFromCopyText : kPasswordChangedElsewhereText);
    QCOMPARE(fileBytes(h.paths().config()), fileBytes(other.paths.config()));
    QVERIFY(!QFile::exists(setAsidePath));
    w.add();
    QCOMPARE(h.messages.size(), 3);
    QCOMPARE(h.copyFile(), copyBytes(kOurs + QList<QByteArray>{"new:!n:!pw:!:!"}, kOtherPassword));
    // Records whose settings came after them are not taken for older ones.
    QTest::qWait(3500);
    QCOMPARE(h.questions.size(), 0);
}

void TestOnDisk::recordsUnderAnEarlierPassword_data() {
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<int>("asked");
    QTest::newRow("the earlier password, after a wrong one") << QStringList{"nope", "key7"} << 2;
    QTest::newRow("cancelled") << QStringList() << 1;
}

void TestOnDisk::recordsUnderAnEarlierPassword() {
    // The settings hold a new password, and the records stay under the one
    // before it: stored on another computer before the change reached it, and
    // kept by the sync tool as the later file. The earlier password is asked
    // for once they have stayed so a while; given, the records are written
    // under the one in force. Cancelled, nothing is written or asked again.
    QFETCH(QStringList, answers);
    QFETCH(int, asked);
    Harness h(true);
    writeSettings(h.paths(), kNeverExpires, kOtherPassword, 1);
    QCOMPARE(RewriteDatabase(h.paths(), Scope::ProgramAndDBase, kOurs, "key7"), StoreStatus::Ok);
    const QByteArray before = h.copyFile();
    h.copyPasswords = answers;
    h.start({QString::fromLatin1(kOtherPassword)});
    QCOMPARE(h.messages.size(), 1);
    QCOMPARE(h.messages[0].text, kOtherKeyText);
    QCOMPARE(h.questions.size(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(h.questions.size(), asked, 6000);
    QVERIFY(h.questions[0].text.startsWith(kEarlierPasswordText));
    const bool taken = !answers.isEmpty();
    QTRY_COMPARE(h.names(), taken ? serviceNames(kOurs) : QStringList());
    QCOMPARE(h.copyFile(), taken ? copyBytes(kOurs, kOtherPassword) : before);
    QTest::qWait(3500);
    QCOMPARE(h.questions.size(), asked);
    QCOMPARE(h.messages.size(), 1);
    if (!taken) {
        // Read again (the settings written anew), and still not asked again.
        writeSettings(h.paths(), kNeverExpires, kOtherPassword, 1);
        QTRY_COMPARE(h.messages.size(), 2);
        QTest::qWait(3500);
        QCOMPARE(h.questions.size(), asked);
        QCOMPARE(h.copyFile(), before);
    } else {
        QVERIFY(h.questions[1].text.startsWith("That password does not open them either."));
        h.fill({"new", "n", "pw"});
        h.window->add();
        QCOMPARE(h.copyFile(),
                 copyBytes(kOurs + QList<QByteArray>{"new:!n:!pw:!:!"}, kOtherPassword));
    }
}

void TestOnDisk::strongStoreArrivingAfterItsSettings() {
    // Another computer moved the records into the strong store: its settings
    // arrive first, the store a moment later (and the old store goes). The
    // passphrase is asked for once the store is there to open, not before.
    Harness h(true);
    writeBytes(h.paths().database(), storeBytes(kOurs));
    MainWindow &w = h.start();
    OtherMachine other(h.paths());
    Strong::Keys keys, next;
    const std::vector<QByteArrayView> lines(kOurs.cbegin(), kOurs.cend());
    QCOMPARE(ApplySettings(other.paths,
                           BuildSettingsLine(kNeverExpires, StrongSettingsPassword(), "12-09-2026",
                                             Scope::Strong),
                           {&keys, "their phrase", {3, Strong::kMinMemory}, &next}),
             AcceptStatus::Ok);
    h.promptEntries = {"their phrase"};
    writeBytes(h.paths().config(), fileBytes(other.paths.config()));
    QTRY_COMPARE(h.messages.size(), 1);
    QVERIFY2(h.messages[0].text.contains("not there yet"), qPrintable(h.messages[0].text));
    QCOMPARE(h.promptsAnswered, 0);
    QCOMPARE(h.names(), QStringList());
    // Another file the sync brings meanwhile says it no second time, and
    // the lock, which could open nothing yet, does not end the program.
    writeBytes(h.paths().dataFolder() + "/note", "");
    QTest::qWait(600);
    QCOMPARE(h.messages.size(), 1);
    w.lockNow();
    QVERIFY(!w.programEnded() && w.isVisible());
    QCOMPARE(h.promptsAnswered, 0);
    // Nothing is written meanwhile, the old store left in Data included.
    const auto before = snapshot(h.folders);
    h.fill({"new", "n", "pw"});
    w.add();
    QTest::qWait(3500); // past the wait for a store of another protection
    QVERIFY(!w.programEnded());
    QCOMPARE(snapshot(h.folders), before);
    QCOMPARE(h.fields()[0], QStringLiteral("new"));
    QCOMPARE(h.messages.size(), 2);
    QCOMPARE(h.messages[1].text, h.messages[0].text);
    QVERIFY(h.dialogs.isEmpty());
    // The store arrives: the passphrase is asked for, and the records are back.
    other.syncInto(h.paths());
    QTRY_COMPARE(h.promptsAnswered, 1);
    QTRY_COMPARE(h.names(), serviceNames(kOurs));
    QCOMPARE(w.scope(), Scope::Strong);
    w.add();
    Strong::Opened opened;
    QCOMPARE(Strong::Open(h.paths().strongStore(), "their phrase", keys, opened),
             Strong::Status::Ok);
    QCOMPARE(RecordList(opened.records()).toList(),
             RecordList(kOurs + QList<QByteArray>{"new:!n:!pw:!:!"}).toList());
}

void TestOnDisk::missingStrongStoreIsToldBeforeAnyPassphrase_data() {
    QTest::addColumn<QString>("beside");
    QTest::addColumn<bool>("wait");
    QTest::addColumn<QString>("said");
    QTest::newRow("nothing beside") << QString() << false << "put back a backup of it (or,";
    QTest::newRow("the store it leaves") << "CW2DB.pdb" << true << "arrived only in part";
    QTest::newRow("a sync tool's copy")
        << "CW2DB.sync-conflict-20261211-101500-ABCDEFG.sdb" << true << "a sync tool's copy of it";
}

void TestOnDisk::missingStrongStoreIsToldBeforeAnyPassphrase() {
    // The settings say the strong store, and it is not there: with nothing to
    // try a passphrase on, the start says why before asking for one (a wait
    // when what is beside it says the store is on its way), and ends.
    QFETCH(QString, beside);
    QFETCH(bool, wait);
    QFETCH(QString, said);
    Harness h(true);
    QCOMPARE(WriteSettingsFile(h.paths(), settingsLine(Scope::Strong, {})), SettingsStatus::Ok);
    if (!beside.isEmpty())
        writeBytes(h.paths().dataFolder() + '/' + beside, storeBytes(kOurs));
    const auto before = snapshot(h.folders);
    h.start({"pass word"});
    QCOMPARE(h.promptsAnswered, 0);
    QCOMPARE(h.ended, 1);
    QCOMPARE(h.messages.size(), 1);
    QCOMPARE(h.messages[0].icon, wait ? QMessageBox::Warning : QMessageBox::Critical);
    QVERIFY2(h.messages[0].text.contains(said), qPrintable(h.messages[0].text));
    QCOMPARE(snapshot(h.folders), before);
}

void TestOnDisk::settingsSetAsideBySyncTool_data() {
    // The settings in force, the copy beside them, the password the records
    // are under, and what the start must come to.
    QTest::addColumn<QByteArray>("inForce");
    QTest::addColumn<QByteArray>("copy");
    QTest::addColumn<QByteArray>("recordsKey");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("said"); // a part of the only message; none: no message
    QTest::addColumn<bool>("taken");   // the copy's settings in force at the end
    QTest::addColumn<bool>("listed");
    const auto line = [](Scope scope, const QByteArray &password,
                         const char *expiry = kNeverExpires, const char *saved = "12-01-2026") {
        return BuildSettingsLine(expiry, password, saved, scope);
    };
    const Scope both = Scope::ProgramAndDBase;
    QTest::newRow("alike but its save date")
        << line(Scope::ProgramOnly, "key7")
        << line(Scope::ProgramOnly, "key7", kNeverExpires, "12-09-2026") << QByteArray("key7")
        << "key7" << QString() << false << true;
    QTest::newRow("strong: alike but its mark")
        << settingsLine(Scope::Strong, {}) << settingsLine(Scope::Strong, {})
        << QByteArray("pass word") << "pass word" << QString() << false << true;
    QTest::newRow("another password and expiry")
        << line(Scope::ProgramOnly, "key7") << line(Scope::ProgramOnly, "new8", "12-31-2026")
        << QByteArray("key7") << "key7"
        << "(chestward.sync-conflict-20261211-101500-ABCDEFG.cnf). It asked for another master "
           "password and the master password to expire on 12-31-2026. The settings in force are "
           "kept"
        << false << true;
    QTest::newRow("another protection")
        << line(both, "key7") << line(Scope::None, "key7") << QByteArray("key7") << "key7"
        << "It asked for the protection None." << false << true;
    QTest::newRow("the records open under the settings in force")
        << line(both, "key7") << line(both, "new8") << QByteArray("key7") << "key7"
        << "It asked for another master password." << false << true;
    QTest::newRow("crossed: the records are under the copy's password")
        << line(both, "key7", "12-31-2026") << line(both, "new8") << QByteArray("new8") << "new8"
        << kSettingsTakenFromCopyText << true << true;
    QTest::newRow("the copy opens nothing either")
        << line(both, "key7") << line(both, "new8") << QByteArray("other9") << "key7"
        << kOtherKeyText << false << false;
}

void TestOnDisk::settingsSetAsideBySyncTool() {
    // Two computers changed the settings apart, and the sync tool kept one
    // side's and set the other's aside. What the copy asked for is told once
    // the records are shown, and it goes; where its password is the one the
    // records are under, its settings are taken back, said before the prompt.
    QFETCH(QByteArray, inForce);
    QFETCH(QByteArray, copy);
    QFETCH(QByteArray, recordsKey);
    QFETCH(QString, typed);
    QFETCH(QString, said);
    QFETCH(bool, taken);
    QFETCH(bool, listed);
    Harness h(true);
    const Scope scope = ParseSettingsLine(inForce).scope;
    QCOMPARE(WriteSettingsFile(h.paths(), inForce), SettingsStatus::Ok);
    Strong::Keys keys;
    writeStore(h.paths(), scope, kOurs, recordsKey, keys);
    const QString copyPath =
        h.paths().dataFolder() + "/chestward.sync-conflict-20261211-101500-ABCDEFG.cnf";
    writeBytes(copyPath, SettingsFileContent(copy));
    const QByteArray config = fileBytes(h.paths().config());
    int promptsBeforeMessage = -1;
    h.whileMessageShows = [&] { promptsBeforeMessage = h.promptsAnswered; };
    h.start({typed});
    QCOMPARE(h.promptsAnswered, 1);
    QCOMPARE(h.ended, 0);
    QTRY_COMPARE(h.messages.size(), said.isEmpty() ? 0 : 1);
    QTest::qWait(50); // nothing more comes
    QCOMPARE(h.messages.size(), said.isEmpty() ? 0 : 1);
    if (!said.isEmpty()) {
        QVERIFY2(h.messages[0].text.contains(said), qPrintable(h.messages[0].text));
        // Which password to type is said before it is asked for.
        QCOMPARE(promptsBeforeMessage, said == kSettingsTakenFromCopyText ? 0 : 1);
    }
    QCOMPARE(h.names(), listed ? serviceNames(kOurs) : QStringList());
    QCOMPARE(fileBytes(h.paths().config()), taken ? SettingsFileContent(copy) : config);
    // Left only where nothing could be settled.
    QCOMPARE(QFile::exists(copyPath), listed ? false : true);
    if (taken) {
        h.fill({"new", "n", "pw"});
        h.window->add();
        QCOMPARE(h.copyFile(), copyBytes(kOurs + QList<QByteArray>{"new:!n:!pw:!:!"}, recordsKey));
    }
}

void TestOnDisk::settingsSetAsideAheadOfTheirRecords() {
    // The set-aside settings of another computer's new password come a
    // moment before the records under it: they are neither told as a change
    // lost nor removed meanwhile, and once the records are in they are taken.
    Harness h(true);
    writeSettings(h.paths(), kNeverExpires, "key7", 1);
    QCOMPARE(RewriteDatabase(h.paths(), Scope::ProgramAndDBase, kOurs, "key7"), StoreStatus::Ok);
    MainWindow &w = h.start({"key7"});
    OtherMachine other(h.paths());
    QCOMPARE(ApplySettings(other.paths, settingsLine(Scope::ProgramAndDBase, kOtherPassword)),
             AcceptStatus::Ok);
    const QString copyPath =
        h.paths().dataFolder() + "/chestward.sync-conflict-20261211-101500-ABCDEFG.cnf";
    writeBytes(copyPath, fileBytes(other.paths.config()));
    QTest::qWait(1500);
    QCOMPARE(h.messages.size(), 0);
    QVERIFY(QFile::exists(copyPath));
    h.promptEntries = {QString::fromLatin1(kOtherPassword)};
    QVERIFY(other.syncFileInto(h.paths(), "CW2DB.edb"));
    QTRY_COMPARE(h.promptsAnswered, 2);
    QTRY_COMPARE(h.names(), serviceNames(kOurs));
    QVERIFY(!h.messages.isEmpty());
    QCOMPARE(h.messages.back().text, kSettingsTakenFromCopyText);
    QCOMPARE(fileBytes(h.paths().config()), fileBytes(other.paths.config()));
    QVERIFY(!QFile::exists(copyPath));
    h.fill({"new", "n", "pw"});
    w.add();
    QCOMPARE(h.copyFile(), copyBytes(kOurs + QList<QByteArray>{"new:!n:!pw:!:!"}, kOtherPassword));
}

void TestOnDisk::settingsSetAsideToldAgainAfterALock() {
    // A lock answers the message for the user, who has read nothing: the copy
    // stays until it is told again after the unlock.
    Harness h(true);
    writeSettings(h.paths(), kNeverExpires, "key7", 2);
    QCOMPARE(RewriteDatabase(h.paths(), Scope::ProgramOnly, kOurs, "key7"), StoreStatus::Ok);
    const QString copyPath = h.paths().dataFolder() + "/chestward (conflicted copy 2026-12-11).cnf";
    writeBytes(copyPath, SettingsFileContent(settingsLine(Scope::ProgramOnly, "new8")));
    QList<bool> copyThere;
    h.whileMessageShows = [&] {
        copyThere << QFile::exists(copyPath);
        if (copyThere.size() == 1)
            h.w().lockNow();
    };
    h.start({"key7", "key7"});
    QTRY_COMPARE(h.messages.size(), 2);
    QCOMPARE(h.promptsAnswered, 2);
    QCOMPARE(copyThere, (QList<bool>{true, true}));
    QCOMPARE(h.messages[1].text, h.messages[0].text);
    QVERIFY2(h.messages[1].text.contains("another master password"),
             qPrintable(h.messages[1].text));
    QVERIFY(!QFile::exists(copyPath));
    QTest::qWait(50);
    QCOMPARE(h.messages.size(), 2);
}

namespace {

// Another local account to own the planted files: made when the tests run as
// root, which alone can give a file away.
uid_t otherUser() {
    static const char name[] = "varnlock-other";
    if (const passwd *pw = ::getpwnam(name))
        return pw->pw_uid;
    QProcess::execute("useradd", {"--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                                  QString::fromLatin1(name)});
    const passwd *pw = ::getpwnam(name);
    return pw ? pw->pw_uid : 0;
}

} // namespace

void TestOnDisk::filesNotOursAloneStopTheStart() {
    // A store others may write (tst_session has every kind), or a settings
    // file the user can not read (mode 000; run as another user, who owns
    // the folder): the start stops with a message that names the file, and
    // writes nothing.
    if (const QByteArray folder = qgetenv("VARNLOCK_TEST_PROGRAM_FOLDER"); !folder.isEmpty()) {
        Harness h(false);
        h.folders.paths.programFolder = QString::fromLocal8Bit(folder);
        h.start();
        QCOMPARE(h.ended, 1);
        QCOMPARE(h.messages.size(), 1);
        QCOMPARE(h.messages[0].text, UnreadableSettingsText(h.paths().config()));
        return;
    }
    {
        Harness h(true);
        writeBytes(h.paths().database(), storeBytes(kOurs));
        QVERIFY(::chmod(QFile::encodeName(h.paths().database()).constData(), 0666) == 0);
        const auto before = snapshot(h.folders);
        h.start();
        QCOMPARE(h.ended, 1);
        QCOMPARE(h.messages.size(), 1);
        QVERIFY(h.messages[0].text.contains("other users may write to " + h.paths().database()));
        QCOMPARE(snapshot(h.folders), before);
    }
    if (::geteuid() != 0)
        QSKIP("dropping to another user needs root");
    const uid_t other = otherUser();
    const gid_t group = ::getpwuid(other)->pw_gid;
    TestFolders f;
    writeSettings(f.paths, kNeverExpires, "key7", 1);
    QCOMPARE(RewriteDatabase(f.paths, Scope::ProgramAndDBase, kOurs, "key7"), StoreStatus::Ok);
    for (const QString &path :
         {f.paths.programFolder, f.paths.dataFolder(), f.paths.config(), f.paths.copy()})
        QVERIFY(::chown(QFile::encodeName(path).constData(), other, group) == 0);
    QVERIFY(::chmod(QFile::encodeName(f.paths.config()).constData(), 0) == 0);
    QVERIFY(::chmod(QFile::encodeName(f.root.path()).constData(), 0755) == 0);
    // The test itself, where the other user may run it.
    const QString self = f.root.path() + "/tst_ondisk";
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), self));
    const auto before = snapshot(f);

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VARNLOCK_TEST_PROGRAM_FOLDER", f.paths.programFolder);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", f.root.path());
    env.remove("XDG_RUNTIME_DIR");
    child.setProcessEnvironment(env);
    child.setChildProcessModifier([other, group] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(group) != 0 || ::setuid(other) != 0)
            ::_exit(99);
    });
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(self, {"filesNotOursAloneStopTheStart"});
    QVERIFY(child.waitForFinished(60000));
    QVERIFY2(child.exitCode() == 0, child.readAll().constData());
    QCOMPARE(snapshot(f), before);
}

void TestOnDisk::plantedTemporaryFileIsNeverRead_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("othersOwn");
    for (const char *kind : {"plain file", "pipe", "link", "folder"})
        QTest::addRow("another user's %s", kind) << QString::fromLatin1(kind) << true;
    QTest::newRow("our own pipe") << "pipe" << false;
    QTest::newRow("our own plain file") << "plain file" << false;
    QTest::newRow("our own link") << "link" << false;
}

void TestOnDisk::plantedTemporaryFileIsNeverRead() {
    QFETCH(QString, kind);
    QFETCH(bool, othersOwn);
    const uid_t other = othersOwn ? (::geteuid() == 0 ? otherUser() : 0) : ::geteuid();
    if (othersOwn && other == 0)
        QSKIP("giving a file to another user needs root");

    Harness h(true);
    const StorePaths &paths = h.paths();
    QVERIFY(::chmod(QFile::encodeName(paths.tempFolder), 01777) == 0); // shared and sticky
    writeSettings(paths, kNeverExpires, "key7", 1);
    QCOMPARE(RewriteDatabase(paths, Scope::ProgramAndDBase, kOurs, "key7"), StoreStatus::Ok);

    // What an attacker would like us to load: records in the unpacked form.
    const QByteArray planted = storeBytes({"planted:!x:!y:!:!"});
    const QByteArray tempFile = QFile::encodeName(paths.tempFile());
    const QString victim = h.folders.root.path() + "/victim";
    if (kind == "plain file") {
        writeBytes(paths.tempFile(), planted);
    } else if (kind == "pipe") {
        QVERIFY(::mkfifo(tempFile, 0666) == 0);
    } else if (kind == "link") {
        writeBytes(victim, planted);
        QVERIFY(::symlink(QFile::encodeName(victim), tempFile) == 0);
    } else {
        QVERIFY(QDir().mkdir(paths.tempFile()));
    }
    QVERIFY(::lchown(tempFile, other, other) == 0);
    struct stat before {};
    QVERIFY(::lstat(tempFile, &before) == 0);

    // A start-up that opened the pipe would wait for ever: the alarm ends it.
    ::alarm(30);
    MainWindow &w = h.start({"key7"});
    h.clickRow(0);
    fieldEdit(w, Field::UserName)->setText("changed");
    w.replaceSelected();
    h.clickRow(1);
    w.removeSelected();
    ::alarm(0);

    QVERIFY(h.messages.isEmpty());
    const QList<QByteArray> expected{"alpha:!changed:!1:!:!"};
    QCOMPARE(h.w().records().toList(), expected);
    QCOMPARE(h.copyFile(), copyBytes(expected, "key7"));
    struct stat after {};
    const bool left = ::lstat(tempFile, &after) == 0;
    if (!othersOwn && kind == "plain file") {
        QVERIFY(!left); // our own stale file goes
    } else {
        QVERIFY(left);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_uid, before.st_uid);
        if (kind == "plain file")
            QCOMPARE(fileBytes(paths.tempFile()), planted);
    }
    if (kind == "link")
        QCOMPARE(fileBytes(victim), planted);
    h.start({"key7"});
    QCOMPARE(h.w().records().toList(), expected);
}

QTEST_MAIN(TestOnDisk)
#include "tst_ondisk.moc"
