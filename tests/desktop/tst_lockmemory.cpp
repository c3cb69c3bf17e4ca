#include "../common/realprogram.h"

#include "fieldcipher.h"
#include "strongstore.h"

#include <fcntl.h>
#include <unistd.h>

// What the built program leaves in its memory once it has locked: its
// writable memory read through /proc as another process would (root can,
// though the program is not dumpable), searched for the records, the master
// password and a stored record shown in the fields, as text and as UTF-16.

namespace {

const QByteArray kService = "Sv9kQzService";
const QByteArray kPassword = "Pw7xQzSecret";
const QByteArray kOther = "Oi3QzOther";
const QList<QByteArray> kRecords{kService + ":!user:!" + kPassword + ":!" + kOther + ":!",
                                 "zz another:!u:!p2:!:!"};

QByteArray utf16(const QByteArray &text) {
    const QString wide = QString::fromLatin1(text);
    return QByteArray(reinterpret_cast<const char *>(wide.utf16()), wide.size() * 2);
}

// Each needle found in the process's writable memory; false when its memory
// can not be read at all (not root).
bool searchMemory(qint64 pid, const QList<QByteArray> &needles, QStringList &found) {
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    const int mem = ::open(qPrintable(QStringLiteral("/proc/%1/mem").arg(pid)), O_RDONLY);
    if (mem < 0)
        return false;
    bool readAny = false;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 2 || parts[1].size() < 2 || parts[1][1] != 'w')
            continue;
        const QList<QByteArray> range = parts[0].split('-');
        const quint64 from = range[0].toULongLong(nullptr, 16),
                      to = range[1].toULongLong(nullptr, 16);
        QByteArray bytes(qsizetype(to - from), Qt::Uninitialized);
        const ssize_t got = ::pread(mem, bytes.data(), size_t(bytes.size()), off_t(from));
        if (got <= 0)
            continue;
        readAny = true;
        bytes.truncate(got);
        for (const QByteArray &needle : needles)
            if (bytes.contains(needle))
                found << QString::fromLatin1(needle.toHex()) + " in " +
                             QString::fromLatin1(parts.value(5, "[anonymous]"));
    }
    ::close(mem);
    return readAny;
}

void xdotool(const QStringList &args) {
    QProcess::execute("xdotool", args);
}

// Types the password into the prompt and sends it.
void answerPrompt(const QString &window, const QByteArray &password) {
    xdotool({"windowfocus", "--sync", window});
    xdotool({"type", "--delay", "15", QString::fromLatin1(password)});
    xdotool({"key", "Return"});
}

} // namespace

class TestLockMemory : public QObject {
    Q_OBJECT
private slots:
    void lockLeavesNothingToRead_data();
    void lockLeavesNothingToRead();
};

void TestLockMemory::lockLeavesNothingToRead_data() {
    QTest::addColumn<int>("scope");
    QTest::addColumn<QByteArray>("password");
    QTest::newRow("Program Only") << 2 << QByteArray("Mk4QzMaster");
    QTest::newRow("Program and DBase") << 1 << QByteArray("Mk4QzMaster");
    QTest::newRow("strong") << 3 << QByteArray("Mk4Qz master phrase");
}

void TestLockMemory::lockLeavesNothingToRead() {
    QFETCH(int, scope);
    QFETCH(QByteArray, password);
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        QSKIP("no session bus to play the screen locker on (run under dbus-run-session)");
    TestFolders f(false);
    installProgram(f);
    const Scope protection = scope == 3 ? Scope::Strong : ScopeFromDigit(char('0' + scope));
    QCOMPARE(WriteSettingsFile(f.paths, settingsLine(protection, password)), SettingsStatus::Ok);
    if (protection == Scope::Strong) {
        Strong::Keys keys;
        const std::vector<QByteArrayView> records(kRecords.cbegin(), kRecords.cend());
        QCOMPARE(Strong::Create(f.paths.strongStore(), Strong::PassphraseBytes(password),
                                {3, Strong::kMinMemory}, records, keys),
                 Strong::Status::Ok);
    } else {
        writeBytes(protection == Scope::ProgramAndDBase ? f.paths.copy() : f.paths.database(),
                   protection == Scope::ProgramAndDBase ? copyBytes(kRecords, password)
                                                        : storeBytes(kRecords));
    }

    Copy program(f);
    const QStringList prompt = waitForWindow(program.pid(), "^Password Required$");
    QVERIFY2(!prompt.isEmpty(), "no password prompt");
    answerPrompt(prompt.first(), password);
    const QStringList window = waitForWindow(program.pid(), "^V\\.L\\.$");
    QVERIFY2(!window.isEmpty(), "no main window after the password");
    // The first record clicked: its fields are filled.
    xdotool({"mousemove", "--window", window.first(), "40", "168", "click", "1"});
    QTest::qWait(500);
    // Before the lock the search finds what is shown: it can see what it looks for.
    QStringList found;
    if (!searchMemory(program.pid(), {utf16(kPassword)}, found))
        QSKIP("the program's memory can not be read here (it takes root)");
    QVERIFY2(!found.isEmpty(), "the record is not shown: the click missed its row");

    // The desktop's screen locker locks the screen.
    QProcess::execute("dbus-send", {"--session", "--type=signal", "/org/freedesktop/ScreenSaver",
                                    "org.freedesktop.ScreenSaver.ActiveChanged", "boolean:true"});
    QVERIFY2(!waitForWindow(program.pid(), "^Password Required$").isEmpty(), "no lock");
    QTRY_VERIFY(windowsOf(program.pid(), "^V\\.L\\.$").isEmpty());
    QTest::qWait(300);
    found.clear();
    QVERIFY(searchMemory(program.pid(),
                         {kService, kPassword, kOther, EncodeLine(kPassword), password,
                          utf16(kService), utf16(kPassword), utf16(kOther), utf16(password)},
                         found));
    QVERIFY2(found.isEmpty(), qPrintable(found.join("; ")));

    // The password opens it again, with the records read back.
    answerPrompt(waitForWindow(program.pid(), "^Password Required$").value(0), password);
    QVERIFY2(!waitForWindow(program.pid(), "^V\\.L\\.$").isEmpty(), "not unlocked");
}

QTEST_GUILESS_MAIN(TestLockMemory)
#include "tst_lockmemory.moc"
