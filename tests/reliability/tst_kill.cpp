#include "../common/testfolders.h"

#include "killmodel.h"
#include "storepaths.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <thread>

using namespace KillModel;

namespace {

constexpr int kKills = 200;

qint64 readProgress(const QString &path) {
    QFile file(path);
    qint64 count = -1;
    if (file.open(QIODevice::ReadOnly))
        file.read(reinterpret_cast<char *>(&count), sizeof count);
    return count;
}

// The files a start-up may find in Data: the settings and the one store file
// of their scope, nothing half-written and nothing staged.
bool onlyWholeFiles(const StorePaths &paths, Scope scope, QString &why) {
    QStringList expected{QFileInfo(paths.config()).fileName(),
                         QFileInfo(StoreFile(paths, scope)).fileName()};
    QStringList found = QDir(paths.dataFolder()).entryList(QDir::Files | QDir::Hidden);
    expected.sort();
    found.sort();
    if (found != expected) {
        why = QStringLiteral("Data holds %1").arg(found.join(u' '));
        return false;
    }
    if (QFileInfo::exists(paths.tempFile())) {
        why = QStringLiteral("the temporary file was left");
        return false;
    }
    return true;
}

} // namespace

class TestKill : public QObject {
    Q_OBJECT
private slots:
    void survivesKills_data();
    void survivesKills();
};

void TestKill::survivesKills_data() {
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"replace", "remove", "add", "import", "scope", "strong", "merge"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

void TestKill::survivesKills() {
    QFETCH(QString, kind);
    const Kind k = kindFromName(kind);
    QRandomGenerator random(quint32(qHash(kind)));
    int survived = 0, midway = 0;
    qint64 operations = 0;
    QStringList failures;
    for (int round = 0; round < kKills; ++round) {
        TestFolders f(false);
        // A merge needs the strong store; the others alternate between two protections.
        const State first = initialState(k == Kind::Merge ? Scope::Strong
                                         : k == Kind::Scope || k == Kind::Strong || round % 2 == 0
                                             ? Scope::None
                                             : Scope::ProgramAndDBase);
        QVERIFY(writeInitialState(f.paths, first));
        if (k == Kind::Import)
            writeBytes(f.paths.oldDatabase(), oldDatabaseBytes());
        const QString progress = f.root.path() + "/progress";
        writeBytes(progress, QByteArray(8, '\0'));

        QProcess driver;
        driver.start(QStringLiteral(KILLDRIVER_PATH),
                     {kind, f.paths.programFolder, f.paths.tempFolder,
                      QString(QChar(ScopeDigit(first.scope))), progress});
        QVERIFY(driver.waitForReadyRead(10000));
        // Long enough to land anywhere in an operation: a strong store's
        // derivation alone takes a good part of a second.
        std::this_thread::sleep_for(
            std::chrono::microseconds(random.bounded(k == Kind::Strong  ? 400000
                                                     : k == Kind::Merge ? 100000
                                                                        : 30000)));
        driver.kill(); // SIGKILL: no handler, no clean-up
        QVERIFY(driver.waitForFinished(10000));
        QVERIFY2(driver.exitStatus() == QProcess::CrashExit, driver.readAllStandardError());

        const qint64 done = readProgress(progress);
        QVERIFY(done >= 0);
        operations += done;
        State before = first;
        for (int i = 0; i < done; ++i)
            before = next(before, k, i);
        const State after = next(before, k, int(done));

        State found;
        QString why;
        if (!readBack(f.paths, found, {before.password, after.password})) {
            why = QStringLiteral("the store could not be read back");
        } else if (!(found == before) && !(found == after)) {
            why = QStringLiteral("%1 records under scope %2, neither state")
                      .arg(found.records.size())
                      .arg(int(found.scope));
        } else {
            midway += found == after ? 1 : 0;
            if (onlyWholeFiles(f.paths, found.scope, why))
                ++survived;
        }
        if (!why.isEmpty())
            failures
                << QStringLiteral("kill %1 after %2 operations: %3").arg(round).arg(done).arg(why);
    }
    qInfo("%s: %d of %d kills survived (%lld operations finished in all; %d kills found the "
          "interrupted operation complete)",
          qPrintable(kind), survived, kKills, operations, midway);
    for (const QString &failure : failures.mid(0, 5))
        qWarning("%s", qPrintable(failure));
    QCOMPARE(survived, kKills);
}

QTEST_GUILESS_MAIN(TestKill)
#include "tst_kill.moc"
