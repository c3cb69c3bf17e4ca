#include "testfolders.h"

#include "csv.h"

#include <QBuffer>
#include <QtTest>

using Rows = QList<QList<QByteArray>>;
using Outcome = CsvImportRow::Outcome;
Q_DECLARE_METATYPE(Rows)

namespace {

// Every row a reader gives, their first lines, and the error it stopped at.
struct ReadResult {
    Rows rows;
    QList<qint64> lines;
    QString error;
    qint64 bytesRead = 0;
};

ReadResult readAll(QIODevice &device) {
    ReadResult result;
    Csv::Reader reader(device);
    Csv::Row row;
    while (reader.next(row)) {
        result.rows << row.fields;
        result.lines << row.line;
    }
    result.error = reader.error();
    result.bytesRead = reader.bytesRead();
    return result;
}

CsvImportPlan planOf(const QByteArray &bytes, const QList<QByteArray> &stored = {},
                     std::function<bool(QByteArrayView)> storable = {},
                     Scope into = Scope::Strong) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return PlanCsvImport(buffer, RecordList(stored), into, storable);
}

QString sample(const QString &name) {
    return QFINDTESTDATA("data/csv/" + name);
}

} // namespace

class TestCsv : public QObject {
    Q_OBJECT
private slots:
    void readsRfc4180_data();
    void readsRfc4180();
    void hugeRowIsRefusedUnread();
    void eachProgramsExport_data();
    void eachProgramsExport();
    void wholeFileRefusals();
    void oneTimeCodesTravel();
    void rowsComparedAsTheStoreKeepsThem_data();
    void rowsComparedAsTheStoreKeepsThem();
    void exportBytesAndRoundTrip();
};

void TestCsv::readsRfc4180_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QList<qint64>>("lines");
    QTest::addColumn<QString>("error");
    QTest::newRow("LF") << QByteArray("a,b\nc,d\n") << Rows{{"a", "b"}, {"c", "d"}}
                        << QList<qint64>{1, 2} << "";
    QTest::newRow("CR LF, none at the end")
        << QByteArray("a,b\r\nc,d") << Rows{{"a", "b"}, {"c", "d"}} << QList<qint64>{1, 2} << "";
    QTest::newRow("bare CR") << QByteArray("a\rb\r") << Rows{{"a"}, {"b"}} << QList<qint64>{1, 2}
                             << "";
    QTest::newRow("quoted comma, quotes and line break")
        << QByteArray("\"x,y\",\"say \"\"hi\"\"\",\"1\r\n2\"\nz\n")
        << Rows{{"x,y", "say \"hi\"", "1\r\n2"}, {"z"}} << QList<qint64>{1, 3} << "";
    QTest::newRow("mark and blank lines") << QByteArray("\xEF\xBB\xBF"
                                                        "a\n\r\n\nb\n")
                                          << Rows{{"a"}, {"b"}} << QList<qint64>{1, 4} << "";
    QTest::newRow("a quote inside text is text")
        << QByteArray("ab\"c,\"d\"e,\"\"\n") << Rows{{"ab\"c", "de", ""}} << QList<qint64>{1} << "";
    QTest::newRow("quote never closed") << QByteArray("a\n\"b,c\nd\n") << Rows{{"a"}}
                                        << QList<qint64>{1} << "line 2 is never closed";
    // Pieces of the file meet inside a doubled quote and inside a CR LF.
    const QByteArray across = '"' + QByteArray(65534, 'x') + "\"\"\"\r\n";
    QTest::newRow("doubled quote across pieces")
        << across + "b\n"
        << Rows{{QByteArray(65534, 'x') + '"'}, {"b"}} << QList<qint64>{1, 2} << "";
    QTest::newRow("CR LF across pieces")
        << QByteArray(65535, 'y') + "\r\nb\n"
        << Rows{{QByteArray(65535, 'y')}, {"b"}} << QList<qint64>{1, 2} << "";
}

void TestCsv::readsRfc4180() {
    QFETCH(QByteArray, bytes);
    QFETCH(Rows, rows);
    QFETCH(QList<qint64>, lines);
    QFETCH(QString, error);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const ReadResult read = readAll(buffer);
    QCOMPARE(read.rows, rows);
    QCOMPARE(read.lines, lines);
    QVERIFY2(error.isEmpty() ? read.error.isEmpty() : read.error.contains(error),
             qPrintable(read.error));
}

void TestCsv::hugeRowIsRefusedUnread() {
    // 50 MB in one quoted field: refused after the first MiB, not read whole.
    TestFolders folders;
    QFile file(folders.root.filePath("huge.csv"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("title,username,password\n\"");
    const QByteArray piece(1 << 20, 'z');
    for (int i = 0; i < 50; ++i)
        file.write(piece);
    file.write("\",u,p\n");
    file.close();
    QVERIFY(file.open(QIODevice::ReadOnly));
    CsvImportPlanner planner(file, RecordList(), Scope::None, {});
    while (planner.step(100)) {
    }
    QVERIFY2(planner.plan().error.contains("longer than 1 MiB"), qPrintable(planner.plan().error));
    QVERIFY(planner.plan().rows.empty());
    QVERIFY(planner.bytesRead() < 2 << 20);
}

void TestCsv::eachProgramsExport_data() {
    // Each sample, named for the program whose export it copies, read with
    // one record stored already ("Bank", as the KeePassXC sample holds it):
    // the columns it carries nowhere, then for each row its line, then "new"
    // and the record, or what the preview says of it.
    QTest::addColumn<QStringList>("leftOut");
    QTest::addColumn<QList<QByteArray>>("rows");
    QTest::newRow("KeePassXC") << QStringList{"Group", "Icon", "Last Modified", "Created"}
                               << QList<QByteArray>{"2 new Mail:!ann@example.org:!p4ss, with "
                                                    "comma:!two lines:!https://mail.example.org/",
                                                    "4 skipped: identical to a stored record",
                                                    "5 refused: the Service holds \"\xC5\x81\""};
    QTest::newRow("Bitwarden")
        << QStringList{"folder", "favorite", "type", "fields", "reprompt"}
        << QList<QByteArray>{"2 new Forum:!bob:!hunter2:!:!https://forum.example.net/login",
                             "3 new VPN:!bob.w:!S3cret!:!Office VPN, port 443:!vpn.example.com",
                             "4 refused: no user name and no password"};
    QTest::newRow("Firefox") << QStringList{"httpRealm",    "formActionOrigin",
                                            "guid",         "timeCreated",
                                            "timeLastUsed", "timePasswordChanged"}
                             << QList<QByteArray>{
                                    "2 refused: the Password holds \":!\"",
                                    "3 new accounts.example.com:!carl@example.com:!Pa55 w\xF6rd:!:!"
                                    "https://accounts.example.com:8443/login"};
    QTest::newRow("Chrome") << QStringList{}
                            << QList<QByteArray>{
                                   "2 new example.com:!dave:!d4ve:!:!https://example.com/login",
                                   "3 refused: no password",
                                   "4 new caf\xE9.example:!dave:!\x80"
                                   "5:!:!https://caf\xE9.example/"};
    // A row repeating an earlier one of the same file names that line.
    QTest::newRow("generic") << QStringList{}
                             << QList<QByteArray>{
                                    "2 new Home NAS:!erin:!pw1:!:!/mnt/nas",
                                    "4 skipped: identical to line 2 of this file",
                                    "5 refused: an unreadable line: it is not UTF-8 text"};
}

void TestCsv::eachProgramsExport() {
    QFETCH(QStringList, leftOut);
    QFETCH(QList<QByteArray>, rows);
    const QString format = QString::fromLatin1(QTest::currentDataTag());
    const CsvImportPlan plan =
        planOf(fileBytes(sample(format.toLower() + ".csv")), {"Bank:!ann:!say \"hi\":!:!"});
    QVERIFY2(plan.error.isEmpty(), qPrintable(plan.error));
    QCOMPARE(plan.layout.format, format);
    QCOMPARE(plan.layout.leftOut(), leftOut);
    QCOMPARE(qsizetype(plan.rows.size()), rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const CsvImportRow &row = plan.rows[size_t(i)];
        const bool refused = row.outcome == Outcome::Refused;
        const QByteArray said =
            QByteArray::number(row.line) + ' ' +
            (row.outcome == Outcome::New ? "new " + row.record : row.describe().toUtf8());
        QVERIFY2(refused ? said.startsWith(rows[i]) : said == rows[i], said.constData());
    }
}

void TestCsv::wholeFileRefusals() {
    QVERIFY(planOf("").error.contains("empty"));
    QVERIFY(planOf("site,secret\nexample.org,pw\n").error.contains("not a header"));
    // A spreadsheet's other separators and UTF-16 are named.
    QVERIFY(planOf("url;username;password\nx;u;p\n").error.contains("separated by \";\""));
    QVERIFY(planOf("url\tusername\tpassword\nx\tu\tp\n").error.contains("separated by \"tabs\""));
    QVERIFY(planOf(QByteArray("\xFF\xFEu\0r\0l\0,\0u\0\n\0", 14)).error.contains("UTF-16"));
    QVERIFY(planOf("url,username,password\nx,\"u\n").error.contains("never closed"));
    QVERIFY(planOf("url,username,password\nx,\"u\n").rows.empty());
    // A record the store would not read back whole is refused by name.
    const CsvImportPlan unsafe =
        planOf("name,username,password\nsite,ann,pw\n", {}, [](QByteArrayView) { return false; });
    QCOMPARE(unsafe.rows.size(), size_t(1));
    QVERIFY(unsafe.rows[0].reason.contains("stored safely"));
    // Missing columns in a row read as empty; a missing name comes from the address.
    const CsvImportPlan shortRow =
        planOf("url,username,password,name\nhttp://h.example/x,ann,pw\n");
    QCOMPARE(shortRow.newRecords(), QList<QByteArray>{"h.example:!ann:!pw:!:!http://h.example/x"});
}

void TestCsv::oneTimeCodesTravel() {
    // The two-step secrets of other programs' exports come in (a URI, a bare
    // secret, Steam's), one that can not be used refuses its row by name, and
    // the export's totp column brings them back.
    const CsvImportPlan plan = planOf("name,username,password,login_totp\n"
                                      "a,u,p,otpauth://totp/a?secret=GEZDGNBVGY3TQOJQ&issuer=A\n"
                                      "b,u,p,GEZD GNBV GY3T QOJQ\n"
                                      "c,u,p,steam://GEZDGNBVGY3TQOJQ\n"
                                      "d,u,p,otpauth://totp/d?secret=GEZ1\n"
                                      "e,u,p,\n");
    QVERIFY(plan.layout.leftOut().isEmpty());
    QVERIFY(plan.layout.describe().endsWith("login_totp \u2192 one-time code"));
    QCOMPARE(plan.newRecords(),
             (QList<QByteArray>{"a:!u:!p:!:!", "b:!u:!p:!:!", "c:!u:!p:!:!", "e:!u:!p:!:!"}));
    const QList<QByteArray> codes{"otpauth://totp/a?secret=GEZDGNBVGY3TQOJQ&issuer=A",
                                  "otpauth://totp/?secret=GEZDGNBVGY3TQOJQ",
                                  "otpauth://totp/?secret=GEZDGNBVGY3TQOJQ&encoder=steam", ""};
    QCOMPARE(plan.newCodes(), codes);
    QCOMPARE(plan.rows[3].describe(),
             QString("refused: its one-time code can not be used: the secret is not Base32 "
                     "(letters A to Z and digits 2 to 7)"));
    QByteArray exported = CsvExportHeader();
    for (qsizetype i = 0; i < codes.size(); ++i)
        exported += CsvExportRow(plan.newRecords()[i], codes[i]);
    QVERIFY(exported.contains("a,u,p,,,otpauth://totp/a?secret=GEZDGNBVGY3TQOJQ&issuer=A\r\n"));
    QCOMPARE(planOf(exported).newCodes(), codes);
}

void TestCsv::rowsComparedAsTheStoreKeepsThem_data() {
    // The weaker protections keep a code in Other Info, the strong store
    // beside the record: a row exported under one is the same record under
    // the other, and a new one comes in as its store keeps it.
    QTest::addColumn<Scope>("into");
    QTest::addColumn<QList<QByteArray>>("stored");
    QTest::addColumn<QByteArray>("rows"); // service, username, password, notes, url, totp
    QTest::addColumn<QList<QByteArray>>("records");
    QTest::addColumn<QList<QByteArray>>("codes");
    const QByteArray u = "otpauth://totp/Mail:ann?secret=JBSWY3DPEHPK3PXP&issuer=Mail";
    const QByteArray uOtherwise = "otpauth://totp/Mail:ann?issuer=Mail&secret=jbswy3dpehpk3pxp";
    const QByteArray w = "otpauth://totp/W?secret=GEZDGNBVGY3TQOJQ";
    const QList<QByteArray> none;
    QTest::newRow("weak: its own export")
        << Scope::None << QList<QByteArray>{"Mail:!ann:!pw:!note " + u + ":!"}
        << "Mail,ann,pw,note " + u + ",," + u << none << none;
    QTest::newRow("weak: the strong store's export")
        << Scope::ProgramOnly << QList<QByteArray>{"Mail:!ann:!pw:!note " + u + ":!"}
        << "Mail,ann,pw,note,," + u << none << none;
    QTest::newRow("weak: code written first, and otherwise")
        << Scope::ProgramAndDBase << QList<QByteArray>{"Mail:!ann:!pw:!" + uOtherwise + " x:!"}
        << "Mail,ann,pw," + uOtherwise + " x,," + u << none << none;
    QTest::newRow("weak: new, in both forms")
        << Scope::None << none << "Mail,ann,pw,note,," + u + "\nMail,ann,pw,note " + u + ",,"
        << QList<QByteArray>{"Mail:!ann:!pw:!note " + u + ":!"} << QList<QByteArray>{""};
    QTest::newRow("weak: another code in Other Info stays")
        << Scope::None << none << "Mail,ann,pw,see " + w + ",," + u
        << QList<QByteArray>{"Mail:!ann:!pw:!" + u + " see " + w + ":!"} << QList<QByteArray>{""};
    QTest::newRow("strong: a weaker store's export")
        << Scope::Strong << QList<QByteArray>{"Mail:!ann:!pw:!note:!"}
        << "Mail,ann,pw,note " + uOtherwise + ",," + u << none << none;
    QTest::newRow("strong: new, in both forms")
        << Scope::Strong << none << "Mail,ann,pw,note " + uOtherwise + ",,\nMail,ann,pw,note,," + u
        << QList<QByteArray>{"Mail:!ann:!pw:!note:!"} << QList<QByteArray>{u};
    QTest::newRow("strong: another code in Other Info stays")
        << Scope::Strong << none << "Mail,ann,pw,see " + w + ",," + u
        << QList<QByteArray>{"Mail:!ann:!pw:!see " + w + ":!"} << QList<QByteArray>{u};
    QTest::newRow("strong: two codes in Other Info stay")
        << Scope::Strong << none << "Mail,ann,pw," + u + " " + w + ",,"
        << QList<QByteArray>{"Mail:!ann:!pw:!" + u + " " + w + ":!"} << QList<QByteArray>{""};
}

void TestCsv::rowsComparedAsTheStoreKeepsThem() {
    QFETCH(Scope, into);
    QFETCH(QList<QByteArray>, stored);
    QFETCH(QByteArray, rows);
    QFETCH(QList<QByteArray>, records);
    QFETCH(QList<QByteArray>, codes);
    const CsvImportPlan plan =
        planOf("service,username,password,notes,url,totp\n" + rows + "\n", stored, {}, into);
    QCOMPARE(plan.newRecords(), records);
    QCOMPARE(plan.newCodes(), codes);
    // The preview says a code comes (in every row here but the one whose
    // code is not clear), and shows Other Info as it is stored.
    const bool unclear = QByteArray(QTest::currentDataTag()).contains("two codes");
    for (const CsvImportRow &row : plan.rows)
        if (row.outcome == Outcome::New) {
            QCOMPARE(row.describe(), QString(unclear ? "new" : "new, with a one-time code"));
            QCOMPARE(row.text[Field::OtherInfo].toLatin1(),
                     FieldView(row.record, Field::OtherInfo));
        }
    QCOMPARE(plan.count(Outcome::Identical), (rows.count('\n') + 1) - records.size());
}

void TestCsv::exportBytesAndRoundTrip() {
    const QList<QByteArray> records{"Mail:!ann:!p,w:!say \"hi\":!http://m",
                                    " spaced :!u:!\x80\xE9\x81:!:!", "plain:!u:!p:!:!"};
    const RecordList stored(records);
    QByteArray exported = CsvExportHeader();
    for (const QByteArrayView record : stored.lines())
        exported += CsvExportRow(record);
    QCOMPARE(exported, QByteArray("service,username,password,notes,url,totp\r\n"
                                  "\" spaced \",u,\xE2\x82\xAC\xC3\xA9\xC2\x81,,,\r\n"
                                  "Mail,ann,\"p,w\",\"say \"\"hi\"\"\",http://m,\r\n"
                                  "plain,u,p,,,\r\n"));
    const CsvImportPlan back = planOf(exported);
    QCOMPARE(RecordList(back.newRecords()), stored);
    const CsvImportPlan again = planOf(exported, records);
    QCOMPARE(again.count(Outcome::Identical), 3);
}

QTEST_MAIN(TestCsv)
#include "tst_csv.moc"
