#include "../common/commandrun.h"

#include "breachlist.h"
#include "healthmarks.h"
#include "onetimecode.h"
#include "session.h"
#include "settings.h"
#include "strongstore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

// The commands of the built program, run as processes in a throwaway program
// folder under each protection: what they print, their exit codes, and the
// records on disk afterwards, read back by a session of the test's own.

namespace {

const QList<QByteArray> kRecords{"mail:!ann:!pw-a:!note:!https://mail.example",
                                 "Mail:!bob:!pw-b:!:!", "bank:!ann:!pw-c:!:!"};
const Strong::KdfParams kSmall{3, Strong::kMinMemory};

struct Protection {
    Scope scope;
    QByteArray password; // the master password (the passphrase, under Strong)
    // What standard input starts with: the master password's line, where one is asked.
    QByteArray line() const { return scope == Scope::None ? QByteArray() : password + '\n'; }
};

} // namespace
Q_DECLARE_METATYPE(Protection)
namespace {

void protectionRows() {
    QTest::addColumn<Protection>("protection");
    QTest::newRow("none") << Protection{Scope::None, {}};
    QTest::newRow("program") << Protection{Scope::ProgramOnly, "key7"};
    QTest::newRow("program and database") << Protection{Scope::ProgramAndDBase, "key7"};
    QTest::newRow("strong") << Protection{Scope::Strong, "pass word"};
}

// The program and these records, under the protection.
void prepare(const TestFolders &f, const Protection &p, const QList<QByteArray> &records) {
    QVERIFY(QFile::copy(VARNLOCK_PATH, f.paths.programFolder + "/varnlock"));
    QCOMPARE(WriteSettingsFile(f.paths, settingsLine(p.scope, p.password)), SettingsStatus::Ok);
    if (p.scope == Scope::Strong) {
        Strong::Keys keys;
        const std::vector<QByteArrayView> lines(records.cbegin(), records.cend());
        QCOMPARE(Strong::Create(f.paths.strongStore(), p.password, kSmall, lines, keys),
                 Strong::Status::Ok);
        return;
    }
    Session session(f.paths);
    QCOMPARE(
        session.open([&](Session &s) { return s.unlock(p.password) == Session::Unlock::Opened; }),
        OpenStatus::Opened);
    QCOMPARE(session.importRecords(records), SessionStatus::Ok);
}

// The records as a fresh start reads them from disk, in list order.
QList<QByteArray> stored(const TestFolders &f, const Protection &p) {
    Session session(f.paths);
    if (session.open([&](Session &s) { return s.unlock(p.password) == Session::Unlock::Opened; }) !=
            OpenStatus::Opened ||
        (session.loaded() != StoreStatus::Ok && session.loaded() != StoreStatus::Missing))
        return {"<unreadable>"};
    return session.records().toList();
}

QList<QByteArray> sorted(QList<QByteArray> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The one-time code of the record whose line starts with start, as a fresh
// start reads it.
QByteArray storedCode(const TestFolders &f, const Protection &p, const QByteArray &start) {
    Session session(f.paths);
    session.open([&](Session &s) { return s.unlock(p.password) == Session::Unlock::Opened; });
    for (qsizetype i = 0; i < session.records().size(); ++i)
        if (session.records().line(i).startsWith(start))
            return session.oneTimeCode(i);
    return "<no record>";
}

// The run ended with this code and printed exactly this.
#define EXPECT_RUN(command, wantCode, wantOut)                                                     \
    do {                                                                                           \
        const Run ran = (command);                                                                 \
        QVERIFY2(ran.code == (wantCode) && ran.out == (wantOut),                                   \
                 qPrintable(                                                                       \
                     QString("code %1, out <%2>, err <%3>").arg(ran.code).arg(ran.out, ran.err))); \
    } while (false)

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void readingCommands_data() { protectionRows(); }
    void readingCommands();
    void readerLeavesAnAppendInProgress();
    void writingCommands_data() { protectionRows(); }
    void writingCommands();
    void mergeOfAnotherCopy_data() { protectionRows(); }
    void mergeOfAnotherCopy();
    void oneTimeCodes_data() { protectionRows(); }
    void oneTimeCodes();
    void healthReport_data() { protectionRows(); }
    void healthReport();
    void promptEndedGivesEchoBack_data();
    void promptEndedGivesEchoBack();
    void recordTextKeptOffTheTerminal();
    void outputThatCanNotBeWritten();
    void writesReachTheDisk();
    void heldFolderRefusesWrites();
    void settingsSetAsideWithTheRecordsPassword();
    void commandWaitsForAnother();
    void plantedWindowLibraryIsRefused();
    void usageErrorsAndGenerator();
    void clipRestoresTheClipboard();
};

void TestCommandLine::readingCommands() {
    QFETCH(Protection, protection);
    TestFolders f;
    prepare(f, protection, kRecords);
    const auto before = snapshot(f);
    const QByteArray in = protection.line();
    const struct {
        QStringList args;
        int code;
        const char *out;
    } rows[] = {
        {{"ls"}, 0, "bank\nmail\nMail\n"},
        {{"ls", "MA"}, 0, "mail\nMail\n"},
        {{"ls", "example", "--json"}, 0, "[\"mail\"]\n"},
        {{"ls", "nothing like it"}, 0, ""},
        {{"search", "ann"}, 0, "bank\tann\nmail\tann\n"},
        {{"search", "bob", "--json"}, 0, "[{\"service\":\"Mail\",\"username\":\"bob\"}]\n"},
        {{"show", "mail"},
         0,
         "Service: mail\nUsername: ann\nPassword: (hidden: --show-password shows it)\n"
         "Other Info: note\nPath: https://mail.example\n"},
        {{"show", "mail", "--field", "password"}, 0, "pw-a\n"},
        {{"show", "MAIL", "--user", "BOB", "--field=password"}, 0, "pw-b\n"},
        {{"show", "bank", "--json"},
         0,
         "{\"other\":\"\",\"path\":\"\",\"service\":\"bank\",\"username\":\"ann\"}\n"},
        {{"show", "bank", "--json", "--show-password"},
         0,
         "{\"other\":\"\",\"password\":\"pw-c\",\"path\":\"\",\"service\":\"bank\","
         "\"username\":\"ann\"}\n"},
        {{"show", "MAIL"}, 2, ""}, // two records: mail (ann) and Mail (bob)
        {{"show", "post"}, 1, ""},
        {{"show", "mail", "--user", "carol"}, 1, ""},
        {{"show", "MAIL", "--number", "2", "--field", "username"}, 0, "bob\n"},
        {{"show", "MAIL", "--user", "bob", "--number", "2"}, 1, ""},
        {{"show", "MAIL", "--number", "0"}, 2, ""},
    };
    for (const auto &row : rows) {
        const Run run = runProgram(f, row.args, in);
        QVERIFY2(run.code == row.code && run.out == QLatin1String(row.out),
                 qPrintable(
                     row.args.join(' ') +
                     QString(": code %1, out <%2>, err <%3>").arg(run.code).arg(run.out, run.err)));
        if (row.code == 2 && !row.args.contains("--number"))
            QVERIFY2(run.err.contains("pick one with --user or --number:\n  1  mail (ann)\n"
                                      "  2  Mail (bob)\n"),
                     qPrintable(run.err));
        if (row.code != 1 && protection.scope != Scope::None)
            QVERIFY2(!run.err.contains("not the master password"), qPrintable(run.err));
    }
    // A wrong master password three times: nothing is shown.
    if (protection.scope != Scope::None) {
        const Run run = runProgram(f, {"show", "mail", "--field", "password"}, "a\nb\nc\n");
        EXPECT_RUN(run, 1, "");
        QVERIFY2(run.err.contains("Access Error: You are not allowed to use this application"),
                 qPrintable(run.err));
        // Right at the second try.
        EXPECT_RUN(runProgram(f, {"show", "bank", "--field", "password"}, "a\n" + in), 0, "pw-c\n");
    }
    // A reading command writes nothing, not even a folder or a lock.
    QCOMPARE(snapshot(f), before);
    QCOMPARE(sorted(stored(f, protection)), sorted(kRecords));

    // Where the prompt is asked, the window's expiry reminder is given on
    // standard error; the output is the same.
    if (protection.scope == Scope::None)
        return;
    const QDate today = QDate::currentDate();
    const struct {
        QDate expiry;
        const char *said;
    } expiries[] = {
        {today, "The Password expires today; set a new one in the window's Menu, Security."},
        {today.addDays(-1), "The Password has expired; set a new one"},
        {today.addDays(1), nullptr},
    };
    for (const auto &row : expiries) {
        QCOMPARE(WriteSettingsFile(f.paths, BuildSettingsLine(DateText(row.expiry),
                                                              protection.scope == Scope::Strong
                                                                  ? StrongSettingsPassword()
                                                                  : protection.password,
                                                              "12-01-2026", protection.scope)),
                 SettingsStatus::Ok);
        const Run run = runProgram(f, {"show", "bank", "--field", "password"}, in);
        EXPECT_RUN(run, 0, "pw-c\n");
        QVERIFY2(row.said ? run.err.contains(row.said) : !run.err.contains("Password"),
                 qPrintable(run.err));
    }
    // The strong store gone: a backup is asked for; with a store of another
    // protection still beside it, the rest of another computer's change.
    // Said before any passphrase is asked for (none is given here).
    if (protection.scope != Scope::Strong)
        return;
    QVERIFY(QFile::rename(f.paths.strongStore(), f.paths.strongStore() + ".away"));
    for (const bool beside : {false, true}) {
        if (beside)
            writeBytes(f.paths.database(), storeBytes(kRecords));
        const Run run = runProgram(f, {"ls"}, "");
        QVERIFY2(run.code == 1 && run.out.isEmpty() &&
                     run.err.contains(beside ? "its change has arrived only in part"
                                             : "Nothing was read or written: put back a backup"),
                 qPrintable(run.err));
    }
}

void TestCommandLine::readerLeavesAnAppendInProgress() {
    // The tail of a strong store that reads as a torn append may be one a
    // window is writing right now: a reader lists what is whole and cuts nothing.
    TestFolders f;
    const Protection p{Scope::Strong, "pass word"};
    prepare(f, p, kRecords);
    Strong::Keys keys;
    Strong::Opened opened;
    QCOMPARE(Strong::Open(f.paths.strongStore(), p.password, keys, opened), Strong::Status::Ok);
    QCOMPARE(Strong::Append(f.paths.strongStore(), keys, "zed:!z:!pw-z:!:!"), Strong::Status::Ok);
    QByteArray bytes = fileBytes(f.paths.strongStore());
    bytes.chop(7);
    writeBytes(f.paths.strongStore(), bytes);
    EXPECT_RUN(runProgram(f, {"ls"}, p.line()), 0, "bank\nmail\nMail\n");
    QCOMPARE(fileBytes(f.paths.strongStore()), bytes);
}

void TestCommandLine::writingCommands() {
    QFETCH(Protection, protection);
    TestFolders f;
    prepare(f, protection, kRecords);
    const QByteArray in = protection.line();
    QList<QByteArray> model = kRecords;

    Run run = runProgram(f, {"add", "--service", "post", "--username", "carl", "--other", "é ok"},
                         in + "pw-d\n");
    EXPECT_RUN(run, 0, "Stored post (carl).\n");
    model << QByteArray("post:!carl:!pw-d:!\xe9 ok:!");
    QCOMPARE(sorted(stored(f, protection)), sorted(model));

    // Refused, and nothing written: a record stored already, a character the
    // files can not hold, a line break, no password, no user name.
    const auto before = snapshot(f);
    const struct {
        QStringList args;
        QByteArray input;
        int code;
        const char *err;
    } refused[] = {
        {{"add", "--service", "post", "--username", "carl", "--other", "é ok"},
         "pw-d\n",
         1,
         "There is an identical record already filed"},
        {{"add", "--service", "post", "--username", "dan", "--other", "漢"},
         "pw\n",
         1,
         "The Other Info field holds \"漢\", a character Varnlock can not store"},
        {{"add", "--service", "post", "--username", "dan"},
         "p\xc5\x8d\n",
         1,
         "The Password field holds \"ō\""},
        {{"add", "--service", "post", "--username", "dan", "--path", "a\nb"},
         "pw\n",
         1,
         "The Path field holds a line break"},
        {{"add", "--service", "post:!", "--username", "dan"},
         "pw\n",
         1,
         "The Service field holds \":!\", which Varnlock puts between the fields"},
        {{"add", "--service", "post", "--username", "dan"},
         "p:!w\n",
         1,
         "The Password field holds \":!\""},
        {{"edit", "post", "--other", "a:!b"}, "", 1, "The Other Info field holds \":!\""},
        {{"add", "--service", "post", "--username", "dan"}, "", 1, "no password was given"},
        {{"add", "--service", "post", "--username", "dan"}, "\n", 1, "a record needs a password"},
        {{"add", "--service", "post"}, "pw\n", 2, "give --service and --username"},
        {{"edit", "mail", "--user", "ann", "--username", ""}, "", 2, "needs a service and a user"},
        {{"edit", "post", "--other", "é ok"}, "", 0, ""}, // no change, and so no write
        {{"edit", "bank", "--service", "post", "--username", "carl", "--other", "é ok",
          "--password"},
         "pw-d\n",
         1,
         "There were no changes: another record, post (carl), holds these very fields."},
        {{"rm", "MAIL"}, "", 2, "pick one with --user"},
        {{"rm", "nothing"}, "", 1, "no record has the service \"nothing\""},
    };
    for (const auto &row : refused) {
        run = runProgram(f, row.args, in + row.input);
        QVERIFY2(run.code == row.code && run.err.contains(QString::fromUtf8(row.err)),
                 qPrintable(row.args.join(' ') +
                            QString(": code %1, err <%2>").arg(run.code).arg(run.err)));
        QCOMPARE(snapshot(f), before);
    }

    run = runProgram(f, {"edit", "MAIL", "--user", "bob", "--path", "/p", "--password"},
                     in + "pw-e\n");
    EXPECT_RUN(run, 0, "Changed Mail (bob).\n");
    model.replace(1, "Mail:!bob:!pw-e:!:!/p");
    QCOMPARE(sorted(stored(f, protection)), sorted(model));

    run = runProgram(f, {"edit", "bank", "--generate", "1"}, in);
    EXPECT_RUN(run, 0, "Changed bank (ann).\n");
    const QList<QByteArray> now = stored(f, protection);
    const QByteArray bank = *std::find_if(
        now.begin(), now.end(), [](const QByteArray &l) { return l.startsWith("bank:!"); });
    QVERIFY2(QRegularExpression("^bank:!ann:![1-9A-Z]{6}:!:!$")
                 .match(QString::fromLatin1(bank))
                 .hasMatch(),
             bank.constData());
    model.replace(2, bank);

    run = runProgram(f, {"rm", "mail", "--user", "ann"}, in);
    EXPECT_RUN(run, 0, "Removed mail (ann).\n");
    model.removeFirst();
    QCOMPARE(sorted(stored(f, protection)), sorted(model));

    // Two records alike in service and user name: the list tells them apart
    // by number and other info, and --number picks the one meant.
    QCOMPARE(runProgram(f, {"add", "--service", "post", "--username", "carl", "--other", "later"},
                        in + "pw-f\n")
                 .code,
             0);
    run = runProgram(f, {"rm", "post", "--user", "carl"}, in);
    QVERIFY2(run.code == 2 && run.err.contains("  1  post (carl)  \u00e9 ok\n"
                                               "  2  post (carl)  later\n"),
             qPrintable(run.err));
    EXPECT_RUN(runProgram(f, {"rm", "post", "--user", "carl", "--number", "2"}, in), 0,
               "Removed post (carl).\n");
    QCOMPARE(sorted(stored(f, protection)), sorted(model));

    // The CSV commands keep their first spellings beside the new ones.
    const QString csv = f.root.filePath("out.csv");
    EXPECT_RUN(runProgram(f, {"--export-csv", csv}, in), 0,
               QString("Wrote 3 records to %1. It holds every password in plain text: delete it "
                       "when you no longer need it.\n")
                   .arg(csv));
    QVERIFY(runProgram(f, {"rm", "post"}, in).code == 0);
    run = runProgram(f, {"import-csv", csv}, in);
    QVERIFY2(run.code == 0 && run.out.endsWith("Added 1, skipped 2 already stored or repeated, "
                                               "refused 0.\n"),
             qPrintable(run.out + run.err));
    QCOMPARE(sorted(stored(f, protection)), sorted(model));
}

void TestCommandLine::mergeOfAnotherCopy() {
    QFETCH(Protection, protection);
    TestFolders ours, theirs;
    prepare(ours, protection, kRecords);
    for (const QString &name : QDir(ours.paths.dataFolder()).entryList(QDir::Files | QDir::Hidden))
        QVERIFY(QFile::copy(ours.paths.dataFolder() + '/' + name,
                            theirs.paths.dataFolder() + '/' + name));
    QVERIFY(QFile::copy(VARNLOCK_PATH, theirs.paths.programFolder + "/varnlock"));
    const QByteArray in = protection.line();
    // Apart: they add a record and change one; we change another.
    QCOMPARE(runProgram(theirs, {"add", "--service", "zed", "--username", "z"}, in + "pw-z\n").code,
             0);
    QCOMPARE(runProgram(theirs, {"edit", "Mail", "--path", "/theirs"}, in).code, 0);
    QCOMPARE(runProgram(ours, {"edit", "bank", "--other", "ours"}, in).code, 0);

    const bool ids = protection.scope == Scope::Strong;
    const auto before = snapshot(ours);
    const auto theirsBefore = snapshot(theirs);
    Run run = runProgram(ours, {"merge", theirs.paths.programFolder, "--dry-run", "--json"}, in);
    const QString copy = StoreFile(theirs.paths, protection.scope);
    // By id, the change each side made is taken; compared by service and user
    // name, every record that differs is offered, ours unchanged included.
    const QString changes =
        ids ? "[{\"change\":\"added\",\"service\":\"zed\",\"username\":\"z\"},"
              "{\"change\":\"changed\",\"service\":\"Mail\",\"username\":\"bob\"}]"
            : "[{\"change\":\"differs\",\"service\":\"bank\",\"username\":\"ann\"},"
              "{\"change\":\"differs\",\"service\":\"Mail\",\"username\":\"bob\"},"
              "{\"change\":\"new\",\"service\":\"zed\",\"username\":\"z\"}]";
    EXPECT_RUN(run, 0,
               QString("{\"changes\":%1,\"copy\":\"%2\",%3\"removed\":false,\"written\":false}\n")
                   .arg(changes, copy, ids ? "" : "\"identical\":1,"));
    QCOMPARE(snapshot(ours), before); // a dry run writes nothing

    run = runProgram(ours, {"merge", copy}, in);
    QVERIFY2(run.code == 0, qPrintable(run.out + run.err));
    QList<QByteArray> want{"mail:!ann:!pw-a:!note:!https://mail.example", "bank:!ann:!pw-c:!ours:!",
                           "zed:!z:!pw-z:!:!", "Mail:!bob:!pw-b:!:!/theirs"};
    if (!ids)
        want << "Mail:!bob:!pw-b:!:!"
             << "bank:!ann:!pw-c:!:!"; // both kept, for the user to settle
    QCOMPARE(sorted(stored(ours, protection)), sorted(want));
    QCOMPARE(snapshot(theirs), theirsBefore); // the copy is left as it is
    // Merged once, it brings nothing more.
    run = runProgram(ours, {"merge", copy}, in);
    QVERIFY2(run.code == 0 && run.out.contains("holds nothing that is not stored here"),
             qPrintable(run.out + run.err));
    // A copy under another password asks for it.
    if (protection.scope == Scope::ProgramAndDBase || protection.scope == Scope::Strong) {
        TestFolders other;
        prepare(other, {protection.scope, "other pass"}, {"far:!f:!pw-f:!:!"});
        run = runProgram(ours, {"merge", other.paths.programFolder}, in + "wrong\nother pass\n");
        QVERIFY2(run.code == 0 && run.err.contains("not the password of the copy"),
                 qPrintable(run.out + run.err));
        QVERIFY(stored(ours, protection).contains("far:!f:!pw-f:!:!"));
        // Three tries, as for the master password: the fourth line is never read.
        QCOMPARE(runProgram(ours, {"rm", "far"}, in).code, 0);
        run = runProgram(ours, {"merge", other.paths.programFolder}, in + "a\nb\nc\nother pass\n");
        QVERIFY2(run.code == 1 && run.err.contains("its password was not given"),
                 qPrintable(run.out + run.err));
        QVERIFY(!stored(ours, protection).contains("far:!"));
    }
    // A strong copy (a store of before a change of protection) brings its
    // records' one-time codes along, into Other Info where this store keeps them.
    if (protection.scope != Scope::Strong) {
        TestFolders strong;
        prepare(strong, {Scope::Strong, "copy pass"}, {});
        const QByteArray uri = "otpauth://totp/otp:o?secret=JBSWY3DPEHPK3PXP";
        QCOMPARE(runProgram(strong,
                            {"add", "--service", "otp", "--username", "o", "--other", "two-step",
                             "--totp", uri},
                            "copy pass\npw-o\n")
                     .code,
                 0);
        run = runProgram(ours, {"merge", strong.paths.strongStore()}, in + "copy pass\n");
        QVERIFY2(run.code == 0 && run.out.startsWith("Added 1 record from the copy " +
                                                     strong.paths.strongStore() + ":\n"),
                 qPrintable(run.out + run.err));
        QVERIFY(stored(ours, protection).contains("otp:!o:!pw-o:!two-step " + uri + ":!"));
        QCOMPARE(storedCode(ours, protection, "otp:!"), uri);
        // A line break in a field (an earlier version let one in there) can not
        // come along: the copy is named with the record, and nothing taken.
        TestFolders broken;
        prepare(broken, {Scope::Strong, "copy pass"}, {"lb:!l:!two\nlines:!:!", "ok:!o:!p:!:!"});
        const auto unmerged = snapshot(ours);
        run = runProgram(ours, {"merge", broken.paths.strongStore()}, in + "copy pass\n");
        QVERIFY2(run.code == 1 && run.err.contains("was not merged: its record lb (l) holds a line "
                                                   "break, which only the strong store can keep"),
                 qPrintable(run.out + run.err));
        QCOMPARE(snapshot(ours), unmerged);
    }

    // A copy a sync tool left in Data (the name with a quote and blanks, as
    // one tool writes it): every command names it until a merge settles it,
    // and that merge removes it, as the window does.
    QCOMPARE(runProgram(theirs, {"add", "--service", "yak", "--username", "y"}, in + "pw-y\n").code,
             0);
    const QString left =
        ours.paths.dataFolder() + "/CW2DB (Ann's conflicted copy 2026-12-09)" + copy.right(4);
    QVERIFY(QFile::copy(copy, left));
    QString quoted = left;
    quoted.replace("'", "'\\''");
    for (const QStringList &command : {QStringList{"ls"}, QStringList{"rm", "zed"}}) {
        run = runProgram(ours, command, in);
        QVERIFY2(run.code == 0 && !run.out.contains("yak") &&
                     run.err.contains("a copy a sync tool left, CW2DB (Ann's conflicted copy "
                                      "2026-12-09)") &&
                     run.err.contains("(varnlock merge '" + quoted + "', or start the window"),
                 qPrintable(run.out + run.err));
    }
    run = runProgram(ours, {"merge", left, "--json"}, in);
    QVERIFY2(run.code == 0 && run.out.contains("\"removed\":true"), qPrintable(run.out + run.err));
    QVERIFY(!QFile::exists(left));
    QVERIFY(stored(ours, protection).contains("yak:!y:!pw-y:!:!"));
    run = runProgram(ours, {"ls"}, in);
    QVERIFY2(run.out.contains("yak\n") && !run.err.contains("beside"), qPrintable(run.err));

    // A plain copy merged into the strong store: a code its records keep in
    // Other Info goes to the record's own place, so a record this store holds
    // with that code is the same, and a new one comes with its code.
    if (protection.scope == Scope::Strong) {
        const QByteArray uri = "otpauth://totp/otp:o?secret=JBSWY3DPEHPK3PXP";
        QCOMPARE(runProgram(ours, {"edit", "yak", "--totp", uri}, in).code, 0);
        TestFolders plain;
        prepare(plain, {Scope::None, {}},
                {"yak:!y:!pw-y:!" + uri + ":!", "otp:!o:!pw-o:!two-step " + uri + ":!"});
        run = runProgram(ours, {"merge", plain.paths.database()}, in);
        QVERIFY2(run.code == 0 && run.out.startsWith("Added 1 record from the copy"),
                 qPrintable(run.out + run.err));
        const QList<QByteArray> now = stored(ours, protection);
        QVERIFY(now.contains("otp:!o:!pw-o:!two-step:!") && now.contains("yak:!y:!pw-y:!:!"));
        QCOMPARE(std::count_if(now.begin(), now.end(),
                               [](const QByteArray &line) { return line.startsWith("yak:!"); }),
                 1);
        QCOMPARE(storedCode(ours, protection, "otp:!"), uri);
        // A strong copy under a passphrase of its own (changed on another
        // computer): the records here keep theirs, and are told so, unless
        // told to take it; then only the copy's opens them.
        TestFolders other;
        prepare(other, {Scope::Strong, "other pass"}, {"near:!n:!pw-n:!:!"});
        for (const bool take : {false, true}) {
            QStringList command{"merge", other.paths.strongStore(), "--json"};
            if (take)
                command << "--take-passphrase";
            run = runProgram(ours, command, in + "other pass\n");
            QVERIFY2(run.code == 0 &&
                         run.out.contains(take ? "\"passphrase\":\"taken\""
                                               : "\"passphrase\":\"kept\"") &&
                         run.err.contains("the records here keep theirs (merge it with "
                                          "--take-passphrase") != take,
                     qPrintable(run.out + run.err));
        }
        QCOMPARE(runProgram(ours, {"ls"}, in).code, 1);
        run = runProgram(ours, {"ls"}, "other pass\n");
        QVERIFY2(run.code == 0 && run.out.contains("near\n"), qPrintable(run.out + run.err));
    }
}

void TestCommandLine::oneTimeCodes() {
    QFETCH(Protection, protection);
    TestFolders f;
    prepare(f, protection, kRecords);
    const QByteArray in = protection.line();
    const QByteArray uri = "otpauth://totp/otp:u?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ";
    const bool strong = protection.scope == Scope::Strong;
    // A code that can not be used is refused, and nothing is written.
    const auto before = snapshot(f);
    Run run = runProgram(f,
                         {"add", "--service", "otp", "--username", "u", "--totp",
                          "otpauth://totp/x?secret=GEZDGNBV&digits=5"},
                         in + "pw\n");
    QVERIFY2(run.code == 1 && run.err.contains("digits must be 6 to 10"), qPrintable(run.err));
    QCOMPARE(snapshot(f), before);

    EXPECT_RUN(
        runProgram(f, {"add", "--service", "otp", "--username", "u", "--totp", uri}, in + "pw\n"),
        0, "Stored otp (u).\n");
    // The strong protection keeps it beside the record; the others in Other Info.
    QVERIFY(stored(f, protection)
                .contains(strong ? QByteArray("otp:!u:!pw:!:!") : "otp:!u:!pw:!" + uri + ":!"));
    QCOMPARE(storedCode(f, protection, "otp:!"), uri);
    // The code now, as the record's secret gives it (either side of a period's end).
    std::optional<OneTimeCode> code = ParseOneTimeCodeUri(uri, nullptr);
    QVERIFY(code);
    const qint64 start = QDateTime::currentSecsSinceEpoch();
    run = runProgram(f, {"show", "otp", "--totp"}, in);
    const qint64 end = QDateTime::currentSecsSinceEpoch();
    QVERIFY2(run.code == 0 &&
                 (run.out == CodeAt(*code, start) + "\n" || run.out == CodeAt(*code, end) + "\n"),
             qPrintable(run.out + run.err));
    run = runProgram(f, {"show", "otp"}, in);
    QVERIFY2(run.out.contains("One-time code: set"), qPrintable(run.out));
    // A change of other fields keeps it; --totp "" takes it away.
    EXPECT_RUN(runProgram(f, {"edit", "otp", "--other", "note"}, in), 0, "Changed otp (u).\n");
    QCOMPARE(storedCode(f, protection, "otp:!"), uri);
    QVERIFY(stored(f, protection)
                .contains(strong ? QByteArray("otp:!u:!pw:!note:!")
                                 : "otp:!u:!pw:!note " + uri + ":!"));
    EXPECT_RUN(runProgram(f, {"edit", "otp", "--totp", ""}, in), 0, "Changed otp (u).\n");
    QCOMPARE(storedCode(f, protection, "otp:!"), QByteArray());
    QVERIFY(stored(f, protection).contains("otp:!u:!pw:!note:!"));
    run = runProgram(f, {"show", "otp", "--totp"}, in);
    QVERIFY2(run.code == 1 && run.err.contains("otp (u) has no one-time code"),
             qPrintable(run.err));
    // A bare secret is read with the usual settings.
    EXPECT_RUN(runProgram(f, {"edit", "bank", "--totp", "gezd gnbv gy3t qojq"}, in), 0,
               "Changed bank (ann).\n");
    QCOMPARE(storedCode(f, protection, "bank:!"),
             QByteArray("otpauth://totp/?secret=GEZDGNBVGY3TQOJQ"));
    // Imported with its record, and exported in the totp column.
    const QString csv = f.root.filePath("codes.csv");
    writeBytes(csv, "name,username,password,login_totp\nimported,i,pw-i," + uri + "\n");
    QCOMPARE(runProgram(f, {"import-csv", csv}, in).code, 0);
    QCOMPARE(storedCode(f, protection, "imported:!"), uri);
    const QString out = f.root.filePath("out.csv");
    QCOMPARE(runProgram(f, {"export-csv", out}, in).code, 0);
    QVERIFY2(fileBytes(out).contains("imported,i,pw-i," + QByteArray(strong ? "" : uri) + ",," +
                                     uri + "\r\n"),
             fileBytes(out).constData());
    // The record as the other protections export it is the one stored.
    writeBytes(csv, "service,username,password,notes,url,totp\r\nimported,i,pw-i," +
                        QByteArray(strong ? uri : "") + ",," + uri + "\r\n");
    const auto beforeImport = snapshot(f);
    run = runProgram(f, {"import-csv", csv}, in);
    QVERIFY2(run.code == 0 &&
                 run.out.endsWith("Added 0, skipped 1 already stored or repeated, refused 0.\n"),
             qPrintable(run.out + run.err));
    QCOMPARE(snapshot(f), beforeImport);
}

void TestCommandLine::plantedWindowLibraryIsRefused() {
    // A window library beside the program that others may write (planted in
    // a shared folder, say), or that another user owns, is never loaded: it
    // would run as the user.
    const struct {
        mode_t mode;
        uid_t owner; // as the test runs when 0
    } planted[] = {{0664, 0}, {0646, 0}, {0755, 1}};
    for (const auto &[mode, owner] : planted) {
        if (owner && ::geteuid() != 0)
            continue; // only root can give a file to another user
        TestFolders f;
        prepare(f, {Scope::None, {}}, kRecords);
        const QByteArray library =
            QFile::encodeName(f.paths.programFolder + "/libvarnlock-window.so");
        QVERIFY(QFile::copy(VARNLOCK_WINDOW_LIBRARY, QFile::decodeName(library)));
        QVERIFY(::chmod(library.constData(), mode) == 0);
        if (owner)
            QVERIFY(::chown(library.constData(), owner, owner) == 0);
        QProcess window;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        window.setProcessEnvironment(env);
        window.start(f.paths.programFolder + "/varnlock", {});
        QVERIFY(window.waitForFinished(20000));
        QCOMPARE(window.exitCode(), 1);
        QVERIFY2(window.readAllStandardError().contains("is another user's, or others may write "
                                                        "it, so it is not loaded"),
                 qPrintable(QString::number(mode, 8)));
    }
}

void TestCommandLine::healthReport() {
    // The report as scripts read it (the strength estimate aside), the same
    // under every protection; a record marked in the window left out; a
    // breach list read; nothing written by any of it.
    QFETCH(Protection, protection);
    TestFolders f;
    prepare(f, protection,
            {"mail:!ann:!password1:!:!", "bank:!ann:!password1:!:!",
             "shop:!bob:!Kq7vX2pL9wZ3rT8m:!:!", "empty:!cy:!:!:!"});
    const QByteArray in = protection.line();
    const auto before = snapshot(f);
    const auto report = [&](const QStringList &extra = {}) {
        const Run run = runProgram(f, QStringList{"health", "--json"} + extra, in);
        QJsonObject object = QJsonDocument::fromJson(run.out.toUtf8()).object();
        QJsonArray rows;
        for (QJsonValue row : object["records"].toArray()) {
            QJsonObject r = row.toObject();
            if (!r["strength_bits"].isDouble())
                return QByteArray("no strength");
            r.remove("strength_bits");
            rows << r;
        }
        object["records"] = rows;
        return QByteArray::number(run.code) + ' ' +
               QJsonDocument(object).toJson(QJsonDocument::Compact);
    };
    const QByteArray master = protection.scope == Scope::None ? "none" : "never_expires";
    const QByteArray rowOf =
        R"({"concerns":[%1"weak","reused","short"],"length":9,"reused_count":1,"reused_with":[{"service":"%2","username":"ann"}],"service":"%3","username":"ann"})";
    const auto row = [&](const char *service, const char *other, bool breached = false) {
        return QString::fromLatin1(rowOf)
            .arg(breached ? "\"breached\"," : "", other, service)
            .toLatin1();
    };
    QCOMPARE(report(), R"(0 {"breach_checked":false,"checked":3,"master_password":{"state":")" +
                           master + R"("},"not_a_concern":0,"records":[)" + row("bank", "mail") +
                           ',' + row("mail", "bank") + "]}");
    Run run = runProgram(f, {"health"}, in);
    QVERIFY2(run.code == 0 &&
                 run.out.startsWith("3 passwords checked: 2 weak, 2 reused, 2 short.\n") &&
                 run.out.contains("\n\nbank (ann)\tweak (") &&
                 run.out.contains("), reused with mail (ann), short (9 characters)\n"),
             qPrintable(run.out + run.err));

    QCOMPARE(snapshot(f), before);

    // Marked "not a concern" in the window: left out, and counted.
    {
        Session session(f.paths);
        QCOMPARE(session.open([&](Session &s) {
            return s.unlock(protection.password) == Session::Unlock::Opened;
        }),
                 OpenStatus::Opened);
        HealthMarks marks;
        marks.setMarked(session.recordIdentity(0), true); // bank
        QVERIFY(marks.write(f.paths.healthMarks()));
    }
    const auto marked = snapshot(f);
    const QString list = f.root.path() + "/breached.txt";
    writeBytes(list, "0000000000000000000000000000000000000000:1\r\n" +
                         BreachHashHex("password1").toLower() + ":4\r\n");
    QCOMPARE(report({"--breached", list}),
             R"(0 {"breach_checked":true,"checked":3,"master_password":{"state":")" + master +
                 R"("},"not_a_concern":1,"records":[)" + row("mail", "bank", true) + "]}");
    writeBytes(list, "not a list\n");
    run = runProgram(f, {"health", "--breached", list}, in);
    QVERIFY2(run.code == 1 && run.err.contains("holds no SHA-1 hashes") && run.out.isEmpty(),
             qPrintable(run.err));
    QFile::remove(list);
    QCOMPARE(snapshot(f), marked);
}

// Waits until the process has said the text on standard error; all it said.
// The program started on a terminal of its own (a pseudo-terminal that is
// its controlling terminal), as a user starts it: terminal is our side of
// it, ours the program's side kept open to read its modes.
struct OnTerminal {
    int terminal = -1;
    int ours = -1;
    pid_t pid = -1;
};

OnTerminal startOnTerminal(const TestFolders &f, const QList<QByteArray> &words) {
    OnTerminal run;
    run.terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (run.terminal < 0 || ::grantpt(run.terminal) != 0 || ::unlockpt(run.terminal) != 0)
        return run;
    const QByteArray side = ::ptsname(run.terminal);
    run.ours = ::open(side.constData(), O_RDWR | O_NOCTTY);
    const QByteArray program = QFile::encodeName(f.paths.programFolder + "/varnlock");
    const QByteArray temp = "TMPDIR=" + QFile::encodeName(f.paths.tempFolder);
    std::vector<const char *> args{program.constData()};
    for (const QByteArray &word : words)
        args.push_back(word.constData());
    args.push_back(nullptr);
    const char *env[] = {"PATH=/usr/bin:/bin", temp.constData(), nullptr};
    run.pid = ::fork();
    if (run.pid == 0) {
        ::setsid();
        const int own = ::open(side.constData(), O_RDWR);
        ::ioctl(own, TIOCSCTTY, 0);
        ::dup2(own, 0);
        ::dup2(own, 1);
        ::dup2(own, 2);
        ::execve(args[0], const_cast<char **>(args.data()), const_cast<char **>(env));
        ::_exit(127);
    }
    return run;
}

// What came to the terminal so far.
void readTerminal(const OnTerminal &run, QByteArray &said) {
    char buffer[256];
    for (ssize_t n; (n = ::read(run.terminal, buffer, sizeof buffer)) > 0;)
        said.append(buffer, n);
}

QString waitToSay(QProcess &process, const QString &text) {
    QString said;
    const bool ended = QTest::qWaitFor(
        [&] {
            said += QString::fromUtf8(process.readAllStandardError());
            return said.contains(text) || process.state() == QProcess::NotRunning;
        },
        30000);
    return ended ? said : said + "\n(nothing more within 30 s)";
}

void TestCommandLine::promptEndedGivesEchoBack_data() {
    // Typed at each prompt in turn (empty: the signal is sent), and how the
    // command ends: by that signal, or with that exit status if none.
    QTest::addColumn<QByteArrayList>("typed");
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("code");
    QTest::newRow("Ctrl+C") << QByteArrayList{"\x03"} << SIGINT << 0;
    QTest::newRow("Ctrl+\\") << QByteArrayList{"\x1c"} << SIGQUIT << 0;
    QTest::newRow("kill") << QByteArrayList{""} << SIGTERM << 0;
    QTest::newRow("terminal closed") << QByteArrayList{""} << SIGHUP << 0;
    // Asked twice on a terminal: a slip of the finger is never stored.
    QTest::newRow("typed again, otherwise") << QByteArrayList{"pw-1\n", "pw-2\n"} << 0 << 1;
    QTest::newRow("typed again, the same") << QByteArrayList{"pw-1\n", "pw-1\n"} << 0 << 0;
}

void TestCommandLine::promptEndedGivesEchoBack() {
    // The password prompt turns echo off on the user's own terminal; the
    // command ended there, by a key or a signal, must turn it back on, and
    // end as that signal ends a program, with nothing written. Asked twice,
    // the password is stored only when both agree.
    QFETCH(QByteArrayList, typed);
    QFETCH(int, signal);
    QFETCH(int, code);
    TestFolders f;
    prepare(f, {Scope::None, {}}, kRecords);
    const auto before = snapshot(f);
    const auto [terminal, ours, pid] =
        startOnTerminal(f, {"add", "--service", "s", "--username", "u"});
    QVERIFY(terminal >= 0 && ours >= 0 && pid > 0);
    QByteArray said;
    const char *prompts[] = {"Password for the record: ", "The same again: "};
    for (qsizetype i = 0; i < typed.size(); ++i) {
        // Typed only once asked: what comes before is flushed, as type-ahead should be.
        QVERIFY(QTest::qWaitFor([&] {
            readTerminal({terminal, ours, pid}, said);
            return said.contains(prompts[i]);
        }));
        termios modes{};
        QVERIFY(::tcgetattr(ours, &modes) == 0 && !(modes.c_lflag & ECHO)); // asking, unseen
        if (typed[i].isEmpty())
            ::kill(pid, signal);
        else
            QCOMPARE(::write(terminal, typed[i].constData(), size_t(typed[i].size())),
                     ssize_t(typed[i].size()));
    }
    int status = 0;
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    if (signal)
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == signal,
                 qPrintable(QString::number(status)));
    else
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == code,
                 qPrintable(QString::number(status)));
    termios modes{};
    QVERIFY(::tcgetattr(ours, &modes) == 0);
    QVERIFY2(modes.c_lflag & ECHO, "the terminal was left without echo");
    ::close(ours);
    ::close(terminal);
    if (signal || code)
        QCOMPARE(snapshot(f), before);
    else
        QVERIFY(fileBytes(f.paths.database()).contains(EncodeLine("s:!u:!pw-1:!:!")));
}

void TestCommandLine::outputThatCanNotBeWritten() {
    // A list or a password that did not reach its file is a failure; where
    // standard output and error are closed, no message lands in a file the
    // program opens (an export takes the first free number).
    TestFolders f;
    const Protection none{Scope::None, {}};
    prepare(f, none, kRecords);
    const auto run = [&](const QStringList &args, const QString &shell, const QByteArray &input) {
        QProcess process;
        process.setProcessEnvironment(programEnvironment(f, ProgramDisplay::None));
        process.setProgram("/bin/sh");
        process.setArguments(
            QStringList{"-c", "exec \"$0\" \"$@\" " + shell, f.paths.programFolder + "/varnlock"} +
            args);
        process.start();
        process.write(input);
        process.closeWriteChannel();
        process.waitForFinished(30000);
        return Run{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                   QString::fromUtf8(process.readAllStandardError())};
    };
    Run ran = run({"ls"}, ">/dev/full", {});
    QVERIFY2(ran.code == 1 && ran.err.contains("the output could not be written in full (No "
                                               "space left on device)."),
             qPrintable(ran.err));
    ran = run({"add", "--service", "post", "--username", "dan"}, ">/dev/full", "pw\n");
    QVERIFY2(ran.code == 1 && ran.err.contains("The change itself was made."), qPrintable(ran.err));
    QVERIFY(stored(f, none).contains("post:!dan:!pw:!:!"));

    ran = run({"ls"}, ">&- 2>&-", {});
    QCOMPARE(ran.code, 0);
    const QString exported = f.paths.programFolder + "/out.csv";
    ran = run({"export-csv", exported}, ">&- 2>&-", {});
    QCOMPARE(ran.code, 0);
    const QByteArray csv = fileBytes(exported);
    QVERIFY2(csv.startsWith("service,username,password,") && !csv.contains("varnlock") &&
                 !csv.contains("Wrote"),
             csv.constData());
}

void TestCommandLine::recordTextKeptOffTheTerminal() {
    // A record may hold control characters (an imported file's escape
    // sequences, a byte that reads as a C1 control): shown on a terminal they
    // would act on it (colours, its title, worse), so there they show as
    // U+FFFD; a pipe gets every byte as stored, for scripts.
    TestFolders f;
    const QByteArray name = "ev\x1b[31mil";
    prepare(f, {Scope::None, {}},
            {name + ":!u:!pw:!a\x1b]0;x\x07b\x9d:!", name + ":!v:!pw2:!:!", "ok:!o:!p:!:!"});
    const QList<QByteArray> commands[] = {
        {"ls"},
        {"search", "ev"},
        {"show", name, "--user", "u"},
        {"show", name, "--user", "u", "--json"},
        {"rm", name}, // two records: the candidates, on standard error
        {"health"}};
    for (const QList<QByteArray> &words : commands) {
        const OnTerminal run = startOnTerminal(f, words);
        QVERIFY(run.terminal >= 0 && run.pid > 0);
        QByteArray said;
        int status = 0;
        QVERIFY(QTest::qWaitFor([&] {
            readTerminal(run, said);
            return ::waitpid(run.pid, &status, WNOHANG) == run.pid;
        }));
        readTerminal(run, said);
        ::close(run.ours);
        ::close(run.terminal);
        const QByteArray where = words.join(' ') + ": " + said.toPercentEncoding(" :()");
        // JSON writes the C0 ones as escapes itself.
        QVERIFY2(
            said.contains(words.contains("--json") ? "ev\\u001b[31mil" : "ev\xEF\xBF\xBD[31mil"),
            where.constData());
        QVERIFY2(said.contains("\xEF\xBF\xBD") &&
                     words.contains("--json") == said.contains("\\u001b"),
                 where.constData());
        QVERIFY2(!said.contains('\x1b') && !said.contains('\x07') && !said.contains("\xC2\x9D"),
                 where.constData());
    }
    const Run piped = runProgram(f, {"search", "ev"});
    QCOMPARE(piped.out.toUtf8(), name + "\tu\n" + name + "\tv\n");
}

void TestCommandLine::writesReachTheDisk() {
    // What the program's own trace of its syncs can not show: that the system
    // calls are made. A spy loaded into the real program logs each sync and
    // rename that succeeded. An added record is synced before the command
    // ends; a whole write is synced under its temporary name, renamed over
    // the store, and then the folder is synced, so the new name outlives a
    // power cut too.
    const QByteArray asan = qgetenv("ASAN_OPTIONS");
    const auto restore = qScopeGuard([&] {
        qunsetenv("LD_PRELOAD");
        qunsetenv("VARNLOCK_SYNC_LOG");
        qputenv("ASAN_OPTIONS", asan);
    });
    qputenv("LD_PRELOAD", VARNLOCK_SYNC_SPY);
    // The sanitizers' runtime would insist on being loaded first.
    qputenv("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
    for (const Protection &p : {Protection{Scope::None, {}}, Protection{Scope::Strong, "pw"}}) {
        TestFolders f;
        prepare(f, p, kRecords);
        const QString log = f.paths.tempFolder + "/syncs.log";
        qputenv("VARNLOCK_SYNC_LOG", QFile::encodeName(log));
        const QString data = QFileInfo(f.paths.dataFolder()).canonicalFilePath();
        const QString store = data + '/' + QFileInfo(StoreFile(f.paths, p.scope)).fileName();
        const struct {
            QStringList args;
            QByteArray input;
            QStringList synced;
        } rows[] = {
            {{"add", "--service", "new", "--username", "n"}, "pw-n\n", {"fdatasync " + store}},
            {{"edit", "bank", "--other", "changed"},
             {},
             {"fsync " + store + ".part", "rename " + store, "fsync " + data}},
        };
        for (const auto &row : rows) {
            QFile::remove(log);
            const Run run = runProgram(f, row.args, p.line() + row.input);
            QVERIFY2(run.code == 0, qPrintable(run.err));
            QCOMPARE(QString::fromLocal8Bit(fileBytes(log)).split('\n', Qt::SkipEmptyParts),
                     row.synced);
        }
    }
}

// Whether another process comes to hold the records of the test's folder.
bool heldSoon(const TestFolders &f) {
    return QTest::qWaitFor(
        [&] {
            Platform::FolderLock probe;
            return probe.lock(f.paths.dataFolder()) == Platform::FolderLock::Result::Busy;
        },
        20000);
}

void TestCommandLine::heldFolderRefusesWrites() {
    // The real window holds the records: every writing command is refused at
    // once (not waited out) and writes nothing; reading goes on beside it.
    for (const Protection &p : {Protection{Scope::None, {}}, Protection{Scope::Strong, "pw"}}) {
        TestFolders f;
        prepare(f, p, kRecords);
        QProcess window;
        startProgram(window, f, {}, ProgramDisplay::Offscreen);
        const auto stop = qScopeGuard([&window] {
            window.kill();
            window.waitForFinished();
        });
        QVERIFY(
            QTest::qWaitFor([&] { return Platform::windowMarks(f.paths.programFolder); }, 20000));
        const auto before = snapshot(f);
        for (const QStringList &args :
             {QStringList{"add", "--service", "x", "--username", "y"}, QStringList{"rm", "bank"},
              QStringList{"edit", "bank", "--other", "o"}, QStringList{"import-csv", "any.csv"},
              QStringList{"merge", f.paths.programFolder + "/nothing.pdb"}}) {
            const Run run = runProgram(f, args, p.line() + "pw\n");
            QVERIFY2(run.code == 1 && run.err.contains("open in a Varnlock window") &&
                         run.err.contains("Nothing was changed") && !run.err.contains("waiting"),
                     qPrintable(args.join(' ') + ": " + run.err));
        }
        EXPECT_RUN(runProgram(f, {"show", "bank", "--field", "password"}, p.line()), 0, "pw-c\n");
        QCOMPARE(snapshot(f), before);
    }
}

void TestCommandLine::settingsSetAsideWithTheRecordsPassword() {
    // Another computer's new password came with its records, its settings
    // were set aside by a sync tool. A reading command says where they lie
    // and changes nothing; a writing one takes them, says so, and writes.
    TestFolders f;
    const Protection theirs{Scope::ProgramAndDBase, "new8"};
    prepare(f, theirs, kRecords);
    const QString copyPath =
        f.paths.dataFolder() + "/chestward.sync-conflict-20261211-101500-ABCDEFG.cnf";
    QVERIFY(QFile::rename(f.paths.config(), copyPath));
    QCOMPARE(WriteSettingsFile(f.paths, settingsLine(Scope::ProgramAndDBase, "key7")),
             SettingsStatus::Ok);
    const QByteArray copy = fileBytes(copyPath);
    const auto before = snapshot(f);
    const Run read = runProgram(f, {"ls"}, "key7\n");
    QVERIFY2(read.code == 1 && read.err.contains("does not decipher") &&
                 read.err.contains("chestward.sync-conflict-20261211-101500-ABCDEFG.cnf lies "
                                   "beside them"),
             qPrintable(read.err));
    QCOMPARE(snapshot(f), before);
    const Run added =
        runProgram(f, {"add", "--service", "post", "--username", "cy"}, "new8\npw-d\n");
    QVERIFY2(added.code == 0 && added.err.contains("The settings were changed on two computers"),
             qPrintable(added.err));
    QCOMPARE(fileBytes(f.paths.config()), copy);
    QVERIFY(!QFile::exists(copyPath));
    QCOMPARE(stored(f, theirs),
             RecordList(kRecords + QList<QByteArray>{"post:!cy:!pw-d:!:!"}).toList());
}

void TestCommandLine::commandWaitsForAnother() {
    // A command waits for its input while it holds the records. A second
    // writing command waits for it to end instead of failing, and a window
    // started meanwhile says that a command has them, not a window.
    const Protection p{Scope::Strong, "pw"};
    TestFolders f;
    prepare(f, p, kRecords);
    QProcess first, second, window;
    startProgram(first, f, {"add", "--service", "one", "--username", "u"});
    QVERIFY(heldSoon(f));
    startProgram(window, f, {}, ProgramDisplay::Offscreen);
    const QString windowSaid = waitToSay(window, "A varnlock command is at work");
    window.kill();
    window.waitForFinished();
    QVERIFY2(windowSaid.contains("A varnlock command is at work on the records of this program "
                                 "folder"),
             qPrintable(windowSaid));
    startProgram(second, f, {"add", "--service", "two", "--username", "u"});
    const QString secondSaid = waitToSay(second, "waiting up to 30 seconds");
    QVERIFY2(secondSaid.contains("another varnlock command is at work on these records"),
             qPrintable(secondSaid));
    second.write(p.line() + "pw-2\n");
    second.closeWriteChannel();
    first.write(p.line() + "pw-1\n");
    first.closeWriteChannel();
    QVERIFY(first.waitForFinished(30000) && first.exitCode() == 0);
    QVERIFY(second.waitForFinished(30000) && second.exitCode() == 0);
    QVERIFY2(second.readAllStandardOutput() == "Stored two (u).\n",
             second.readAllStandardError().constData());
    QCOMPARE(sorted(stored(f, p)),
             sorted(kRecords + QList<QByteArray>{"one:!u:!pw-1:!:!", "two:!u:!pw-2:!:!"}));

    // A command that lets the records go within a moment: the window waits
    // for it, and comes up.
    QProcess third;
    startProgram(third, f, {"rm", "one"});
    QVERIFY(heldSoon(f));
    startProgram(window, f, {}, ProgramDisplay::Offscreen);
    QTest::qWait(300);
    third.write(p.line());
    third.closeWriteChannel();
    QVERIFY(third.waitForFinished(30000) && third.exitCode() == 0);
    QVERIFY(QTest::qWaitFor([&] { return Platform::windowMarks(f.paths.programFolder); }, 20000));
    window.kill();
    window.waitForFinished();
    QVERIFY2(!window.readAllStandardError().contains("at work"), "the window did not wait");
}

void TestCommandLine::usageErrorsAndGenerator() {
    TestFolders f;
    prepare(f, {Scope::None, {}}, kRecords);
    // Not stores, whatever their names: said so before any password is asked.
    const QString csv = f.root.filePath("export.csv"), named = f.root.filePath("CW2DB.sdb");
    writeBytes(csv, "service,username,password\r\nbank,ann,pw\r\n");
    writeBytes(named, "VLSTRON");
    const auto before = snapshot(f);
    const struct {
        QStringList args;
        int code;
        const char *out; // the start of standard output
        const char *err;
    } rows[] = {
        {{"ls", "--help"}, 0, "Usage: varnlock ls [TEXT] [--json]\n", ""},
        {{"merge", "-h"},
         0,
         "Usage: varnlock merge FILE [--dry-run] [--take-passphrase] [--json]\n",
         ""},
        {{"show"}, 2, "", "varnlock: show needs NAME\nUse: varnlock show NAME"},
        {{"ls", "a", "b"}, 2, "", "ls takes no argument b"},
        {{"ls", "--bogus"}, 2, "", "ls takes no option --bogus"},
        {{"show", "bank", "--field"}, 2, "", "--field needs a value"},
        {{"show", "bank", "--field", "pw"}, 2, "", "--field is one of service, username"},
        {{"add", "--service", "a", "--username", "b", "--generate", "4"}, 2, "", "1, 2 or 3"},
        {{"generate", "--level", "4"}, 2, "", "--level is 1, 2 or 3"},
        {{"generate", "--level", "2", "--length", "9"}, 2, "", "--length is for level 3"},
        {{"generate", "--length", "0"}, 2, "", "--length is 1 to 32766"},
        {{"edit", "bank"}, 2, "", "edit changes nothing without"},
        {{"clip", "bank", "--timeout", "-1"}, 2, "", "--timeout is a number of seconds"},
        {{"clip", "bank"}, 1, "", "clip needs a display"},
        {{"merge", "nowhere"}, 1, "", "nowhere is not there."},
        {{"merge", f.paths.programFolder}, 1, "", "That is the store in use here"},
        {{"merge", csv}, 1, "", "export.csv is not a Varnlock store: a store's file ends in"},
        {{"merge", named}, 1, "", "CW2DB.sdb is not a Varnlock store"},
        {{"merge", "/dev/null"}, 1, "", "/dev/null is not a file."},
    };
    for (const auto &row : rows) {
        const Run run = runProgram(f, row.args);
        QVERIFY2(run.code == row.code &&
                     run.out.left(qsizetype(qstrlen(row.out))) == QLatin1String(row.out) &&
                     run.err.contains(QLatin1String(row.err)),
                 qPrintable(
                     row.args.join(' ') +
                     QString(": code %1, out <%2>, err <%3>").arg(run.code).arg(run.out, run.err)));
    }
    // Proposals of each level, from the generator's alphabets; no two alike,
    // not even from two runs of the same command (a generator seeded the
    // same at each start would give the same passwords to everyone).
    const struct {
        QStringList args;
        const char *pattern;
    } proposals[] = {
        {{"generate", "--level", "1"}, "^[1-9A-Z]{6}\n$"},
        {{"generate", "--level", "2"}, "^[1-9A-Z]{8}\n$"},
        {{"generate"}, "^[1-9A-Za-z]{20}\n$"},
        {{"generate", "--length", "64"}, "^[1-9A-Za-z]{64}\n$"},
    };
    QSet<QString> seen;
    for (int again = 0; again < 2; ++again) {
        for (const auto &row : proposals) {
            const Run run = runProgram(f, row.args);
            QVERIFY2(run.code == 0 && QRegularExpression(row.pattern).match(run.out).hasMatch(),
                     qPrintable(run.out + run.err));
            QVERIFY2(!seen.contains(run.out), qPrintable(run.out));
            seen.insert(run.out);
        }
    }
    QCOMPARE(snapshot(f), before);
}

namespace {

QString clipboardText(const char *target = nullptr) {
    QProcess xclip;
    QStringList args{"-o", "-selection", "clipboard"};
    if (target)
        args << "-t" << target;
    xclip.start("xclip", args);
    xclip.waitForFinished(5000);
    return QString::fromUtf8(xclip.readAllStandardOutput());
}

void setClipboard(const QByteArray &text) {
    QProcess xclip; // it stays behind to hold the text, as xclip does
    xclip.start("xclip", {"-i", "-selection", "clipboard"});
    xclip.write(text);
    xclip.closeWriteChannel();
    xclip.waitForFinished(5000);
}

bool waitForClipboard(const QString &text, int ms = 8000) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        if (clipboardText() == text)
            return true;
        QTest::qWait(100);
    }
    return false;
}

} // namespace

void TestCommandLine::clipRestoresTheClipboard() {
    // On the X server of run-under-xvfb.sh only: never the user's own clipboard.
    if (qEnvironmentVariable("VARNLOCK_TEST_X") != "1")
        QSKIP("needs the X server of run-under-xvfb.sh");
    TestFolders f;
    const Protection p{Scope::ProgramOnly, "key7"};
    prepare(f, p, kRecords);
    setClipboard("copied before");
    QVERIFY(waitForClipboard("copied before"));

    QProcess clip;
    clip.start(f.paths.programFolder + "/varnlock", {"clip", "mail", "--timeout", "2"});
    clip.write(p.line());
    clip.closeWriteChannel();
    QVERIFY(waitForClipboard("pw-a"));
    // Marked as a secret for the clipboard managers.
    QVERIFY(clipboardText("TARGETS").contains("x-kde-passwordManagerHint"));
    QVERIFY(clip.waitForFinished(10000));
    QCOMPARE(clip.exitCode(), 0);
    QVERIFY2(clip.readAllStandardOutput().contains("holds again what it held before"),
             "the command did not say what it put back");
    // Put back, and held after the command ended.
    QVERIFY(waitForClipboard("copied before"));
    QTest::qWait(500);
    QCOMPARE(clipboardText(), QString("copied before"));

    // Something copied meanwhile is left alone.
    clip.start(f.paths.programFolder + "/varnlock",
               {"clip", "mail", "--field", "username", "--timeout", "30"});
    clip.write(p.line());
    clip.closeWriteChannel();
    QVERIFY(waitForClipboard("ann"));
    setClipboard("copied since");
    QVERIFY(clip.waitForFinished(10000));
    QVERIFY(clip.readAllStandardOutput().contains("left as it is"));
    QCOMPARE(clipboardText(), QString("copied since"));

    // Ended early by Ctrl+C, a kill or the terminal closed: cleared and put back all the same.
    // (The first runs with the timeout it promises when none is given.)
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        setClipboard("copied before");
        QVERIFY(waitForClipboard("copied before"));
        clip.start(f.paths.programFolder + "/varnlock",
                   signal == SIGINT ? QStringList{"clip", "mail"}
                                    : QStringList{"clip", "mail", "--timeout", "30"});
        clip.write(p.line());
        clip.closeWriteChannel();
        QVERIFY(waitForClipboard("pw-a"));
        ::kill(pid_t(clip.processId()), signal);
        QVERIFY(clip.waitForFinished(10000));
        QVERIFY2(waitForClipboard("copied before"), qPrintable(QString::number(signal)));
        if (signal == SIGINT)
            QVERIFY(clip.readAllStandardOutput().contains("on the clipboard for 20 s."));
    }

    // With no timeout it stays after the command ends.
    QCOMPARE(runProgram(f, {"clip", "bank", "--timeout", "0"}, p.line(), true).code, 0);
    QTest::qWait(300);
    QCOMPARE(clipboardText(), QString("pw-c"));
    QVERIFY(clipboardText("TARGETS").contains("x-kde-passwordManagerHint")); // the holder's too
    // A secret copied before (that clip's, the window's) is not put back:
    // unmarked and held for good, it would outlive every clearing.
    const Run second = runProgram(f, {"clip", "mail", "--timeout", "1"}, p.line(), true);
    QCOMPARE(second.code, 0);
    QTest::qWait(300);
    QCOMPARE(clipboardText(), QString());
    QVERIFY2(second.out.contains("was a secret, so it is not put back"), qPrintable(second.out));
    setClipboard("done"); // and the holder ends when another program takes it
}

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
