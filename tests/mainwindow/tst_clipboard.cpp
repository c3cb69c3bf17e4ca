#include "../common/guiharness.h"

#include "csvimportwindow.h"

#include <QClipboard>
#include <QLabel>
#include <QScreen>
#include <QTableView>

class TestClipboard : public QObject {
    Q_OBJECT
private slots:
    void pathsGoToTheShell();
    void csvInAndOut();
};

void TestClipboard::pathsGoToTheShell() {
    Harness h;
    const QString home = h.folders.root.path() + "/home";
    QVERIFY(QDir().mkpath(home));
    writeBytes(home + "/notes.txt", "notes");
    const QByteArray homeBefore = qgetenv("HOME");
    const auto restoreHome = qScopeGuard([&] { qputenv("HOME", homeBefore); });
    qputenv("HOME", home.toLocal8Bit());
    MainWindow &w = h.start();
    // A double click (which begins with a click, so copies and marks too)
    // hands the desktop what the path names; with nothing to open, the user
    // is told.
    const std::pair<QString, QString> paths[] = {
        {"https://mail.example.org/login", "https://mail.example.org/login"},
        {"mailto:ann@example.org", "mailto:ann@example.org"},
        {"www.example.org", "https://www.example.org"},
        {"example.org:8080/a?b=1", "https://example.org:8080/a?b=1"},
        {"~/notes.txt", "file://<home>/notes.txt"},
        {"<home>/notes.txt", "file://<home>/notes.txt"},
        {"<home>/gone.txt", ""},
        {"C:\\notes.txt", ""},
        {"notes", ""},
        {"www.example .org", ""}};
    QLabel *caption = part<QLabel>(w, "pathCaption");
    for (const auto &[path, opened] : paths) {
        h.opened.clear();
        h.messages.clear();
        const QString typed = QString(path).replace("<home>", home);
        fieldEdit(w, Field::Path)->setText(typed);
        QTest::mouseClick(caption, Qt::LeftButton, {}, QPoint(3, 3));
        QTest::mouseDClick(caption, Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(QGuiApplication::clipboard()->text(), typed);
        QCOMPARE(h.opened.join(u' '), QString(opened).replace("<home>", home));
        QCOMPARE(h.messages.size(), opened.isEmpty() ? 1 : 0);
        if (opened.isEmpty())
            QVERIFY(h.messages[0].text.startsWith("There is nothing to open"));
    }

    // Help opens the help page beside the program.
    h.opened.clear();
    QVERIFY(QDir(h.paths().programFolder).mkpath("Help"));
    writeBytes(h.paths().helpPage(), "<html></html>");
    part<QAction>(w, "helpAction")->trigger();
    QCOMPARE(h.opened, QStringList{h.paths().helpPage()});
}

void TestClipboard::csvInAndOut() {
    const QByteArray bank = "Bank:!ann:!say \"hi\":!:!";
    Harness h(true);
    MainWindow &w = h.startWith({bank});
    const QString bad = h.folders.root.filePath("bad.csv");
    writeBytes(bad, "url,username,password\nx,\"u\n");
    const auto before = snapshot(h.folders);
    // Chosen, read into the preview, then taken (or not) as the buttons say.
    const auto importFile = [&](const QString &file, const char *button) {
        h.chosenFiles = {file};
        part<QAction>(w, "importCsvAction")->trigger();
        QPointer<CsvImportWindow> preview = w.csvImportWindow();
        const bool settled =
            QTest::qWaitFor([&] { return !preview || (preview->plan() && preview->isVisible()); });
        if (settled && preview)
            QTest::mouseClick(part<QPushButton>(preview, button), Qt::LeftButton);
        return !preview.isNull();
    };

    // Cancel changes nothing; the preview masks passwords and says why a row is refused.
    const QString keepass = QFINDTESTDATA("../store/data/csv/keepassxc.csv");
    h.chosenFiles = {keepass};
    part<QAction>(w, "importCsvAction")->trigger();
    CsvImportWindow *preview = w.csvImportWindow();
    QTRY_VERIFY(preview->plan());
    // It says which columns go nowhere, and fits on the screen at any font size.
    const QString summary = part<QLabel>(preview, "summary")->text();
    QVERIFY2(summary.contains("Not carried into the records: Group, Icon, Last Modified, "
                              "Created.") &&
                 summary.contains("1 new, 1 identical to a stored record or an earlier row "
                                  "(skipped), 1 refused"),
             qPrintable(summary));
    QVERIFY(preview->frameGeometry().width() <= preview->screen()->availableGeometry().width());
    // The file's column names are text, never markup.
    QCOMPARE(part<QLabel>(preview, "summary")->textFormat(), Qt::PlainText);
    const QAbstractItemModel *rows = part<QTableView>(preview, "rows")->model();
    QCOMPARE(rows->data(rows->index(0, 3)).toString(), QStringLiteral("*"));
    QVERIFY(rows->data(rows->index(2, 6)).toString().startsWith("refused: the Service holds"));
    QTest::mouseClick(part<QPushButton>(preview, "cancelButton"), Qt::LeftButton);
    QCOMPARE(snapshot(h.folders), before);

    // A malformed file: told, and nothing changes.
    QVERIFY(!importFile(bad, "importButton"));
    QVERIFY2(h.messages.last().text.contains("is never closed"),
             qPrintable(h.messages.last().text));
    QCOMPARE(snapshot(h.folders), before);

    QVERIFY(importFile(keepass, "importButton"));
    QCOMPARE(h.messages.last().text, QStringLiteral("1 record was added."));
    QCOMPARE(h.databaseFile(),
             storeBytes({bank, "Mail:!ann@example.org:!p4ss, with comma:!two lines:!"
                               "https://mail.example.org/"}));

    // Export asks first; then the file is the user's alone.
    const QString out = h.folders.root.filePath("out.csv");
    h.confirmAnswers = {false};
    h.chosenFiles = {out};
    part<QAction>(w, "exportCsvAction")->trigger();
    QVERIFY(h.questions.last().text.startsWith("The file will hold every password in plain text"));
    QVERIFY(!QFile::exists(out));
    part<QAction>(w, "exportCsvAction")->trigger();
    QCOMPARE(modeOf(out), 0600);
    QCOMPARE(h.messages.last().text, QStringLiteral("2 records were written to %1.").arg(out));
}

QTEST_MAIN(TestClipboard)
#include "tst_clipboard.moc"
