#include "../common/guiharness.h"

#include "breachlist.h"
#include "healthmarks.h"
#include "healthwindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QHeaderView>
#include <QTableWidget>

// Menu -> Password health as a person uses it: the rows, a click that shows
// the record, a mark that outlives the program, a breach list chosen.

namespace {

const QList<QByteArray> kRecords{"bank:!ann:!password1:!:!", "mail:!ann:!password1:!:!",
                                 "shop:!bob:!Kq7vX2pL9wZ3rT8m:!:!", "forum:!cy:!forumcy:!note:!"};

QStringList Rows(QDialog &report) {
    auto *table = part<QTableWidget>(report, "healthRows");
    QStringList out;
    for (int r = 0; r < table->rowCount(); ++r)
        out << table->item(r, 0)->text() + " | " + table->item(r, 2)->text();
    return out;
}

void ClickRow(QDialog &report, int row) {
    auto *table = part<QTableWidget>(report, "healthRows");
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualItemRect(table->item(row, 0)).center());
}

} // namespace

class TestHealthWindow : public QObject {
    Q_OBJECT
private slots:
    void reportShowsMarksAndChecks();
};

void TestHealthWindow::reportShowsMarksAndChecks() {
    Harness h(true);
    MainWindow &w = h.startWith(kRecords);
    QAction *health = part<QAction>(w, "healthAction");
    QCOMPARE(health->text(), QString::fromUtf8("&Password health\u2026"));
    const QString list = h.folders.root.path() + "/breached.txt";
    writeBytes(list, BreachHashHex("Kq7vX2pL9wZ3rT8m") + ":1\r\n");
    QStringList seen;
    bool markOffered = false;
    h.onDialog = [&](QDialog &report) -> int {
        report.show();
        seen << Rows(report).join('\n');
        auto *summary = part<QLabel>(report, "healthSummary");
        seen << summary->text();
        // A click shows the record in the main window.
        ClickRow(report, 2);
        seen << h.fields().join(',');
        // Marked, it leaves the list; shown again with the marked ones.
        ClickRow(report, 0);
        auto *mark = part<QPushButton>(report, "markButton");
        markOffered = mark->isEnabled();
        mark->click();
        seen << Rows(report).join('\n') << summary->text();
        part<QCheckBox>(report, "showMarked")->click();
        seen << Rows(report).first();
        ClickRow(report, 0);
        seen << mark->text();
        // The breach list, chosen with the button, is read on its thread.
        h.chosenFiles = {list};
        part<QPushButton>(report, "breachButton")->click();
        seen << Rows(report).first();
        return int(QDialog::Rejected);
    };
    health->trigger();
    QCOMPARE(h.dialogs, QStringList{"healthWindow"});
    QCOMPARE(seen.size(), 8);
    QVERIFY(markOffered);
    QVERIFY(
        QRegularExpression("^bank \\| weak \\(about \\d+ guesses\\), reused with mail \\(ann\\), "
                           "short \\(9 characters\\)\nmail \\| weak .*\nforum \\| weak .*, "
                           "short \\(7 characters\\)$")
            .match(seen[0])
            .hasMatch());
    QCOMPARE(seen[1], "4 passwords checked: 3 weak, 2 reused, 3 short. No master password "
                      "protects the records.");
    QCOMPARE(seen[2], "forum,cy,forumcy,note,");
    QVERIFY(!seen[3].startsWith("bank") && seen[3].startsWith("mail | weak"));
    QVERIFY(seen[4].startsWith("4 passwords checked: 2 weak, 1 reused, 2 short. 1 marked not a "
                               "concern."));
    QVERIFY(seen[5].startsWith("bank | not a concern: weak"));
    QCOMPARE(seen[6], "A &concern again");
    QCOMPARE(seen[7], "shop | breached");

    // The mark is on disk, and the next start leaves the record out.
    QCOMPARE(HealthMarks::read(h.paths().healthMarks()).size(), 1);
    h.start();
    seen.clear();
    h.onDialog = [&](QDialog &report) {
        seen << Rows(report);
        return int(QDialog::Rejected);
    };
    part<QAction>(*h.window, "healthAction")->trigger();
    QCOMPARE(seen.size(), 2);
    QVERIFY(seen[0].startsWith("mail") && seen[1].startsWith("forum"));
}

QTEST_MAIN(TestHealthWindow)
#include "tst_healthwindow.moc"
