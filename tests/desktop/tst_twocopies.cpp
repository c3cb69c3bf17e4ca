#include "../common/realprogram.h"

#include <QRegularExpression>

// Real copies of the program on one program folder, on an X server of their
// own (see run-under-xvfb.sh), driven and read with xdotool as a user would.

namespace {

// The built program in a program folder of its own, beside its records.
void install(const TestFolders &f, const QList<QByteArray> &records) {
    installProgram(f);
    writeBytes(f.paths.database(), storeBytes(records));
}

} // namespace

class TestTwoCopies : public QObject {
    Q_OBJECT
private slots:
    void secondStartNeverOpensTheRecords();
    void holdFollowsDataSwappedByHand();
};

void TestTwoCopies::secondStartNeverOpensTheRecords() {
    TestFolders f(false);
    install(f, {"alpha:!a:!1:!:!", "beta:!b:!2:!:!"});

    Copy first(f);
    QVERIFY2(!waitForWindow(first.pid(), "^V\\.L\\.$").isEmpty(), "the first copy has no window");
    // The running program leaves no core (that no other process of the user
    // can read it is checked as another user, in the package test).
    QFile limits(QStringLiteral("/proc/%1/limits").arg(first.pid()));
    QVERIFY(limits.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromLatin1(limits.readAll())
                .contains(QRegularExpression("Max core file size +0 +0 ")));
    const auto before = snapshot(f);

    // The second start says so in a message box and opens no main window.
    Copy second(f);
    const QStringList box = waitForWindow(second.pid());
    QVERIFY2(!box.isEmpty(), "the second copy showed nothing");
    QVERIFY(windowsOf(second.pid(), "^V\\.L\\.$").isEmpty());
    QCOMPARE(second.process.state(), QProcess::Running); // waiting on its message
    // Answered from the keyboard, the box ends the second copy.
    QProcess::execute("xdotool", {"windowfocus", "--sync", box.first()});
    QProcess::execute("xdotool", {"key", "Return"});
    QVERIFY(second.process.waitForFinished(10000));
    QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process.exitCode(), 0);
    QVERIFY(second.process.readAllStandardError().contains("already open in another"));
    QCOMPARE(snapshot(f), before);
    QCOMPARE(first.process.state(), QProcess::Running);

    // A copy killed outright leaves no hold behind: the next start works at once.
    first.process.kill();
    QVERIFY(first.process.waitForFinished(5000));
    Copy third(f);
    QVERIFY2(!waitForWindow(third.pid(), "^V\\.L\\.$").isEmpty(),
             qPrintable("the next start was refused: " + third.process.readAllStandardError()));
    QCOMPARE(snapshot(f).value(f.paths.database()), before.value(f.paths.database()));
}

void TestTwoCopies::holdFollowsDataSwappedByHand() {
    // mv Data Data.broken; cp -a backup/Data . while the window is open: a
    // second start must still find the records held.
    TestFolders f(false);
    install(f, {"alpha:!a:!1:!:!"});
    QVERIFY(QProcess::execute("cp", {"-a", f.paths.dataFolder(), f.paths.tempFolder + "/Data"}) ==
            0);
    Copy first(f);
    QVERIFY2(!waitForWindow(first.pid(), "^V\\.L\\.$").isEmpty(), "the first copy has no window");
    QVERIFY(QDir().rename(f.paths.dataFolder(), f.paths.programFolder + "/Data.broken"));
    QVERIFY(QProcess::execute("cp", {"-a", f.paths.tempFolder + "/Data", f.paths.programFolder}) ==
            0);
    QTest::qWait(1500); // the window notices and reads the folder again

    Copy second(f);
    QElapsedTimer clock;
    clock.start();
    while (!second.process.readAllStandardError().contains("already open in another") &&
           clock.elapsed() < 10000)
        QTest::qWait(100);
    QVERIFY2(clock.elapsed() < 10000, "the second start opened the swapped folder");
    QVERIFY(windowsOf(second.pid(), "^V\\.L\\.$").isEmpty());
}

QTEST_GUILESS_MAIN(TestTwoCopies)
#include "tst_twocopies.moc"
