#include "../common/testfolders.h"

#include "breachlist.h"
#include "healthmarks.h"
#include "passwordhealth.h"
#include "recordline.h"
#include "reencipher.h"
#include "session.h"
#include "sessionhealth.h"
#include "strongstore.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <sys/stat.h>

// The password health report: what it finds wrong, in which order, what it
// leaves out; the breach list read in pieces; the marks kept beside the store.

namespace {

const QDate kToday(2026, 12, 9);
const Strong::KdfParams kSmall{3, Strong::kMinMemory};

// One line per listed record: "service: concern concern ...".
QStringList Listed(const HealthReport &report, std::span<const HealthRecord> records) {
    QStringList out;
    for (const RecordHealth &row : report.rows) {
        QStringList concerns;
        for (const Concern concern : kConcerns)
            if (row.has(concern))
                concerns << QLatin1String(ConcernName(concern));
        out << QString::fromLatin1(ServiceName(records[size_t(row.index)].line)) + ": " +
                   concerns.join(' ');
    }
    return out;
}

std::unique_ptr<Session> OpenStrong(const TestFolders &f, const QList<QByteArray> &records) {
    if (WriteSettingsFile(f.paths, settingsLine(Scope::Strong, {})) != SettingsStatus::Ok)
        return nullptr;
    Strong::Keys keys;
    const std::vector<QByteArrayView> lines(records.cbegin(), records.cend());
    if (Strong::Create(f.paths.strongStore(), "pass word", kSmall, lines, keys) !=
        Strong::Status::Ok)
        return nullptr;
    auto session = std::make_unique<Session>(f.paths);
    session->open([](Session &s) { return s.unlock("pass word") == Session::Unlock::Opened; });
    return session;
}

} // namespace

class TestHealth : public QObject {
    Q_OBJECT
private slots:
    void pinnedReport();
    void ownWordsAreTriedFirst();
    void leavingWordsOutChangesNoEstimate();
    void masterPasswordStates_data();
    void masterPasswordStates();
    void breachListReadInPieces();
    void breachListProblems();
    void marksHoldNoNames();
    void passwordAgeFromVersions();
    void marksFollowTheRecord();
};

void TestHealth::pinnedReport() {
    const HealthRecord records[] = {
        {"Mail:!ann@example.org:!password1:!:!", {}, false},
        {"Bank:!ann@example.org:!password1:!:!", {}, false},
        {"Forum:!bob:!forumbob:!:!", {}, false},
        {"Shop:!carl:!Kq7vX2pL9wZ3rT8m:!:!", QDate(2025, 6, 1), false},
        {"Work:!dana:!Hj4kL8mN2pQ6rS9t:!:!", QDate(2026, 1, 1), false},
        {"Games:!eve:!weakpw:!:!", {}, true},
        {"Empty:!frank:!:!:!", {}, false},
        {"Yearday:!gil:!Zx9Cv8Bn7Mm6Lk5JqW3e:!:!", QDate(2025, 12, 8), false},
        {"Anniversary:!hal:!Pn6Tg2Wq8Zk4Rx7Vb:!:!", QDate(2025, 12, 9), false},
    };
    const HealthReport report = BuildHealthReport(records, kToday);
    // Worst first: reuse outranks what is only weak, old comes last, and
    // among equals the weaker one first. A year to the day is not old yet.
    QCOMPARE(Listed(report, records),
             QStringList({"Mail: weak reused short", "Bank: weak reused short", "Forum: weak short",
                          "Shop: old", "Yearday: old"}));
    QCOMPARE(report.checked, 8);
    QCOMPARE(report.notAConcern, 1);
    QCOMPARE(HealthSummaryText(report),
             QStringLiteral("8 passwords checked: 3 weak, 2 reused, 3 short, 2 old. 1 marked "
                            "not a concern."));
    const RecordName name = [&](qsizetype i) {
        return QString::fromLatin1(ServiceName(records[size_t(i)].line));
    };
    QVERIFY(QRegularExpression("^weak \\(about [0-9]+ guesses\\), reused with Bank, short \\(9 "
                               "characters\\)$")
                .match(ConcernsText(report.rows[0], name))
                .hasMatch());
    QCOMPARE(ConcernsText(report.rows[3], name), "old (unchanged since 06-01-2025)");

    // A breach outranks everything; without ages known, "old" is not counted.
    std::vector<bool> breached(std::size(records), false);
    breached[4] = true;
    HealthRecord undated[std::size(records)];
    std::copy(std::begin(records), std::end(records), undated);
    for (HealthRecord &record : undated)
        record.passwordSince = {};
    const HealthReport withList = BuildHealthReport(undated, kToday, &breached);
    QCOMPARE(Listed(withList, undated).first(), "Work: breached");

    // A password on thousands of records: each counts them all, names a few.
    std::vector<QByteArray> lines;
    for (int i = 0; i < 2000; ++i)
        lines.push_back("s" + QByteArray::number(i) + ":!u:!changeme:!:!");
    std::vector<HealthRecord> many(lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        many[i].line = lines[i];
    const HealthReport shared = BuildHealthReport(many, kToday);
    QCOMPARE(shared.rows.size(), size_t(2000));
    QVERIFY(std::all_of(shared.rows.begin(), shared.rows.end(), [](const RecordHealth &row) {
        return row.sharedCount == 1999 && row.sharedWith.size() == kSharersNamed;
    }));
    QVERIFY(ConcernsText(shared.rows[0], [](qsizetype) {
                return QString("x");
            }).contains("reused with x, x, x and 1996 more"));
    QCOMPARE(HealthSummaryText(withList),
             QStringLiteral("8 passwords checked: 1 breached, 3 weak, 2 reused, 3 short. 1 "
                            "marked not a concern."));
    const HealthRecord one[] = {{"One:!x:!a:!:!", {}, false}};
    QVERIFY(
        ConcernsText(BuildHealthReport(one, kToday).rows[0], name).endsWith("short (1 character)"));
}

void TestHealth::ownWordsAreTriedFirst() {
    // The same password is weak for the record it spells and strong enough
    // for any other; a random one of 16 characters is neither weak nor short.
    const QByteArrayView own[] = {"Forum", "bob@example.org"};
    const double forTheRecord = PasswordStrengthBits("ForumBob2024", own);
    const double forAnother = PasswordStrengthBits("ForumBob2024", {});
    QVERIFY2(forTheRecord < kWeakBits && forAnother > forTheRecord + 10,
             qPrintable(QString("%1 / %2 bits").arg(forTheRecord).arg(forAnother)));
    QVERIFY(PasswordStrengthBits("mur0f", own) <
            PasswordStrengthBits("mur0f", {})); // backwards, leet
    QVERIFY(PasswordStrengthBits("Kq7vX2pL9wZ3rT8m", own) > kWeakBits);
}

void TestHealth::leavingWordsOutChangesNoEstimate() {
    // Words that can not be in a password are left out for speed: passwords
    // made of pieces of the words, backwards, in other case and with digits
    // for letters, give exactly what the estimate with every word gives.
    const QByteArrayView own[] = {"Gmail Account", "john.smith@example.org"};
    const char *const pieces[] = {"gmail",   "GMail", "liamg", "gm4il", "6mail", "john",
                                  "J0HN",    "nhoj",  "smith", "$mith", "5m1th", "account",
                                  "acc0unt", "ex",    "ample", "org",   "@",     ".",
                                  "1",       "!",     "2020",  "Zq",    "x",     "ai"};
    QRandomGenerator random(42);
    for (int i = 0; i < 3000; ++i) {
        QByteArray password;
        for (int n = 1 + int(random.bounded(4)); n > 0; --n)
            password += pieces[random.bounded(int(std::size(pieces)))];
        const double quick = PasswordStrengthBits(password, own);
        const double full = PasswordStrengthBits(password, own, WordsGiven::Always);
        QVERIFY2(quick == full, password.constData());
    }
}

void TestHealth::masterPasswordStates_data() {
    QTest::addColumn<bool>("hasPassword");
    QTest::addColumn<QByteArray>("expiry");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    using State = MasterPasswordHealth::State;
    QTest::newRow("none") << false << QByteArray("01-01-2020") << int(State::None)
                          << "No master password protects the records.";
    QTest::newRow("never") << true << QByteArray(kNeverExpires) << int(State::NeverExpires)
                           << "The master password never expires.";
    QTest::newRow("expired") << true << QByteArray("12-08-2026") << int(State::Expired)
                             << "The master password expired on 12-08-2026.";
    QTest::newRow("today") << true << QByteArray("12-09-2026") << int(State::ExpiresToday)
                           << "The master password expires today.";
    QTest::newRow("in 14 days") << true << QByteArray("12-23-2026") << int(State::ExpiresSoon)
                                << "The master password expires soon, on 12-23-2026.";
    QTest::newRow("in 15 days") << true << QByteArray("12-24-2026") << int(State::Expires)
                                << "The master password expires on 12-24-2026.";
    QTest::newRow("next year, earlier month")
        << true << QByteArray("01-05-2027") << int(State::Expires)
        << "The master password expires on 01-05-2027.";
}

void TestHealth::masterPasswordStates() {
    QFETCH(bool, hasPassword);
    QFETCH(QByteArray, expiry);
    QFETCH(int, state);
    QFETCH(QString, text);
    const MasterPasswordHealth health = CheckMasterPassword(hasPassword, expiry, kToday);
    QCOMPARE(int(health.state), state);
    QCOMPARE(MasterPasswordText(health), text);
}

void TestHealth::breachListReadInPieces() {
    // The hashes as the lists write them: upper or lower case, with a count
    // or without, CR LF or LF, the last line unended; a hash across the edge
    // of the first piece read; lines that hold no hash skipped. A password is
    // hashed as its UTF-8 text, whatever bytes the store keeps.
    QCOMPARE(BreachHashHex("p\xe4ssword"), "23B74494475F5F874980B7676D511E23D886DA64");
    const QByteArray passwords[] = {"password", "p\xe4ssword", "\x80uro",
                                    "straddle", "absent",      "password"};
    QByteArray list = "# a comment, not a hash\r\n"
                      "5baa61e4c9b93f3f0682250b6cf8331b7ee68fd8\n" +
                      QByteArray(5000, 'x') + "\r\n";
    QByteArray filler;
    for (int i = 0; filler.size() < (1 << 20) + 100; ++i)
        filler += BreachHashHex("filler " + QByteArray::number(i)) + ":3\r\n";
    const qsizetype edge = (1 << 20) - list.size() - 20; // the hash starts 20 bytes before the edge
    const qsizetype cut = filler.lastIndexOf('\n', edge) + 1;
    list += filler.left(cut) + BreachHashHex("straddle") + ":7\r\n" + filler.mid(cut) +
            "23B74494475F5F874980B7676D511E23D886DA64:12\r\n" + BreachHashHex("\x80uro");
    TestFolders f;
    const QString path = f.root.path() + "/list.txt";
    writeBytes(path, list);
    std::vector<QByteArrayView> views(std::begin(passwords), std::end(passwords));
    const BreachCheck check(views);
    const BreachCheck::Result result = check.checkFile(path);
    QCOMPARE(int(result.status), int(BreachCheck::Status::Checked));
    QCOMPARE(result.found, std::vector<bool>({true, true, true, true, false, true}));
    QCOMPARE(result.otherLines, 2);
    QCOMPARE(result.hashesRead, list.count('\n') - 2 + 1);
    // Stopped from another thread, it says so instead of a partial answer.
    std::atomic<bool> cancel = true;
    QCOMPARE(int(check.checkFile(path, &cancel).status), int(BreachCheck::Status::Cancelled));
}

void TestHealth::breachListProblems() {
    TestFolders f;
    const std::vector<QByteArrayView> passwords{"password"};
    const BreachCheck check(passwords);
    const QString words = f.root.path() + "/words.txt";
    // Words that start like hex digits are still no hashes.
    writeBytes(words, "cafe\ndeadbeef\nface0ff\n" + QByteArray(40, 'z') + "\n");
    QCOMPARE(int(check.checkFile(words).status), int(BreachCheck::Status::NotAHashList));
    QVERIFY(BreachProblemText(BreachCheck::Status::NotAHashList, words).contains("no SHA-1"));
    QCOMPARE(int(check.checkFile(f.root.path() + "/missing").status),
             int(BreachCheck::Status::Unreadable));
    QCOMPARE(int(check.checkFile(f.root.path()).status), int(BreachCheck::Status::Unreadable));
    // A pipe would hang a plain open for ever.
    const QString pipe = f.root.path() + "/pipe";
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QCOMPARE(int(check.checkFile(pipe).status), int(BreachCheck::Status::Unreadable));
}

void TestHealth::marksHoldNoNames() {
    TestFolders f;
    const QString path = f.paths.healthMarks();
    HealthMarks marks = HealthMarks::read(path);
    QCOMPARE(marks.size(), 0);
    marks.setMarked("name Mail\0ann", true);
    marks.setMarked("id 00112233445566778899aabbccddeeff", true);
    marks.setMarked("name Bank\0ann", false); // never marked: nothing to take away
    QVERIFY(marks.write(path));
    QCOMPARE(modeOf(path), 0600);
    const QByteArray bytes = fileBytes(path);
    QVERIFY(!bytes.contains("Mail") && !bytes.contains("ann") && !bytes.contains("00112233"));
    QCOMPARE(bytes.count('\n'), 4);
    HealthMarks again = HealthMarks::read(path);
    QVERIFY(again.marked("name Mail\0ann") && again.marked("id 00112233445566778899aabbccddeeff"));
    QVERIFY(!again.marked("name Bank\0ann"));
    again.setMarked("name Mail\0ann", false);
    QVERIFY(again.write(path));
    QVERIFY(!HealthMarks::read(path).marked("name Mail\0ann"));
    // What a write cut short left goes at the next start; the marks stay.
    writeBytes(Platform::unfinishedPath(path), "varnlock health marks 1\n");
    RecoverPendingSettings(f.paths);
    QVERIFY(!QFileInfo::exists(Platform::unfinishedPath(path)));
    QCOMPARE(HealthMarks::read(path).size(), 1);
    // Marks made apart on two computers: the sync tool's conflict copies
    // count, under a key of their own or the shared one, and the next write
    // takes them in and removes them; one taken away goes from all.
    HealthMarks theirs, shared = HealthMarks::read(path);
    theirs.setMarked("name Bank/ann", true);
    theirs.setMarked("name Post/ann", true);
    shared.setMarked("name Shop/ann", true);
    const QString conflict = f.paths.dataFolder() + "/healthmarks.sync-conflict-20261209-101500-A";
    const QString other = f.paths.dataFolder() + "/healthmarks (Ann's conflicted copy)";
    QVERIFY(theirs.write(conflict) && shared.write(other));
    writeBytes(other + " 2", "a file of such a name that holds no marks: never removed");
    HealthMarks both = HealthMarks::read(path);
    for (const char *name : {"name Bank/ann", "name Post/ann", "name Shop/ann"})
        QVERIFY2(both.marked(name), name);
    both.setMarked("name Post/ann", false);
    QVERIFY(both.write(path));
    QVERIFY(!QFileInfo::exists(conflict) && !QFileInfo::exists(other) &&
            QFileInfo::exists(other + " 2"));
    const HealthMarks merged = HealthMarks::read(path);
    QVERIFY(merged.marked("name Bank/ann") && merged.marked("name Shop/ann") &&
            !merged.marked("name Post/ann") && !merged.marked("name Mail\0ann"));
    QCOMPARE(fileBytes(path).count("key "), 2); // the shared key once
    // A copy that changed after it was read holds marks not taken in: kept.
    QVERIFY(theirs.write(conflict));
    HealthMarks late = HealthMarks::read(path);
    QVERIFY(theirs.write(conflict + "-") && QFile::remove(conflict) &&
            QFile::rename(conflict + "-", conflict));
    QVERIFY(late.write(path) && QFileInfo::exists(conflict));
    QVERIFY(QFile::remove(conflict));

    // A damaged file marks nothing (and is not a reason to fail).
    writeBytes(path, "varnlock health marks 1\nkey nothex\n" + bytes.split('\n')[2] + "\n");
    QCOMPARE(HealthMarks::read(path).size(), 0);
}

void TestHealth::passwordAgeFromVersions() {
    // The age of a password is that of the oldest of its record's unbroken
    // run of versions with that password: a record from another computer,
    // made in 2024, renamed in 2025 with its password kept, is old; one whose
    // password changed in November is not. Renaming keeps the age; a new
    // password starts it again.
    const auto ms = [](int y, int m, int d) {
        return QDateTime(QDate(y, m, d), QTime(12, 0)).toMSecsSinceEpoch();
    };
    TestFolders f;
    const std::unique_ptr<Session> session = OpenStrong(f, {});
    QVERIFY(session);
    const QByteArray mail = "Mail:!ann:!password1:!:!", shop = "Shop:!bob:!Kq7vX2pL9wZ3rT8m:!:!";
    const QByteArray work = "Work:!cy:!Hj4kL8mN2pQ6rS9t:!:!";
    const std::vector<QByteArrayView> lines{mail, shop, work};
    std::vector<RecordMeta> meta(3);
    meta[0] = {NewRecordId(),
               ms(2024, 1, 1),
               ms(2025, 3, 1),
               {{ms(2024, 1, 1), "Mail:!a:!password1:!:!", {}}},
               {}};
    meta[1] = {NewRecordId(),
               ms(2024, 1, 1),
               ms(2026, 11, 1),
               {{ms(2024, 1, 1), "Shop:!bob:!old:!:!", {}}},
               {}};
    // Its password set in January 2025, kept through a change in June 2026.
    meta[2] = {NewRecordId(),
               ms(2024, 1, 1),
               ms(2026, 6, 1),
               {{ms(2025, 1, 15), "Work:!x:!Hj4kL8mN2pQ6rS9t:!:!", {}},
                {ms(2024, 1, 1), "Work:!x:!older:!:!", {}}},
               {}};
    QCOMPARE(session->mergeCopy({lines, meta, {}}), SessionStatus::Ok);
    QCOMPARE(session->passwordSince(2), QDate(2025, 1, 15));
    QCOMPARE(session->passwordSince(0), QDate(2024, 1, 1));
    QCOMPARE(session->passwordSince(1), QDate(2026, 11, 1));
    const auto listed = [&] {
        QStringList out;
        for (const RecordHealth &row : SessionHealthReport(*session, {}, kToday).rows)
            out << QString::fromLatin1(ServiceName(session->records().line(row.index))) +
                       (row.has(Concern::Old) ? " old" : "");
        return out;
    };
    QCOMPARE(listed(), QStringList({"Mail old", "Work old"}));
    qsizetype at = -1;
    QCOMPARE(session->replace(0, "Mail:!ann.b:!password1:!:!", &at), SessionStatus::Ok);
    QCOMPARE(session->passwordSince(at), QDate(2024, 1, 1));
    QCOMPARE(session->replace(at, "Mail:!ann.b:!password2:!:!", &at), SessionStatus::Ok);
    QCOMPARE(session->passwordSince(at), QDate::currentDate());
    QCOMPARE(listed(), QStringList({"Mail", "Work old"}));
}

void TestHealth::marksFollowTheRecord() {
    // Under the strong protection a mark goes with the record's id, and stays
    // through a change of its name; under the others, whose records have no
    // id, with its service and user name.
    for (const bool strong : {true, false}) {
        TestFolders f;
        const QList<QByteArray> records{"Mail:!ann:!password1:!:!", "Shop:!bob:!pass:!:!"};
        std::unique_ptr<Session> session;
        if (strong) {
            session = OpenStrong(f, records);
            // Ids are given at the first change of a store made without them.
            QCOMPARE(session->add("Work:!cy:!Kq7vX2pL9wZ3rT8m:!:!"), SessionStatus::Ok);
        } else {
            writeBytes(f.paths.database(), storeBytes(records));
            session = std::make_unique<Session>(f.paths);
            session->open({});
        }
        QVERIFY(session && session->records().size() >= 2);
        QVERIFY(session->recordIdentity(0).startsWith(strong ? "id " : "name "));
        HealthMarks marks;
        marks.setMarked(session->recordIdentity(0), true);
        QVERIFY(marks.write(f.paths.healthMarks()));
        const auto listed = [&] {
            const HealthReport report =
                SessionHealthReport(*session, HealthMarks::read(f.paths.healthMarks()), kToday);
            QStringList out;
            for (const RecordHealth &row : report.rows)
                out << QString::fromLatin1(ServiceName(session->records().line(row.index)));
            return out << QString::number(report.notAConcern);
        };
        QCOMPARE(listed(), QStringList({"Shop", "1"}));
        QCOMPARE(session->replace(0, "Mail:!ann.b:!password1:!:!", nullptr), SessionStatus::Ok);
        QCOMPARE(listed(),
                 strong ? QStringList({"Shop", "1"}) : QStringList({"Mail", "Shop", "0"}));
        if (!strong)
            continue;
        // The same record made on another computer apart, under an id less
        // than any: merged, the two are one under that id, and the mark follows.
        const QByteArray twin = "Mail:!ann.b:!password1:!:!";
        const std::vector<QByteArrayView> lines{twin};
        std::vector<RecordMeta> meta(1);
        meta[0].created = meta[0].changed = 1;
        QCOMPARE(session->mergeCopy({lines, meta, {}}), SessionStatus::Ok);
        QCOMPARE(
            session->records().toList(),
            RecordList({twin, "Shop:!bob:!pass:!:!", "Work:!cy:!Kq7vX2pL9wZ3rT8m:!:!"}).toList());
        QCOMPARE(session->recordIdentity(0), "id " + RecordId().hex());
        QCOMPARE(listed(), QStringList({"Shop", "1"}));
    }
}

QTEST_GUILESS_MAIN(TestHealth)
#include "tst_health.moc"
