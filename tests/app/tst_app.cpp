#include "../common/commandrun.h"
#include "../common/parts.h"
#include "../common/testfolders.h"

#include "session.h"
#include "settings.h"
#include "splash.h"

#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <QtTest>

// The splash before the main window, and the built program run with
// --import-csv and --export-csv as a script runs it: no display, the password
// on standard input.

namespace {

struct Recorder {
    QStringList opened;
    int mainShown = 0;
    bool splashVisibleWhenMainShown = false;

    UiHooks hooks() {
        UiHooks h;
        h.message = [](QMessageBox::Icon, const QString &, const QString &) {};
        h.open = [this](const QString &target) { opened.append(target); };
        h.endProgram = [] {};
        return h;
    }
};

} // namespace

class TestApp : public QObject {
    Q_OBJECT
private slots:
    void splashClicks();
    void csvCommands();
    void answersWithoutADisplay();
    void librariesInTheWorkingFolderAreNotLoaded();
};

void TestApp::splashClicks() {
    // (Left alone it closes itself: every start of the built program in
    // tst_twocopies waits for the main window behind it.)
    Recorder r;
    QPointer<Splash> splash;
    splash = new Splash(r.hooks(), [&] {
        ++r.mainShown;
        r.splashVisibleWhenMainShown = splash && splash->isVisible();
    });
    part<QTimer>(splash, "closeTimer")->stop(); // kept up for the clicks
    splash->show();
    QVERIFY(QTest::qWaitForWindowExposed(splash));
    // A text does nothing; the address and the picture open the home page.
    QTest::mouseClick(part<QLabel>(splash, "slogan"), Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseClick(part<QLabel>(splash, "homePageLink"), Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseClick(part<QLabel>(splash, "logo"), Qt::LeftButton, {}, QPoint(2, 2));
    QCOMPARE(r.opened, (QStringList{kHomePage, kHomePage}));
    QCOMPARE(r.mainShown, 0);
    // The background closes it at once, the main window's start-up running
    // while it is still up, and its timer never fires after.
    part<QTimer>(splash, "closeTimer")->start();
    QTest::mouseClick(splash, Qt::LeftButton, {}, QPoint(20, 200));
    QCOMPARE(r.mainShown, 1);
    QVERIFY(r.splashVisibleWhenMainShown);
    QTRY_VERIFY(splash.isNull());
    QTest::qWait(1100);
    QCOMPARE(r.mainShown, 1);
}

void TestApp::csvCommands() {
    TestFolders f;
    QVERIFY(QFile::copy(VARNLOCK_PATH, f.paths.programFolder + "/varnlock"));
    QCOMPARE(WriteSettingsFile(f.paths, settingsLine(Scope::ProgramOnly, "key7")),
             SettingsStatus::Ok);
    const QByteArray bank = "Bank:!ann:!say \"hi\":!:!";
    writeBytes(f.paths.database(), storeBytes({bank}));
    const QString keepass = QFINDTESTDATA("../store/data/csv/keepassxc.csv");
    const auto before = snapshot(f);

    // Three wrong passwords, a malformed file, or a window holding the
    // folder: refused, nothing changed.
    Run run = runProgram(f, {"--import-csv", keepass}, "a\nb\nc\nkey7\n");
    QCOMPARE(run.code, 1);
    QVERIFY2(run.err.contains("Access Error"), qPrintable(run.err));
    const QString bad = f.root.filePath("bad.csv");
    writeBytes(bad, "url,username,password\nx,\"u\n");
    run = runProgram(f, {"--import-csv", bad}, "key7\n");
    QCOMPARE(run.code, 1);
    QVERIFY2(run.err.contains("is never closed. Nothing was changed."), qPrintable(run.err));
    {
        Session window(f.paths); // holds and marks the folder as a running window does
        QCOMPARE(window.lock(), Platform::FolderLock::Result::Locked);
        Platform::markWindowOn(f.paths.programFolder);
        run = runProgram(f, {"--import-csv", keepass}, "key7\n");
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains("open in a Varnlock window"), qPrintable(run.err));
    }
    QCOMPARE(snapshot(f), before);

    // The second try is right: what was added, skipped and refused, by line.
    run = runProgram(f, {"--import-csv", keepass}, "wrong\nkey7\n");
    QCOMPARE(run.code, 0);
    QVERIFY2(run.out.contains("line 5: refused: the Service holds"), qPrintable(run.out));
    QVERIFY(run.out.contains("line 4: skipped: identical to a stored record"));
    QVERIFY(run.out.contains("Not carried into the records: Group, Icon, Last Modified, "
                             "Created\n"));
    QVERIFY(run.out.contains("TOTP \u2192 one-time code"));
    QVERIFY(run.out.contains("Added 1, skipped 1 already stored or repeated, refused 1."));
    const QByteArray mail =
        "Mail:!ann@example.org:!p4ss, with comma:!two lines:!https://mail.example.org/";
    QCOMPARE(fileBytes(f.paths.database()), storeBytes({bank, mail}));

    // Export writes a new file, the user's alone, and never over one.
    const QString out = f.root.filePath("out.csv");
    run = runProgram(f, {"--export-csv", out}, "key7\n");
    QCOMPARE(run.code, 0);
    QCOMPARE(modeOf(out), 0600);
    const QByteArray exported = "service,username,password,notes,url,totp\r\n"
                                "Bank,ann,\"say \"\"hi\"\"\",,,\r\n"
                                "Mail,ann@example.org,\"p4ss, with comma\",two lines,"
                                "https://mail.example.org/,\r\n";
    QCOMPARE(fileBytes(out), exported);
    run = runProgram(f, {"--export-csv", out}, "key7\n");
    QCOMPARE(run.code, 1);
    QVERIFY2(run.err.contains("exists already"), qPrintable(run.err));
    QCOMPARE(fileBytes(out), exported);
    QCOMPARE(QDir(f.root.path()).entryList(QDir::Files), (QStringList{"bad.csv", "out.csv"}));

    // A strong store whose header is damaged is named as such, not taken for
    // a wrong password, and nothing is asked again or written.
    QCOMPARE(WriteSettingsFile(f.paths, settingsLine(Scope::Strong, {})), SettingsStatus::Ok);
    writeBytes(f.paths.strongStore(),
               QByteArray("VLSTRONG\x03\x00\x02", 11) + QByteArray(200, '\x01'));
    const auto damaged = snapshot(f);
    run = runProgram(f, {"--export-csv", f.root.filePath("strong.csv")}, "any\nother\n");
    QCOMPARE(run.code, 1);
    QVERIFY2(run.err.contains("is damaged: its header") && !run.err.contains("not the master"),
             qPrintable(run.err));
    QCOMPARE(snapshot(f), damaged);
}

void TestApp::answersWithoutADisplay() {
    // The help, the version and a wrong command line are answered on the
    // terminal, with no display and no window, and touch no file.
    TestFolders f;
    QVERIFY(QFile::copy(VARNLOCK_PATH, f.paths.programFolder + "/varnlock"));
    const auto before = snapshot(f);
    const struct {
        QStringList args;
        int code;
        const char *out; // the start of standard output
        const char *err; // a part of standard error
    } rows[] = {
        {{"--help"}, 0, "Usage: varnlock [COMMAND [ARGUMENT...]]", ""},
        {{"-h"}, 0, "Usage: varnlock [COMMAND [ARGUMENT...]]", ""},
        {{"--version"}, 0, "varnlock 1.0\n", ""},
        {{"-V"}, 0, "varnlock 1.0\n", ""},
        {{"--bogus"}, 2, "", "varnlock: unknown option --bogus\nUsage: varnlock"},
        {{"-platform", "offscreen", "extra"}, 2, "", "no command is called extra, and the window"},
        {{"--json", "show", "x"}, 2, "", "varnlock: --json goes after the command: varnlock show"},
    };
    for (const auto &row : rows) {
        const Run run = runProgram(f, row.args);
        const QString said = row.args.join(' ') + ": " + run.out + run.err;
        QVERIFY2(run.code == row.code, qPrintable(said));
        QVERIFY2(run.out.left(qsizetype(qstrlen(row.out))) == QLatin1String(row.out),
                 qPrintable(said));
        QVERIFY2(run.err.contains(QLatin1String(row.err)), qPrintable(said));
    }
    QCOMPARE(snapshot(f), before);
}

void TestApp::librariesInTheWorkingFolderAreNotLoaded() {
    // Started from a folder that holds files named as its libraries (a
    // download folder, say), the program and its window load the system's:
    // an empty entry in a search path would be that folder.
    TestFolders f;
    QVERIFY(QFile::copy(VARNLOCK_PATH, f.paths.programFolder + "/varnlock"));
    const QString here = f.paths.programFolder + "/downloads";
    QVERIFY(QDir().mkpath(here));
    for (const char *name : {"libsodium.so.23", "libzxcvbn.so.0", "libQt6Core.so.6",
                             "libQt6Gui.so.6", "libQt6Widgets.so.6", "libQt6DBus.so.6"})
        writeBytes(here + '/' + name, "not a library");
    for (const QStringList &args : {QStringList{"--version"}, QStringList{"--time-startup"}}) {
        QProcess process;
        process.setWorkingDirectory(here);
        startProgram(process, f, args, ProgramDisplay::Offscreen);
        QVERIFY(process.waitForFinished(30000));
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(process.exitCode() == 0, qPrintable(args.join(' ') + ": " + err));
        QVERIFY2(args.first() == "--version" || err.contains("window ready"), qPrintable(err));
    }
}

QTEST_MAIN(TestApp)
#include "tst_app.moc"
