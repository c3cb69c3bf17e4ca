#include "../common/guiharness.h"

#include "copymergewindow.h"
#include "database.h"
#include "earlierversionswindow.h"
#include "onetimecode.h"
#include "storecopies.h"
#include "strongstore.h"

#include <QAction>
#include <QClipboard>
#include <QDateTime>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTableWidget>

#include <cstdio>

// Copies of the store that sync tools leave beside it, met by the running
// window: merged, previewed, declined, refused; and the earlier versions a
// change leaves behind, brought back.

namespace {

const QList<QByteArray> kOurs{"alpha:!a:!1:!:!", "beta:!b:!2:!:!"};
const Strong::KdfParams kSmall{3, Strong::kMinMemory};

// Another computer with a copy of our Data: it makes its changes through a
// session of its own, and its store is then put into ours under name.
struct OtherComputer {
    TestFolders folders;
    explicit OtherComputer(const StorePaths &ours) {
        for (const QString &name : QDir(ours.dataFolder()).entryList(QDir::Files | QDir::Hidden))
            QFile::copy(ours.dataFolder() + '/' + name, folders.paths.dataFolder() + '/' + name);
    }
    std::unique_ptr<Session> open(const QString &password) {
        auto session = std::make_unique<Session>(folders.paths);
        session->open([&](Session &s) { return s.unlock(password) == Session::Unlock::Opened; });
        return session;
    }
    void leaveCopy(const StorePaths &ours, Scope scope, const QString &name) {
        QVERIFY(QFile::copy(StoreFile(folders.paths, scope), ours.dataFolder() + '/' + name));
    }
};

void startStrong(Harness &h) {
    QCOMPARE(WriteSettingsFile(h.paths(), settingsLine(Scope::Strong, {})), SettingsStatus::Ok);
    Strong::Keys keys;
    const std::vector<QByteArrayView> lines(kOurs.cbegin(), kOurs.cend());
    QCOMPARE(Strong::Create(h.paths().strongStore(), "pass word", kSmall, lines, keys),
             Strong::Status::Ok);
}

QAction *menuAction(MainWindow &w, const QString &text) {
    for (QAction *action : w.findChildren<QAction *>())
        if (action->text().remove('&') == text)
            return action;
    return nullptr;
}

} // namespace

class TestCopies : public QObject {
    Q_OBJECT
private slots:
    void syncToolsNamesAreKnown();
    void strongCopyIsMergedAtOnce_data();
    void strongCopyIsMergedAtOnce();
    void storeSetAsideForAMoment_data();
    void storeSetAsideForAMoment();
    void copyUnderAnotherPassphraseAsks_data();
    void copyUnderAnotherPassphraseAsks();
    void storeRekeyedElsewhereAsksForItsPassphrase_data();
    void storeRekeyedElsewhereAsksForItsPassphrase();
    void olderCopyIsPreviewed();
    void copyFailingItsChecksIsNamed();
    void earlierVersionComesBack();
    void oneTimeCodeShownCopiedAndSet();
};

void TestCopies::syncToolsNamesAreKnown() {
    const struct {
        const char *name;
        bool copy;
        Scope format;
    } rows[] = {
        {"CW2DB.sync-conflict-20261209-101500-ABCDEFG.sdb", true, Scope::Strong},
        {"CW2DB.sync-conflict-20261209-101500-7Q2KXYZ.pdb", true, Scope::ProgramOnly},
        {"CW2DB (conflicted copy 2026-12-09 101500).sdb", true, Scope::Strong},
        {"CW2DB (conflicted copy ann 2026-12-09 101500).edb", true, Scope::ProgramAndDBase},
        {"CW2DB (Ann's conflicted copy 2026-12-09).sdb", true, Scope::Strong},
        {"CW2DB (Ann's conflicted copy).pdb", true, Scope::ProgramOnly},
        {"CW2DB-conflict.sdb", true, Scope::Strong},
        {"CW2DB.sdb", false, Scope::Strong},
        {"CW2DB.sdb.new", false, Scope::Strong},
        {"CW2DB.sync-conflict-20261209-101500-ABCDEFG.txt", false, Scope::Strong},
        {"chestward.sync-conflict-20261209-101500-ABCDEFG.cnf", false, Scope::Strong},
        {"other (conflicted copy).sdb", false, Scope::Strong},
    };
    for (const auto &row : rows) {
        Scope format = Scope::None;
        QVERIFY2(IsStoreCopyName(QString::fromLatin1(row.name), &format) == row.copy, row.name);
        if (row.copy)
            QVERIFY2(format == row.format, row.name);
    }
    // Beside the plain store, the strong one is another protection's; a
    // folder with none finds nothing.
    TestFolders f;
    QCOMPARE(FindStoreCopies(f.paths, Scope::ProgramOnly).size(), size_t(0));
    writeBytes(f.paths.database(), "");
    writeBytes(f.paths.strongStore(), "x");
    writeBytes(f.paths.dataFolder() + "/CW2DB (conflicted copy 2026-12-09 101500).pdb", "");
    const std::vector<StoreCopy> found = FindStoreCopies(f.paths, Scope::ProgramOnly);
    QCOMPARE(found.size(), size_t(2));
    QVERIFY(!found[0].otherProtection && found[0].format == Scope::ProgramOnly);
    QVERIFY(found[1].otherProtection && found[1].path == f.paths.strongStore());
    // Once merged, a copy is removed only as it was found: a newer one the
    // sync tool put there meanwhile waits for a merge of its own.
    writeBytes(found[0].path, "newer");
    QVERIFY(!RemoveMergedCopy(found[0]));
    QVERIFY(QFile::exists(found[0].path));
    QVERIFY(RemoveMergedCopy(FindStoreCopies(f.paths, Scope::ProgramOnly)[0]));
    QVERIFY(!QFile::exists(found[0].path));
}

void TestCopies::strongCopyIsMergedAtOnce_data() {
    QTest::addColumn<bool>("beforeStart");
    QTest::newRow("found at start-up") << true;
    QTest::newRow("arriving while the window is up") << false;
}

void TestCopies::strongCopyIsMergedAtOnce() {
    // Each side changed the store apart; the other side's file came back as
    // a Syncthing conflict copy. It is merged, written, then removed, and the
    // window says what came in.
    QFETCH(bool, beforeStart);
    Harness h(true);
    startStrong(h);
    OtherComputer other(h.paths());
    {
        const auto there = other.open("pass word");
        QCOMPARE(there->add("gamma:!g:!3:!:!"), SessionStatus::Ok);
        QCOMPARE(there->replace(1, "beta:!b:!22:!:!", nullptr), SessionStatus::Ok);
        QCOMPARE(there->add("delta:!d:!4:!:!"), SessionStatus::Ok);
    }
    const QString name = "CW2DB.sync-conflict-20261209-101500-ABCDEFG.sdb";
    const QString copy = h.paths().dataFolder() + '/' + name;
    if (beforeStart)
        other.leaveCopy(h.paths(), Scope::Strong, name);
    MainWindow &w = h.start({"pass word"});
    if (!beforeStart) {
        // Also gamma, as typed there: one record, once merged.
        for (const QStringList &typed : {QStringList{"epsilon", "e", "5"}, {"gamma", "g", "3"}}) {
            h.fill(typed);
            w.add();
        }
        other.leaveCopy(h.paths(), Scope::Strong, name);
    }
    QTRY_COMPARE_WITH_TIMEOUT(h.messages.size(), 1, 10000);
    QCOMPARE(h.messages[0].text, QString(beforeStart ? "2 records" : "1 record") +
                                     " added and 1 changed from a copy made on another computer (" +
                                     name + ").");
    QCOMPARE(h.details[0],
             QString(beforeStart ? "Added: delta (d)\nAdded: gamma (g)\nChanged: beta (b)"
                                 : "Added: delta (d)\nChanged: beta (b)"));
    QTRY_VERIFY(!QFile::exists(copy));
    QList<QByteArray> expected{"alpha:!a:!1:!:!", "beta:!b:!22:!:!", "delta:!d:!4:!:!",
                               "gamma:!g:!3:!:!"};
    if (!beforeStart)
        expected << "epsilon:!e:!5:!:!";
    expected = RecordList(expected).toList();
    QCOMPARE(w.records().toList(), expected);
    QCOMPARE(strongRecords(h.paths().strongStore(), "pass word"), expected);
    // The version the merge replaced is kept.
    QCOMPARE(w.session().earlierVersions(1).size(), size_t(1));
    QCOMPARE(w.session().earlierVersions(1)[0].line, QByteArray("beta:!b:!2:!:!"));
}

void TestCopies::storeSetAsideForAMoment_data() {
    QTest::addColumn<bool>("slow");
    QTest::newRow("the winner at once") << false;
    QTest::newRow("the winner after a while") << true;
}

void TestCopies::storeSetAsideForAMoment() {
    // A sync tool settling a conflict renames the store to its conflict copy,
    // then puts the winner in its place. In between nothing is merged (there
    // is no store to merge into; a gap long enough to be seen is said to be a
    // wait), and once the winner is in, the copy is merged into it and removed.
    QFETCH(bool, slow);
    Harness h(true);
    startStrong(h);
    OtherComputer other(h.paths());
    {
        const auto there = other.open("pass word");
        QCOMPARE(there->add("gamma:!g:!3:!:!"), SessionStatus::Ok);
    }
    MainWindow &w = h.start({"pass word"});
    h.fill({"delta", "d", "4"});
    w.add();
    QVERIFY2(h.messages.isEmpty(), qPrintable(h.messages.value(0).text));
    const QString copy =
        h.paths().dataFolder() + "/CW2DB.sync-conflict-20261211-101500-ABCDEFG.sdb";
    const QString arriving = h.paths().dataFolder() + "/.syncthing.CW2DB.sdb.tmp";
    QVERIFY(QFile::copy(StoreFile(other.folders.paths, Scope::Strong), arriving));
    QVERIFY(QFile::rename(h.paths().strongStore(), copy));
    if (slow) { // the gap seen by the window: a wait is said, with the copy named
        QTRY_COMPARE_WITH_TIMEOUT(h.messages.size(), 1, 10000);
        QCOMPARE(h.messages[0].icon, QMessageBox::Warning);
        QVERIFY2(h.messages[0].text.contains(
                     "and CW2DB.sync-conflict-20261211-101500-ABCDEFG.sdb, a sync tool's copy"),
                 qPrintable(h.messages[0].text));
        h.messages.clear();
    }
    QVERIFY(QFile::rename(arriving, h.paths().strongStore()));
    const QList<QByteArray> all =
        RecordList({"alpha:!a:!1:!:!", "beta:!b:!2:!:!", "delta:!d:!4:!:!", "gamma:!g:!3:!:!"})
            .toList();
    QTRY_COMPARE_WITH_TIMEOUT(w.records().toList(), all, 10000);
    QTRY_VERIFY(!QFile::exists(copy));
    QCOMPARE(strongRecords(h.paths().strongStore(), "pass word"), all);
    QCOMPARE(h.messages.size(), 1);
    QVERIFY2(h.messages[0].text.startsWith("1 record added and 0 changed"),
             qPrintable(h.messages[0].text));
}

void TestCopies::copyUnderAnotherPassphraseAsks_data() {
    QTest::addColumn<QByteArray>("theirs"); // the other computer's passphrase
    QTest::addColumn<bool>("take");         // the answer to taking it here
    QTest::newRow("a new passphrase, taken") << QByteArray("new words") << true;
    QTest::newRow("a new passphrase, declined") << QByteArray("new words") << false;
    QTest::newRow("the same one, derived anew") << QByteArray("pass word") << true;
}

void TestCopies::copyUnderAnotherPassphraseAsks() {
    // The other computer has a new passphrase: its copy asks for it; a wrong
    // one asks again, the right one merges. Then the store here is offered
    // that passphrase: kept silently, the change made there would come undone
    // when this store syncs back under the old one.
    QFETCH(QByteArray, theirs);
    QFETCH(bool, take);
    Harness h(true);
    startStrong(h);
    OtherComputer other(h.paths());
    Strong::Keys keys, next;
    Strong::Opened opened;
    const QString copyFile = StoreFile(other.folders.paths, Scope::Strong);
    QCOMPARE(Strong::Open(copyFile, "pass word", keys, opened), Strong::Status::Ok);
    const std::vector<QByteArrayView> lines{"alpha:!a:!1:!:!", "zeta:!z:!9:!:!"};
    QCOMPARE(Strong::Rewrite(copyFile, keys, lines), Strong::Status::Ok);
    QCOMPARE(Strong::ChangePassword(copyFile, keys, theirs, kSmall, next), Strong::Status::Ok);
    h.copyPasswords = {"not it", QString::fromUtf8(theirs)};
    h.confirmAnswers = {take};
    other.leaveCopy(h.paths(), Scope::Strong, "CW2DB (conflicted copy 2026-12-09 101500).sdb");
    QCOMPARE(WriteSettingsFile(h.paths(), BuildSettingsLine("03-01-2027", StrongSettingsPassword(),
                                                            "12-01-2026", Scope::Strong)),
             SettingsStatus::Ok);
    MainWindow &w = h.start({"pass word"});
    QTRY_COMPARE_WITH_TIMEOUT(h.messages.size(), 1, 10000);
    const bool asked = theirs != "pass word";
    QTRY_COMPARE(h.questions.size(), asked ? 3 : 2);
    QVERIFY(h.questions[1].text.startsWith("That is not the password of the copy"));
    QVERIFY(h.messages[0].text.startsWith("1 record added and 0 changed"));
    if (asked)
        QVERIFY(h.questions[2].text.contains(
            "Should the records here take the passphrase you just typed?"));
    QCOMPARE(w.records().size(), 3);
    // On disk the records open with the passphrase chosen, and only with it;
    // the window goes on writing under it, and the expiry stays.
    const QByteArray here = asked && take ? theirs : QByteArray("pass word");
    QCOMPARE(strongRecords(h.paths().strongStore(), here).size(), 3);
    if (asked)
        QCOMPARE(strongRecords(h.paths().strongStore(), take ? "pass word" : theirs),
                 QList<QByteArray>{"<unreadable>"});
    h.fill({"omega", "o", "7"});
    w.add();
    QCOMPARE(strongRecords(h.paths().strongStore(), here).size(), 4);
    QByteArray settings;
    QCOMPARE(ReadSettingsFile(h.paths(), settings), SettingsStatus::Ok);
    QCOMPARE(ParseSettingsLine(settings).expiry, QByteArray("03-01-2027"));
    QCOMPARE(ParseSettingsLine(settings).scope, Scope::Strong);
}

void TestCopies::storeRekeyedElsewhereAsksForItsPassphrase_data() {
    QTest::addColumn<bool>("lockMeanwhile");
    QTest::newRow("asked") << false;
    QTest::newRow("the lock coming while it is said") << true;
}

void TestCopies::storeRekeyedElsewhereAsksForItsPassphrase() {
    // Another computer chose a new passphrase and stored a record; its store
    // comes in whole. The window says why and asks for that passphrase (the
    // old one is wrong now), lists every record, and writes on under it; what
    // was typed in the fields meanwhile stays. A lock that comes while it is
    // said asks for it in its place: once, not twice.
    QFETCH(bool, lockMeanwhile);
    Harness h(true);
    startStrong(h);
    OtherComputer other(h.paths());
    const QString theirs = StoreFile(other.folders.paths, Scope::Strong);
    Strong::Keys keys, next;
    Strong::Opened opened;
    QCOMPARE(Strong::Open(theirs, "pass word", keys, opened), Strong::Status::Ok);
    const QList<QByteArray> all{"alpha:!a:!1:!:!", "beta:!b:!2:!:!", "zeta:!z:!9:!:!"};
    QCOMPARE(Strong::Rewrite(theirs, keys, std::vector<QByteArrayView>(all.cbegin(), all.cend())),
             Strong::Status::Ok);
    QCOMPARE(Strong::ChangePassword(theirs, keys, "new words", kSmall, next), Strong::Status::Ok);
    MainWindow &w = h.start({"pass word"});
    h.fill({"typed", "t", "1"});
    h.promptEntries = {"pass word", "new words", "new words"};
    if (lockMeanwhile)
        h.whileMessageShows = [&h] { h.w().lockNow(); };
    const QString arriving = h.paths().dataFolder() + "/.syncthing.CW2DB.sdb.tmp";
    QVERIFY(QFile::copy(theirs, arriving));
    QCOMPARE(std::rename(QFile::encodeName(arriving).constData(),
                         QFile::encodeName(h.paths().strongStore()).constData()),
             0); // in one step, as a sync tool puts it in
    QTRY_COMPARE_WITH_TIMEOUT(w.records().toList(), all, 10000);
    QCOMPARE(h.promptsAnswered, 3); // the start's, the old one, the new one
    QTest::qWait(100);
    QCOMPARE(h.promptsAnswered, 3);
    QCOMPARE(h.messages.size(), 1);
    QCOMPARE(h.messages[0].text, kStoreRekeyedElsewhereText);
    QCOMPARE(h.ended, 0);
    QCOMPARE(h.fields()[0], QStringLiteral("typed"));
    w.add();
    QCOMPARE(strongRecords(h.paths().strongStore(), "new words"),
             RecordList(all + QList<QByteArray>{"typed:!t:!1:!:!"}).toList());
}

void TestCopies::olderCopyIsPreviewed() {
    // A plain store's conflict copy carries no ids: nothing is decided for
    // the user. Cancel keeps the copy and does not ask again until it
    // changes; the choices, once stored, remove it.
    Harness h(true);
    QCOMPARE(WriteSettingsFile(h.paths(), settingsLine(Scope::ProgramOnly, "key7")),
             SettingsStatus::Ok);
    QCOMPARE(RewriteDatabase(h.paths(), Scope::ProgramOnly, kOurs, "key7"), StoreStatus::Ok);
    TestFolders elsewhere;
    const QList<QByteArray> theirs{"alpha:!a:!1:!:!", "beta:!b:!other:!:!", "gamma:!g:!3:!:!",
                                   "delta:!d:!4:!:!"};
    QCOMPARE(RewriteDatabase(elsewhere.paths, Scope::ProgramOnly, theirs, "key7"), StoreStatus::Ok);
    const QString copy = h.paths().dataFolder() + "/CW2DB (Ann's conflicted copy 2026-12-09).pdb";
    QVERIFY(QFile::copy(elsewhere.paths.database(), copy));
    // The lock coming while the preview is up answers it for the user: that
    // decides nothing, and the copy is offered again once unlocked.
    h.onDialog = [&h](QDialog &) {
        if (h.dialogs.size() == 1) {
            h.promptEntries = {"key7"};
            h.w().lockNow();
        }
        return int(QDialog::Rejected);
    };
    MainWindow &w = h.start({"key7"});
    QTRY_COMPARE(h.dialogs.size(), 2);
    QCOMPARE(h.dialogs, QStringList({"copyMergeWindow", "copyMergeWindow"}));
    QCOMPARE(h.promptsAnswered, 2);
    QVERIFY(QFile::exists(copy));
    QCOMPARE(w.records().toList(), kOurs);
    // Data changes for another reason: the declined copy is not asked about again.
    writeBytes(h.paths().dataFolder() + "/note", "");
    QTest::qWait(600);
    QCOMPARE(h.dialogs.size(), 2);

    // Changed again by the sync: asked again. In list order: take the
    // copy's beta, leave delta out, add gamma.
    h.onDialog = [](QDialog &dialog) {
        auto &preview = static_cast<CopyMergeWindow &>(dialog);
        if (part<QLabel>(&preview, "copySummary")->textFormat() != Qt::PlainText)
            return int(QDialog::Rejected); // the copy's name is text, never markup
        if (preview.offered() != 3)
            return int(QDialog::Rejected);
        preview.setChoice(0, CopyMergeWindow::Choice::TakeCopy);
        preview.setChoice(1, CopyMergeWindow::Choice::LeaveOut);
        return int(QDialog::Accepted);
    };
    QFile::remove(copy);
    QVERIFY(QFile::copy(elsewhere.paths.database(), copy));
    QTRY_COMPARE(h.dialogs.size(), 3);
    QTRY_VERIFY(!QFile::exists(copy));
    const QList<QByteArray> expected{"alpha:!a:!1:!:!", "beta:!b:!other:!:!", "gamma:!g:!3:!:!"};
    QCOMPARE(w.records().toList(), expected);
    RecordList stored;
    QCOMPARE(LoadDatabase(h.paths(), Scope::ProgramOnly, "key7", stored), StoreStatus::Ok);
    QCOMPARE(stored.toList(), expected);

    // A strong store of before a change of protection: its records come with
    // their one-time codes, in Other Info, where this store keeps them.
    const QByteArray uri = "otpauth://totp/otp:o?secret=JBSWY3DPEHPK3PXP";
    const std::vector<QByteArrayView> strongLines{"otp:!o:!5:!two-step:!"};
    std::vector<RecordMeta> meta{NewRecordMeta()};
    meta[0].oneTimeCode = uri;
    Strong::Keys keys;
    QCOMPARE(Strong::Create(elsewhere.paths.strongStore(), "pass word", kSmall,
                            {strongLines, meta, {}}, keys),
             Strong::Status::Ok);
    h.copyPasswords = {"pass word"};
    h.onDialog = [](QDialog &) { return int(QDialog::Accepted); };
    QVERIFY(QFile::copy(elsewhere.paths.strongStore(), h.paths().strongStore()));
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(h.paths().strongStore()), 15000);
    QCOMPARE(w.records().toList(),
             expected + QList<QByteArray>{"otp:!o:!5:!two-step " + uri + ":!"});
    QCOMPARE(w.session().oneTimeCode(3), uri);
}

void TestCopies::copyFailingItsChecksIsNamed() {
    // A damaged copy is never merged: it is named, kept, and our store stays
    // byte for byte.
    Harness h(true);
    startStrong(h);
    QByteArray damaged = fileBytes(h.paths().strongStore());
    damaged[damaged.size() - 5] = char(damaged[damaged.size() - 5] ^ 0x01);
    const QString copy = h.paths().dataFolder() + "/CW2DB-conflict.sdb";
    writeBytes(copy, damaged);
    const QByteArray before = fileBytes(h.paths().strongStore());
    MainWindow &w = h.start({"pass word"});
    QTRY_COMPARE_WITH_TIMEOUT(h.messages.size(), 1, 10000);
    QVERIFY2(h.messages[0].text.contains("CW2DB-conflict.sdb") &&
                 h.messages[0].text.contains("was not merged"),
             qPrintable(h.messages[0].text));
    QVERIFY(QFile::exists(copy));
    QCOMPARE(fileBytes(h.paths().strongStore()), before);
    QCOMPARE(w.records().toList(), kOurs);

    // Beside a weaker store, a strong store's name on a file that is none
    // (cut short by a sync, say) asks for no passphrase.
    Harness weak(true);
    QCOMPARE(WriteSettingsFile(weak.paths(), settingsLine(Scope::ProgramOnly, "key7")),
             SettingsStatus::Ok);
    QCOMPARE(RewriteDatabase(weak.paths(), Scope::ProgramOnly, kOurs, "key7"), StoreStatus::Ok);
    const QString cut = weak.paths().dataFolder() + "/CW2DB.sync-conflict-20261209-1.sdb";
    writeBytes(cut, damaged.left(7));
    weak.start({"key7"});
    QTRY_COMPARE_WITH_TIMEOUT(weak.messages.size(), 1, 10000);
    QVERIFY2(weak.messages[0].text.contains("was not merged: it is not a Varnlock store"),
             qPrintable(weak.messages[0].text));
    QCOMPARE(weak.questions.size(), 0);
    QVERIFY(QFile::exists(cut));
}

void TestCopies::earlierVersionComesBack() {
    // A replaced record's old version is there to bring back, and bringing
    // it back keeps the version it replaces.
    Harness h(true);
    startStrong(h);
    MainWindow &w = h.start({"pass word"});
    h.clickRow(1);
    fieldEdit(w, Field::Password)->setText("changed");
    w.replaceSelected();
    QCOMPARE(w.records().line(1), QByteArrayView("beta:!b:!changed:!:!"));
    h.onDialog = [](QDialog &dialog) {
        auto &versions = static_cast<EarlierVersionsWindow &>(dialog);
        versions.choose(0);
        return int(QDialog::Accepted);
    };
    QAction *action = menuAction(w, QString::fromUtf8("Earlier versions\u2026"));
    QVERIFY(action);
    action->trigger();
    QCOMPARE(h.dialogs, QStringList{"earlierVersionsWindow"});
    QCOMPARE(w.records().line(1), QByteArrayView("beta:!b:!2:!:!"));
    QCOMPARE(w.session().earlierVersions(1)[0].line, QByteArray("beta:!b:!changed:!:!"));
    QCOMPARE(strongRecords(h.paths().strongStore(), "pass word"), kOurs);

    // The versions differ only in their passwords, which are never shown:
    // the Password column tells them apart, the same one numbered alike.
    fieldEdit(w, Field::Password)->setText("third");
    w.replaceSelected();
    QStringList marks;
    h.onDialog = [&marks](QDialog &dialog) {
        const auto *rows = dialog.findChild<QTableWidget *>("versionRows");
        marks << rows->horizontalHeaderItem(3)->text();
        for (int r = 0; r < rows->rowCount(); ++r)
            marks << rows->item(r, 3)->text();
        return int(QDialog::Rejected);
    };
    action->trigger();
    QCOMPARE(marks, (QStringList{"Password", "another (1)", "another (2)", "another (1)"}));
    fieldEdit(w, Field::Password)->setText("changed");
    w.replaceSelected();
    marks.clear();
    action->trigger();
    QCOMPARE(marks,
             (QStringList{"Password", "another (1)", "another (2)", "as now", "another (2)"}));
}

void TestCopies::oneTimeCodeShownCopiedAndSet() {
    // Set from a pasted address, shown and copied, kept on disk through a
    // restart and a change of the record; under the older protections in
    // Other Info, and said so; brought back with the version that had it.
    const QByteArray uri = "otpauth://totp/x?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ";
    const std::optional<OneTimeCode> code = ParseOneTimeCodeUri(uri, nullptr);
    QVERIFY(code);
    for (const bool strong : {true, false}) {
        Harness h(true);
        if (strong)
            startStrong(h);
        else
            writeBytes(h.paths().database(), storeBytes(kOurs));
        MainWindow &w = h.start(strong ? QStringList{"pass word"} : QStringList{});
        auto *shown = w.findChild<QPushButton *>("oneTimeCode");
        QVERIFY(shown);
        h.clickRow(1);
        QVERIFY(!shown->isVisible());
        QAction *set = menuAction(w, QString::fromUtf8("One-time code\u2026"));
        QAction *copy = menuAction(w, "Copy one-time code");
        QVERIFY(set && copy);
        QCOMPARE(copy->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_T));
        // A malformed secret is refused, naming what is wrong.
        h.copyPasswords = {"otpauth://totp/x?secret=GEZ1"};
        set->trigger();
        QVERIFY(h.messages.last().text.contains("The one-time code was not set: the secret is "
                                                "not Base32"));
        QVERIFY(w.session().oneTimeCode(1).isEmpty());
        h.copyPasswords = {QString::fromLatin1(uri)};
        const qsizetype said = h.messages.size();
        set->trigger();
        QCOMPARE(w.session().oneTimeCode(1), uri);
        QCOMPARE(h.messages.size() > said, !strong); // Other Info holds it: said so
        QVERIFY(shown->isVisible());
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QVERIFY2(shown->text().startsWith(QString::fromLatin1(CodeAt(*code, now))) ||
                     shown->text().startsWith(QString::fromLatin1(CodeAt(*code, now - 1))),
                 qPrintable(shown->text()));
        copy->trigger();
        const QString copied = QGuiApplication::clipboard()->text();
        QVERIFY2(copied == CodeAt(*code, QDateTime::currentSecsSinceEpoch()) ||
                     copied == CodeAt(*code, now),
                 qPrintable(copied));
        QCOMPARE(fieldEdit(w, Field::OtherInfo)->text(),
                 strong ? QString() : QString::fromLatin1(uri));
        // Read back from disk, kept through a change of the record.
        MainWindow &again = h.start(strong ? QStringList{"pass word"} : QStringList{});
        h.clickRow(1);
        fieldEdit(again, Field::Password)->setText("changed");
        if (!strong)
            fieldEdit(again, Field::OtherInfo)->setText("note " + QString::fromLatin1(uri));
        again.replaceSelected();
        QCOMPARE(again.session().oneTimeCode(1), uri);
        if (!strong)
            continue;
        // Taken away, then brought back with the version that had it.
        h.copyPasswords = {""};
        menuAction(again, QString::fromUtf8("One-time code\u2026"))->trigger();
        QVERIFY(again.session().oneTimeCode(1).isEmpty());
        h.onDialog = [](QDialog &dialog) {
            static_cast<EarlierVersionsWindow &>(dialog).choose(0);
            return int(QDialog::Accepted);
        };
        menuAction(again, QString::fromUtf8("Earlier versions\u2026"))->trigger();
        QCOMPARE(again.session().oneTimeCode(1), uri);
        QCOMPARE(again.records().line(1), QByteArrayView("beta:!b:!changed:!:!"));

        // A code of any length is shown whole, in a smaller font where it
        // must be, never cut off at both ends.
        auto *button = again.findChild<QPushButton *>("oneTimeCode");
        const double fullSize = button->font().pointSizeF();
        QStyleOptionButton option;
        option.initFrom(button);
        option.features = QStyleOptionButton::Flat;
        const int room =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
        for (const char *parameters : {"&digits=10", "&digits=8", "&encoder=steam", ""}) {
            h.copyPasswords = {QString::fromLatin1(uri) + parameters};
            menuAction(again, QString::fromUtf8("One-time code\u2026"))->trigger();
            const QString digits = button->text().section(u'\n', 0, 0);
            QVERIFY2(QFontMetrics(button->font()).horizontalAdvance(digits) <= room &&
                         button->font().pointSizeF() >= 6,
                     qPrintable(digits));
            if (*parameters == '\0')
                QCOMPARE(button->font().pointSizeF(), fullSize); // six fit as they are
        }
    }
}

QTEST_MAIN(TestCopies)
#include "tst_copies.moc"
