// Damaged and foreign files: the program starts, shows what it can read, and
// writes nothing back unless the user changes something.
#include "../common/guiharness.h"

#include "database.h"
#include "linefile.h"

#include <QRandomGenerator>

namespace {

const QList<QByteArray> kRecords{"bank:!ann:!pin1:!:!", "mail:!bob:!x1:!note:!http://m",
                                 "shop:!carl:!pw3:!:!/home/carl"};

QByteArray randomBytes(quint32 seed, qsizetype size) {
    QRandomGenerator random(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char &c : out)
        c = char(random.bounded(256));
    return out;
}

QByteArray withEndings(const QList<QByteArray> &records, const QByteArray &ending) {
    QByteArray out;
    for (const QByteArray &r : records)
        out += EncodeLine(r) + ending;
    return out;
}

// The damaged contents tried, for the file named by where, with the number
// of records each still holds readably (-1: whatever it holds, as long as
// nothing breaks). Columns: copy, content, readable.
void addStoreRows(const char *where, bool copy) {
    for (quint32 seed : {1u, 2u, 3u})
        QTest::addRow("%s: random bytes %u", where, seed)
            << copy << randomBytes(seed, 64 << 10) << -1;
    QByteArray nul = withEndings(kRecords, "\r\n");
    nul.insert(12, QByteArray(3, '\0')); // inside the first password
    QTest::addRow("%s: NUL bytes", where) << copy << nul << 3;
    QTest::addRow("%s: LF endings", where) << copy << withEndings(kRecords, "\n") << 3;
    // A lone CR is not a line ending: the whole file is one line, listed whole.
    QTest::addRow("%s: CR endings", where) << copy << withEndings(kRecords, "\r") << 1;
    QByteArray truncated = withEndings(kRecords, "\r\n");
    truncated.chop(9);
    QTest::addRow("%s: truncated line", where) << copy << truncated << 3;
    QTest::addRow("%s: 10 MB line", where)
        << copy
        << withEndings({"huge:!u:!p:!" + QByteArray(10 << 20, 'o') + ":!", kRecords[0]}, "\r\n")
        << 2;
    QTest::addRow("%s: empty lines only", where) << copy << QByteArray("\r\n\r\n\n\r\n") << 0;
    QTest::addRow("%s: empty", where) << copy << QByteArray() << 0;
}

// Starts the window on these folders, closes it, and checks nothing was
// written: the program folder and the temporary folder are as they were.
MainWindow &startAndKeep(Harness &h, const QStringList &prompt = {"key7"}) {
    const QMap<QString, QByteArray> before = snapshot(h.folders);
    MainWindow &w = h.start(prompt);
    [&] { QCOMPARE(snapshot(h.folders), before); }();
    return w;
}

} // namespace

class TestBadInput : public QObject {
    Q_OBJECT
private slots:
    void damagedStore_data();
    void damagedStore();
    void damagedSettingsFile_data();
    void damagedSettingsFile();
};

void TestBadInput::damagedStore_data() {
    QTest::addColumn<bool>("copy");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("readable");
    addStoreRows("store", false);
    addStoreRows("copy", true);
}

void TestBadInput::damagedStore() {
    QFETCH(bool, copy);
    QFETCH(QByteArray, content);
    QFETCH(int, readable);
    Harness h(true);
    if (!copy) {
        writeBytes(h.paths().database(), content);
    } else {
        writeSettings(h.paths(), kNeverExpires, "key7", 1);
        // The same damage, enciphered as the copy holds it, line by line;
        // noise stays raw noise where the copy should be.
        QByteArray enciphered;
        for (const QByteArrayView line : LineViews(content))
            enciphered += xorInverted(line.toByteArray(), "key7") + "\r\n";
        writeBytes(h.paths().copy(), readable < 0 ? content : enciphered);
    }
    MainWindow &w = startAndKeep(h);
    QVERIFY(!w.programEnded());
    if (readable >= 0)
        QCOMPARE(part<ServiceList>(w, "recordView")->count(), readable);
    if (readable >= 2)
        QCOMPARE(h.names().first(), QStringLiteral("bank"));
    for (int row = 0; row < qMin(part<ServiceList>(w, "recordView")->count(), 5); ++row)
        h.clickRow(row);
    // A copy that is noise through and through can not be told from one
    // under another password: it is said so, and nothing is listed.
    if (copy && readable < 0) {
        QCOMPARE(h.messages.size(), 1);
        QCOMPARE(h.messages[0].text, kOtherKeyText);
        QCOMPARE(part<ServiceList>(w, "recordView")->count(), 0);
    } else {
        QVERIFY(h.messages.isEmpty());
    }
}

void TestBadInput::damagedSettingsFile_data() {
    QTest::addColumn<QByteArray>("content");
    const QByteArray full =
        BuildSettingsLine("01-06-2027", "Secret42", "12-01-2026", Scope::ProgramOnly);
    for (int length = 0; length <= 40; ++length) {
        QTest::addRow("%d bytes of a line", length) << full.left(length) + "\r\n";
        QTest::addRow("%d random bytes", length) << randomBytes(quint32(length), length) + "\r\n";
    }
    QTest::newRow("random bytes") << randomBytes(7, 4096);
    QTest::newRow("NUL bytes") << QByteArray(64, '\0');
    QTest::newRow("CR endings") << QByteArray("xx-xx-xxxx\rabc\r");
    QTest::newRow("10 MB line") << QByteArray(10 << 20, 'x');
    QTest::newRow("many lines") << QByteArray("a\r\n").repeated(1000);
}

void TestBadInput::damagedSettingsFile() {
    QFETCH(QByteArray, content);
    Harness h(true);
    writeBytes(h.paths().config(), content);
    writeBytes(h.paths().database(), storeBytes(kRecords));
    // What the program makes of the line decides whether it asks, and for what.
    QByteArray line;
    ReadSettingsFile(h.paths(), line);
    Clock::setToday(QDate(2026, 12, 5));
    MainWindow &w = startAndKeep(h, {QString::fromLatin1(ParseSettingsLine(line).password)});
    Clock::setToday(QDate());
    QVERIFY(!w.programEnded());
    if (w.scope() != Scope::ProgramAndDBase)
        QCOMPARE(part<ServiceList>(w, "recordView")->count(), kRecords.size());
}

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
