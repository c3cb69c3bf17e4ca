#include "../common/guiharness.h"

#include "copymergewindow.h"
#include "database.h"
#include "strongstore.h"

#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTcpServer>

// Two real Syncthing instances on this machine (loopback only: no discovery,
// no relays, no upgrades, homes in a throwaway folder) share the Data folders
// of two program folders. Each side changes the records while the other is
// away; when they meet, the sync tool's conflict copy is settled, and both
// windows list every record either side stored.

namespace {

// Long enough for a slow, busy machine (a settled sync takes seconds here).
constexpr int kWait = 60000;

quint16 freePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

QByteArray run(const QStringList &args) {
    QProcess p;
    p.start(QStringLiteral("syncthing"), args);
    p.waitForFinished(30000);
    return p.readAllStandardOutput().trimmed();
}

// One instance: its home, its ports and its REST key.
struct Instance {
    QString home, data, id, key = QStringLiteral("varnlock-test-key");
    quint16 gui = 0, listen = 0;
    QProcess process;
};

class SyncthingPair {
public:
    SyncthingPair(const QString &root, const QString &dataA, const QString &dataB) {
        Instance *both[] = {&a, &b};
        const QString data[] = {dataA, dataB};
        for (int i = 0; i < 2; ++i) {
            Instance &in = *both[i];
            in.home = root + (i == 0 ? "/st-a" : "/st-b");
            in.data = data[i];
            run({"generate", "--home=" + in.home, "--no-default-folder", "--skip-port-probing"});
            in.id = QString::fromLatin1(run({"serve", "--home=" + in.home, "--device-id"}));
            in.gui = freePort();
            in.listen = freePort();
            // The folder's marker, made as the user's own.
            QDir().mkpath(in.data + "/.stfolder");
            QFile::setPermissions(in.data + "/.stfolder",
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        for (int i = 0; i < 2; ++i)
            configure(*both[i], *both[1 - i]);
        for (Instance *in : both) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("STNOUPGRADE", "1");
            env.insert("STNORESTART", "1");
            env.insert("HOME", root);
            in->process.setProcessEnvironment(env);
            in->process.setProcessChannelMode(QProcess::MergedChannels);
            start(*in);
        }
    }
    ~SyncthingPair() {
        for (Instance *in : {&a, &b})
            stop(*in);
    }
    void start(Instance &in) {
        in.process.start("syncthing", {"serve", "--home=" + in.home, "--no-browser", "--no-restart",
                                       "--no-upgrade", "--logfile=" + in.home + "/log.txt"});
    }
    // The computer goes offline: its sync tool stops.
    void stop(Instance &in) {
        if (in.process.state() == QProcess::NotRunning)
            return;
        rest(in, "POST", "/rest/system/shutdown");
        if (!in.process.waitForFinished(5000)) {
            in.process.kill();
            in.process.waitForFinished(5000);
        }
        m_log += in.process.readAll();
    }

    // The computer is back online: its sync tool starts and meets the other
    // one. A start that has not met it in a while is made again (the tool's
    // own trouble, not the program's); false when none did.
    bool reunite(Instance &in) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (attempt > 0)
                stop(in);
            start(in);
            if (QTest::qWaitFor([this] { return up() && connected(); }, 25000))
                return true;
        }
        return false;
    }

    bool up() {
        return rest(a, "GET", "/rest/system/ping").contains("pong") &&
               rest(b, "GET", "/rest/system/ping").contains("pong");
    }
    void scan() {
        for (Instance *in : {&a, &b})
            if (in->process.state() == QProcess::Running)
                rest(*in, "POST", "/rest/db/scan?folder=varnlock");
    }
    // Whether each side has the other connected now.
    bool connected() {
        for (Instance *in : {&a, &b}) {
            const QJsonObject all =
                QJsonDocument::fromJson(rest(*in, "GET", "/rest/system/connections")).object();
            const QString peer = in == &a ? b.id : a.id;
            if (!all.value("connections")
                     .toObject()
                     .value(peer)
                     .toObject()
                     .value("connected")
                     .toBool())
                return false;
        }
        return true;
    }
    QByteArray errors() {
        return rest(a, "GET", "/rest/folder/errors?folder=varnlock") +
               rest(b, "GET", "/rest/folder/errors?folder=varnlock") +
               rest(a, "GET", "/rest/db/status?folder=varnlock").left(600);
    }
    QByteArray log() { return m_log + a.process.readAll() + b.process.readAll(); }

    Instance a, b;

private:
    static void configure(const Instance &self, const Instance &peer) {
        const QString xml =
            QStringLiteral(
                "<configuration version=\"36\">\n"
                "  <folder id=\"varnlock\" label=\"varnlock\" path=\"%1\" type=\"sendreceive\" "
                "rescanIntervalS=\"3600\" fsWatcherEnabled=\"false\" ignorePerms=\"false\">\n"
                "    <device id=\"%2\"></device>\n    <device id=\"%3\"></device>\n"
                "    <minDiskFree unit=\"%\">0</minDiskFree>\n"
                "    <versioning></versioning>\n"
                // Written out: a missing element reads as 0, and no conflict
                // copies at all would hide the very case this test is for.
                "    <maxConflicts>10</maxConflicts>\n"
                // A pull that failed (a file changed while it came in) is
                // tried again after a second, not the default minute.
                "    <pullerPauseS>1</pullerPauseS>\n  </folder>\n"
                "  <device id=\"%2\" name=\"self\"><address>dynamic</address></device>\n"
                "  <device id=\"%3\" name=\"peer\"><address>tcp://127.0.0.1:%4</address>"
                "</device>\n"
                "  <gui enabled=\"true\" tls=\"false\"><address>127.0.0.1:%5</address>"
                "<apikey>%6</apikey></gui>\n"
                "  <options>\n    <listenAddress>tcp://127.0.0.1:%7</listenAddress>\n"
                "    <globalAnnounceEnabled>false</globalAnnounceEnabled>\n"
                "    <localAnnounceEnabled>false</localAnnounceEnabled>\n"
                "    <relaysEnabled>false</relaysEnabled>\n    <natEnabled>false</natEnabled>\n"
                "    <startBrowser>false</startBrowser>\n    <urAccepted>-1</urAccepted>\n"
                "    <autoUpgradeIntervalH>0</autoUpgradeIntervalH>\n"
                "    <crashReportingEnabled>false</crashReportingEnabled>\n"
                "    <reconnectionIntervalS>1</reconnectionIntervalS>\n"
                "    <minHomeDiskFree unit=\"%\">0</minHomeDiskFree>\n"
                "    <setLowPriority>false</setLowPriority>\n  </options>\n</configuration>\n")
                .arg(self.data, self.id, peer.id)
                .arg(peer.listen)
                .arg(self.gui)
                .arg(self.key)
                .arg(self.listen);
        QFile file(self.home + "/config.xml");
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(xml.toUtf8()) < 0)
            qFatal("could not write the Syncthing configuration");
    }
    QByteArray rest(const Instance &in, const QByteArray &method, const QByteArray &path) {
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(in.gui) + path));
        request.setRawHeader("X-API-Key", in.key.toLatin1());
        QNetworkReply *reply = m_net.sendCustomRequest(request, method);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        const QByteArray body = reply->isFinished() ? reply->readAll() : QByteArray();
        reply->deleteLater();
        return body;
    }
    QNetworkAccessManager m_net;
    QByteArray m_log;
};

// The files a folder holds that a sync tool's copy makes: the store's own
// and its conflict copies.
QStringList storeFiles(const QString &data) {
    return QDir(data).entryList({"CW2DB*"}, QDir::Files | QDir::Hidden, QDir::Name);
}

// Both sync tools up and met, and there holding the files here has: as
// after the first sync of a new folder. False, the test failed, when not.
bool firstSync(SyncthingPair &sync, Harness &here, Harness &there) {
    const auto synced = [&] {
        QTRY_VERIFY_WITH_TIMEOUT(sync.up() && sync.connected(), kWait);
        sync.scan();
        QTRY_VERIFY_WITH_TIMEOUT(storeFiles(there.paths().dataFolder()) ==
                                         storeFiles(here.paths().dataFolder()) &&
                                     QFile::exists(there.paths().config()),
                                 kWait);
    };
    synced();
    return !QTest::currentTestFailed();
}

// Whether the state checked holds, and goes on holding for a while, within
// the time given: with two sync tools at work, a state that holds a moment
// may be undone by a file still on its way.
bool steadily(const std::function<bool()> &holds, int withinMs) {
    QElapsedTimer total, held;
    total.start();
    while (total.elapsed() < withinMs) {
        if (!holds())
            held.invalidate();
        else if (!held.isValid())
            held.start();
        else if (held.elapsed() >= 1500)
            return true;
        QTest::qWait(100);
    }
    return false;
}

bool lists(Harness &h, const QList<QByteArray> &records) {
    if (!h.window)
        return false;
    for (const QByteArray &record : records)
        if (!h.window->records().contains(record))
            return false;
    return true;
}

// What each side holds and said, and what the sync tools logged: for a failure.
QString described(SyncthingPair &sync, Harness &here, Harness &there) {
    QStringList out{QString::fromLatin1(sync.errors())};
    for (Harness *h : {&here, &there}) {
        out << QDir(h->paths().dataFolder())
                   .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                   .join(", ");
        for (const QByteArray &line : h->window->records().toList())
            out << "  " + QString::fromLatin1(line);
        for (const Shown &m : h->messages)
            out << "  message: " + m.text;
        out << "  dialogs: " + h->dialogs.join(", ");
    }
    for (const QByteArray &line : sync.log().split('\n'))
        if (!line.contains("Compact") && !line.contains("deadlock") && !line.contains("igration"))
            out << QString::fromLocal8Bit(line.left(200));
    return out.join('\n');
}

} // namespace

class TestSyncthing : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void bothComputersListEveryRecord_data();
    void bothComputersListEveryRecord();
    void protectionChangedWhileApart_data();
    void protectionChangedWhileApart();
    void passphraseChangedWhileApart();
    void passwordChangedWhileApart_data();
    void passwordChangedWhileApart();
};

void TestSyncthing::initTestCase() {
    if (QStandardPaths::findExecutable("syncthing").isEmpty())
        QSKIP("syncthing is not installed (make test installs it)");
}

void TestSyncthing::bothComputersListEveryRecord_data() {
    QTest::addColumn<int>("scope");
    QTest::newRow("None") << 0;
    QTest::newRow("Program Only") << 1;
    QTest::newRow("Program and DBase") << 2;
    QTest::newRow("strong") << 3;
}

void TestSyncthing::bothComputersListEveryRecord() {
    QFETCH(int, scope);
    const Scope protection = scope == 3 ? Scope::Strong : ScopeFromDigit(char('0' + scope));
    const QByteArray key = protection == Scope::None ? QByteArray(kUnsetPassword) : "key7";
    const QString typed = protection == Scope::Strong ? "pass word" : "key7";
    const QList<QByteArray> base{"alpha:!a:!1:!:!", "beta:!b:!2:!:!"};
    Harness here(true), there(true);
    QCOMPARE(WriteSettingsFile(here.paths(), settingsLine(protection, key)), SettingsStatus::Ok);
    if (protection == Scope::Strong) {
        Strong::Keys keys;
        const std::vector<QByteArrayView> lines(base.cbegin(), base.cend());
        QCOMPARE(Strong::Create(here.paths().strongStore(), typed.toLatin1(),
                                {3, Strong::kMinMemory}, lines, keys),
                 Strong::Status::Ok);
    } else {
        QCOMPARE(RewriteDatabase(here.paths(), protection, base, key), StoreStatus::Ok);
    }
    // The previews of copies without ids take what they offer (new records
    // added, differing ones kept both ways).
    for (Harness *h : {&here, &there})
        h->onDialog = [](QDialog &) { return int(QDialog::Accepted); };

    QTemporaryDir homes;
    // The homes (with each instance's log.txt) stay for a look when asked.
    homes.setAutoRemove(qEnvironmentVariableIsEmpty("VARNLOCK_KEEP_SYNC_HOMES"));
    SyncthingPair sync(homes.path(), here.paths().dataFolder(), there.paths().dataFolder());
    if (!firstSync(sync, here, there))
        return;
    const QStringList password = protection == Scope::None ? QStringList() : QStringList{typed};
    here.start(password);
    there.start(password);
    QCOMPARE(there.window->records().toList(), base);

    // Apart: each side adds a record and changes another.
    sync.stop(sync.b);
    here.fill({"from here", "h", "10"});
    here.window->add();
    here.clickRow(1);
    fieldEdit(*here.window, Field::Password)->setText("changed here");
    here.window->replaceSelected();
    there.fill({"from there", "t", "20"});
    there.window->add();
    there.clickRow(0);
    fieldEdit(*there.window, Field::Password)->setText("changed there");
    there.window->replaceSelected();
    const QList<QByteArray> stored{"from here:!h:!10:!:!", "beta:!b:!changed here:!:!",
                                   "from there:!t:!20:!:!", "alpha:!a:!changed there:!:!"};
    QVERIFY(lists(here, {stored[0], stored[1]}) && lists(there, {stored[2], stored[3]}));

    // Together again, each side's change known to its own sync tool: both
    // windows end with every record either side stored, and no copy is left.
    sync.scan();
    QVERIFY2(sync.reunite(sync.b), sync.log().right(4000).constData());
    const auto settled = [&] {
        sync.scan();
        return lists(here, stored) && lists(there, stored) &&
               here.window->records() == there.window->records() &&
               storeFiles(here.paths().dataFolder()).size() == 1 &&
               storeFiles(there.paths().dataFolder()).size() == 1;
    };
    QVERIFY2(steadily(settled, kWait), qPrintable(described(sync, here, there)));
    if (protection == Scope::Strong)
        QCOMPARE(here.window->records().toList(), RecordList(stored).toList());
    // The sync tool did leave a copy, and a window settled it: a preview
    // (no ids) or a merge said so.
    bool settledCopy = false;
    for (Harness *h : {&here, &there}) {
        settledCopy = settledCopy || !h->dialogs.isEmpty();
        for (const Shown &message : h->messages)
            settledCopy =
                settledCopy || message.text.contains("from a copy made on another computer");
    }
    QVERIFY(settledCopy);
    // Nothing was refused on either side, and the store on disk holds it all.
    for (Harness *h : {&here, &there})
        for (const Shown &message : h->messages)
            QVERIFY2(message.icon != QMessageBox::Critical, qPrintable(message.text));
}

void TestSyncthing::protectionChangedWhileApart_data() {
    QTest::addColumn<bool>("intoStrong");
    QTest::newRow("the strong store left for None") << false;
    QTest::newRow("None left for the strong store") << true;
}

void TestSyncthing::protectionChangedWhileApart() {
    // One computer changes the protection while the other, away, stores a
    // record with a one-time code under the old one. Together again, the sync
    // tool keeps the changed old store over its removal, beside the new one;
    // the windows merge it, and both end under the new protection with every
    // record once, each code where that protection keeps it, and no store but
    // the new one.
    QFETCH(bool, intoStrong);
    const Scope before = intoStrong ? Scope::None : Scope::Strong;
    const Scope after = intoStrong ? Scope::Strong : Scope::None;
    const QByteArray gammaCode = "otpauth://totp/gamma?secret=GEZDGNBVGY3TQOJQ";
    const QByteArray uri = "otpauth://totp/there?secret=JBSWY3DPEHPK3PXP";
    // A record as the protection keeps it: its code in Other Info, or apart.
    const auto kept = [](Scope scope, const QByteArray &start, const QByteArray &code) {
        return start + (scope == Scope::Strong ? QByteArray() : code) + ":!";
    };
    const QList<QByteArray> base{"alpha:!a:!1:!:!", "beta:!b:!2:!:!",
                                 kept(before, "gamma:!g:!3:!", gammaCode)};
    Harness here(true), there(true);
    QCOMPARE(
        WriteSettingsFile(here.paths(), settingsLine(before, before == Scope::Strong
                                                                 ? QByteArray()
                                                                 : QByteArray(kUnsetPassword))),
        SettingsStatus::Ok);
    if (before == Scope::Strong) {
        Strong::Keys keys;
        const std::vector<QByteArrayView> lines(base.cbegin(), base.cend());
        std::vector<RecordMeta> meta{NewRecordMeta(), NewRecordMeta(), NewRecordMeta()};
        meta[2].oneTimeCode = gammaCode;
        QCOMPARE(Strong::Create(here.paths().strongStore(), "pass word", {3, Strong::kMinMemory},
                                {lines, meta, {}}, keys),
                 Strong::Status::Ok);
    } else {
        QCOMPARE(RewriteDatabase(here.paths(), before, base, kUnsetPassword), StoreStatus::Ok);
    }
    for (Harness *h : {&here, &there}) {
        h->onDialog = [](QDialog &) { return int(QDialog::Accepted); };
        h->copyPasswords = QStringList(4, "pass word");
    }
    QTemporaryDir homes;
    homes.setAutoRemove(qEnvironmentVariableIsEmpty("VARNLOCK_KEEP_SYNC_HOMES"));
    SyncthingPair sync(homes.path(), here.paths().dataFolder(), there.paths().dataFolder());
    if (!firstSync(sync, here, there))
        return;
    const QStringList password = before == Scope::Strong ? QStringList{"pass word"} : QStringList();
    here.start(password);
    there.start(password);
    QCOMPARE(there.window->records().toList(), base);

    sync.stop(sync.b);
    here.confirmAnswers = {true};
    // (No blank in it: the box takes what the protection ticked before allows.)
    ::accept(*here.window, intoStrong ? "phrase1" : "", intoStrong ? "scopeStrong" : "scopeNone");
    QCOMPARE(here.window->scope(), after);
    here.fill({"from here", "h", "10"});
    here.window->add();
    there.fill({"from there", "t", "20"});
    there.window->add();
    QCOMPARE(there.window->session().setOneTimeCode(
                 there.window->records().indexOf("from there:!t:!20:!:!"), uri),
             SessionStatus::Ok);

    // The new settings come with a passphrase there, which is asked for.
    if (intoStrong)
        there.promptEntries = {"phrase1"};
    sync.scan();
    QVERIFY2(sync.reunite(sync.b), sync.log().right(4000).constData());
    const QList<QByteArray> all{"alpha:!a:!1:!:!", "beta:!b:!2:!:!", "from here:!h:!10:!:!",
                                kept(after, "from there:!t:!20:!", uri),
                                kept(after, "gamma:!g:!3:!", gammaCode)};
    const QStringList only{after == Scope::Strong ? "CW2DB.sdb" : "CW2DB.pdb"};
    const auto settled = [&] {
        sync.scan();
        for (Harness *h : {&here, &there})
            if (h->window->scope() != after || h->window->records().toList() != all ||
                storeFiles(h->paths().dataFolder()) != only)
                return false;
        return true;
    };
    QVERIFY2(steadily(settled, kWait), qPrintable(described(sync, here, there)));
    for (Harness *h : {&here, &there}) {
        QCOMPARE(h->window->session().oneTimeCode(3), uri);
        QCOMPARE(h->window->session().oneTimeCode(4), gammaCode);
        for (const Shown &message : h->messages)
            QVERIFY2(message.icon != QMessageBox::Critical, qPrintable(message.text));
    }
}

void TestSyncthing::passphraseChangedWhileApart() {
    // One computer chooses a new passphrase while the other, away, stores a
    // record under the old one, later. Together again, the sync tool keeps
    // the later store, under the old passphrase, and leaves the re-keyed one
    // as a conflict copy. Each window asks for whichever passphrase a store
    // or a copy now needs, and whether to take a copy's: the user takes the
    // one chosen last. Both end with every record, under that one alone.
    const QList<QByteArray> base{"alpha:!a:!1:!:!", "beta:!b:!2:!:!"};
    Harness here(true), there(true);
    QCOMPARE(WriteSettingsFile(here.paths(), settingsLine(Scope::Strong, {})), SettingsStatus::Ok);
    Strong::Keys keys;
    const std::vector<QByteArrayView> lines(base.cbegin(), base.cend());
    QCOMPARE(Strong::Create(here.paths().strongStore(), "pass word", {3, Strong::kMinMemory}, lines,
                            keys),
             Strong::Status::Ok);
    QStringList either;
    for (int i = 0; i < 12; ++i)
        either << "phrase2"
               << "pass word";
    for (Harness *h : {&here, &there}) {
        h->copyPasswords = either;
        h->onConfirm = [h](const QString &text) {
            return !text.contains("take the passphrase you just typed") ||
                   h->lastCopyPassword == "phrase2";
        };
    }
    QTemporaryDir homes;
    homes.setAutoRemove(qEnvironmentVariableIsEmpty("VARNLOCK_KEEP_SYNC_HOMES"));
    SyncthingPair sync(homes.path(), here.paths().dataFolder(), there.paths().dataFolder());
    if (!firstSync(sync, here, there))
        return;
    here.start({"pass word"});
    there.start({"pass word"});
    QCOMPARE(there.window->records().toList(), base);

    sync.stop(sync.b);
    ::accept(*here.window, "phrase2", "scopeStrong");
    QCOMPARE(strongRecords(here.paths().strongStore(), "phrase2"), base);
    here.fill({"from here", "h", "10"});
    here.window->add();
    QTest::qWait(1100); // the later store, by its time on disk
    there.fill({"from there", "t", "20"});
    there.window->add();
    for (Harness *h : {&here, &there})
        h->promptEntries = either;

    sync.scan();
    QVERIFY2(sync.reunite(sync.b), sync.log().right(4000).constData());
    const QList<QByteArray> all = RecordList({"alpha:!a:!1:!:!", "beta:!b:!2:!:!",
                                              "from here:!h:!10:!:!", "from there:!t:!20:!:!"})
                                      .toList();
    const auto settled = [&] {
        sync.scan();
        for (Harness *h : {&here, &there})
            if (h->window->records().toList() != all ||
                storeFiles(h->paths().dataFolder()) != QStringList{"CW2DB.sdb"} ||
                strongRecords(h->paths().strongStore(), "phrase2") != all)
                return false;
        return true;
    };
    QVERIFY2(steadily(settled, 2 * kWait), qPrintable(described(sync, here, there)));
    for (Harness *h : {&here, &there}) {
        QCOMPARE(strongRecords(h->paths().strongStore(), "pass word"),
                 QList<QByteArray>{"<unreadable>"});
        QCOMPARE(h->ended, 0);
        for (const Shown &message : h->messages)
            QVERIFY2(message.icon != QMessageBox::Critical,
                     qPrintable(message.text + "\n" + described(sync, here, there)));
    }
}

void TestSyncthing::passwordChangedWhileApart_data() {
    QTest::addColumn<bool>("expiryThere");
    // The settings: the other computer's win, and set the new password's
    // aside; its records, stored here last, win and are under the new one.
    QTest::newRow("the expiry changed there, a record stored here last") << true;
    // The settings of the new password win; the records stored there last
    // win too, under the old one.
    QTest::newRow("a record stored there last") << false;
}

void TestSyncthing::passwordChangedWhileApart() {
    // One computer sets a new master password, its records enciphered anew
    // under it, while the other, away, goes on under the old one. Together
    // again, the sync tool keeps for each file the later one, and the files
    // it keeps may not belong together. Each window asks for whatever
    // password the records or a copy now need; both end with every record
    // under the new password and nothing beside them.
    QFETCH(bool, expiryThere);
    const QList<QByteArray> base{"alpha:!a:!1:!:!", "beta:!b:!2:!:!"};
    Harness here(true), there(true);
    QCOMPARE(WriteSettingsFile(here.paths(), settingsLine(Scope::ProgramAndDBase, "key7")),
             SettingsStatus::Ok);
    QCOMPARE(RewriteDatabase(here.paths(), Scope::ProgramAndDBase, base, "key7"), StoreStatus::Ok);
    for (Harness *h : {&here, &there}) {
        h->onDialog = [](QDialog &) { return int(QDialog::Accepted); };
        h->copyPasswords = QStringList(4, "key7") + QStringList(4, "new8");
    }
    QTemporaryDir homes;
    homes.setAutoRemove(qEnvironmentVariableIsEmpty("VARNLOCK_KEEP_SYNC_HOMES"));
    SyncthingPair sync(homes.path(), here.paths().dataFolder(), there.paths().dataFolder());
    if (!firstSync(sync, here, there))
        return;
    here.start({"key7"});
    there.start({"key7"});
    QCOMPARE(there.window->records().toList(), base);

    sync.stop(sync.b);
    ::accept(*here.window, "new8", "scopeProgramAndDBase");
    QCOMPARE(here.copyFile(), copyBytes(base, "new8"));
    QTest::qWait(1100); // each later change by its time on disk
    if (expiryThere) {
        SecurityWindow *settings = openSettings(*there.window);
        part<QLineEdit>(settings, "passwordEdit")->setText("key7");
        part<QCheckBox>(settings, "neverExpires")->click(); // a date is proposed
        part<QPushButton>(settings, "acceptButton")->click();
        QTest::qWait(1100);
        here.fill({"from here", "h", "10"});
        here.window->add();
    } else {
        there.fill({"from there", "t", "20"});
        there.window->add();
    }
    for (Harness *h : {&here, &there})
        h->promptEntries = QStringList(4, "new8");

    sync.scan();
    QVERIFY2(sync.reunite(sync.b), sync.log().right(4000).constData());
    const QList<QByteArray> all =
        base + QList<QByteArray>{expiryThere ? "from here:!h:!10:!:!" : "from there:!t:!20:!:!"};
    const auto settled = [&] {
        sync.scan();
        for (Harness *h : {&here, &there}) {
            const ParsedSettings onDisk =
                ParseSettingsLine(SettingsLineFromFile(fileBytes(h->paths().config())));
            if (h->window->records().toList() != all || h->window->session().key() != "new8" ||
                onDisk.password != "new8" ||
                QDir(h->paths().dataFolder()).entryList({"*conflict*"}) != QStringList())
                return false;
        }
        return true;
    };
    QVERIFY2(steadily(settled, kWait), qPrintable(described(sync, here, there)));
    for (Harness *h : {&here, &there}) {
        QCOMPARE(h->copyFile(), copyBytes(all, "new8"));
        QCOMPARE(h->ended, 0);
        for (const Shown &message : h->messages)
            QVERIFY2(message.icon != QMessageBox::Critical, qPrintable(message.text));
    }
}

QTEST_MAIN(TestSyncthing)
#include "tst_syncthing.moc"
