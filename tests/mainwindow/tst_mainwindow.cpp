#include "../common/guiharness.h"

#include <QLabel>

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void commandsOnTheRecords_data();
    void commandsOnTheRecords();
    void boxesShowNamesAsText();
};

void TestMainWindow::commandsOnTheRecords_data() {
    // From a store of these records, steps as a person takes them, split at
    // "; ": "fill=" types the fields (split at |), "set=N=" sets one, "type=N="
    // types into one, "back=N" presses Backspace at its end, "enter=N" presses
    // Enter in it, "click=N" and "rclick=N" click a row, "down" presses Down in
    // the list, "bar=" presses a command on the menu bar, "add", "replace" and
    // "remove" run one; "?fields=", "?commands=" and "?row=" check what the
    // window shows then.
    QTest::addColumn<QList<QByteArray>>("records");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QList<QByteArray>>("stored"); // the store's records after
    QTest::addColumn<QStringList>("messages");     // the start of each message shown
    const QByteArray note(40000, 'n');             // longer than an edit box holds by default
    const QList<QByteArray> none, mail{"mail:!bob:!pw:!:!"}, alpha{"alpha:!a:!1:!:!"};
    QTest::newRow("added from the bar")
        << none
        << "fill=Mail, home|bob|s3cret|note|http://mail.example; bar=add; ?fields=||||; "
           "?commands="
        << QList<QByteArray>{"Mail, home:!bob:!s3cret:!note:!http://mail.example"} << QStringList();
    // Enter in Other Info adds once the three required fields are filled;
    // Enter in the path never does.
    QTest::newRow("Enter adds")
        << none << "fill=bank|ann|pin; enter=4; set=4=; enter=3; fill=shop|carl|; enter=3"
        << QList<QByteArray>{"bank:!ann:!pin:!:!"} << QStringList();
    // The http:// offered to an empty path is stored only once typed after.
    QTest::newRow("the offered path alone is not stored")
        << none << "fill=bank|ann|pin; type=4=; ?fields=bank|ann|pin||http://; bar=add"
        << QList<QByteArray>{"bank:!ann:!pin:!:!"} << QStringList();
    QTest::newRow("typed after the offer, stored")
        << none << "fill=bank|ann|pin; type=4=bank.example; bar=add"
        << QList<QByteArray>{"bank:!ann:!pin:!:!http://bank.example"} << QStringList();
    QTest::newRow("the offer is no change")
        << mail << "click=0; type=4=; bar=replace" << mail << QStringList{"There were no changes"};
    // Add and Replace need the three required fields filled, whether a key or
    // the program emptied one; Replace needs a record shown as selected.
    QTest::newRow("the field rule")
        << QList<QByteArray>{"svc:!:!:!:!"}
        << "click=0; type=2=pw; ?commands=remove; type=1=u; ?commands=add replace remove; "
           "back=1; ?commands=remove; set=1=u; set=0=; ?commands=remove; set=0=svc; back=2; "
           "back=2; ?commands=remove; set=2=pw; set=3=x; set=3=; ?commands=add replace remove"
        << QList<QByteArray>{"svc:!:!:!:!"} << QStringList();
    // A click empties all five fields and fills what the line reaches: a
    // short line stops at its last separator. A right click takes the
    // highlight, and with it Replace and Remove: no command acts on a record
    // not shown as selected; Down moves it and empties the fields.
    QTest::newRow("selection")
        << QList<QByteArray>{"mail:!bob:!x1:!:!", "news:!nn:!pp:!oi:!http://n", "half:!hu:!hp"}
        << "click=2; ?fields=news|nn|pp|oi|http://n; click=1; ?fields=mail|bob|x1||; "
           "?commands=add replace remove; click=0; ?fields=half|hu|||; click=1; rclick=2; "
           "?row=-1; ?commands=add; ?fields=mail|bob|x1||; click=0; down; ?row=1; ?fields=||||; "
           "?commands="
        << QList<QByteArray>{"mail:!bob:!x1:!:!", "news:!nn:!pp:!oi:!http://n", "half:!hu:!hp"}
        << QStringList();
    QTest::newRow("an identical record")
        << mail << "fill=mail|bob|pw; add; ?fields=mail|bob|pw||" << mail
        << QStringList{"There is an identical record already filed"};
    QTest::newRow("no change") << mail << "click=0; replace" << mail
                               << QStringList{"There were no changes"};
    // Letter case alone makes another record, placed by the whole line with
    // case ignored ("pw2" before "pw:"); a replace by another record's text
    // is no change, never a duplicate.
    QTest::newRow("letter case")
        << mail
        << "fill=MAIL|bob|pw; add; fill=mail|Bob|pw; add; click=2; set=2=pw2; replace; "
           "set=0=MAIL; set=2=pw; replace"
        << QList<QByteArray>{"mail:!bob:!pw2:!:!", "MAIL:!bob:!pw:!:!", "mail:!Bob:!pw:!:!"}
        << QStringList{"There were no changes"};
    // The selection follows the record it moved, so a second replace changes it again.
    QTest::newRow("replace and remove")
        << QList<QByteArray>{"alpha:!a:!1:!" + note + ":!", "beta:!b:!2:!:!"}
        << "click=0; set=0=zulu; bar=replace; set=2=11; replace; click=0; bar=remove; "
           "?commands=; remove"
        << QList<QByteArray>{"zulu:!a:!11:!" + note + ":!"}
        << QStringList{"Nothing was removed: no record is selected."};
    // Windows-1252 holds these, stored as typed; what it does not hold is
    // refused by its field's name, and the field keeps it.
    QTest::newRow("the code page")
        << alpha
        << QString::fromUtf8("fill=cafe|u|p; set=0=caf\u00e9 \u20ac; add; fill=shop|bob|pw; "
                             "set=3=\u65e5\u672c; add; click=0; set=2=z\u01421; replace; "
                             "?fields=alpha|a|z\u01421||")
        << alpha + QList<QByteArray>{"caf\xE9 \x80:!u:!p:!:!"}
        << QStringList{QString::fromUtf8("The Other Info field holds \"\u65e5\""),
                       QString::fromUtf8("The Password field holds \"\u0142\"")};
    // The separator of the fields would move the rest of the record when read
    // back: refused in every field but the last, which takes it whole. A line
    // break (pasted, captured) would end the record's line anywhere.
    QTest::newRow("the separator and line breaks")
        << alpha
        << "fill=a:!b|u|p; add; fill=x|u:!|p; add; fill=x|u|!:!p; add; fill=x|u|p|o:!; add; "
           "fill=x|u|p||a:!b:!; add; click=1; set=0=y:!; replace; set=0=x; set=3=two\nlines; "
           "replace; "
           "set=3=; set=4=c:\r; add"
        << alpha + QList<QByteArray>{"x:!u:!p:!:!a:!b:!"}
        << QStringList{"The Service field holds \":!\"",
                       "The Username field holds \":!\"",
                       "The Password field holds \":!\"",
                       "The Other Info field holds \":!\"",
                       "The Service field holds \":!\"",
                       "The Other Info field holds a line break (a field of the window shows it as "
                       "a space)",
                       "The Path field holds a line break"};
}

void TestMainWindow::commandsOnTheRecords() {
    QFETCH(QList<QByteArray>, records);
    QFETCH(QString, steps);
    QFETCH(QList<QByteArray>, stored);
    QFETCH(QStringList, messages);
    Harness h(true);
    MainWindow &w = records.isEmpty() ? h.start() : h.startWith(records);
    for (const QString &step : steps.split(QStringLiteral("; "))) {
        const QString name = step.section(u'=', 0, 0), value = step.section(u'=', 1);
        // A number: a field by its place in the record, or a row of the list.
        const int number = value.section(u'=', 0, 0).toInt();
        const Field field = kFields[size_t(std::clamp(number, 0, kFieldCount - 1))];
        if (name == "fill") {
            h.fill(value.split(u'|'));
        } else if (name == "set") {
            fieldEdit(w, field)->setText(value.section(u'=', 1));
        } else if (name == "type") {
            h.type(field, value.section(u'=', 1));
        } else if (name == "back") {
            fieldEdit(w, field)->setFocus();
            fieldEdit(w, field)->end(false);
            QTest::keyClick(fieldEdit(w, field), Qt::Key_Backspace);
        } else if (name == "click" || name == "rclick") {
            h.clickRow(number, name == "click" ? Qt::LeftButton : Qt::RightButton);
        } else if (name == "down") {
            part<ServiceList>(w, "recordView")->setFocus();
            QTest::keyClick(part<ServiceList>(w, "recordView"), Qt::Key_Down);
        } else if (name == "?row") {
            QCOMPARE(part<ServiceList>(w, "recordView")->selectedRow(), number);
        } else if (name == "enter") {
            h.type(field, QString());
            QTest::keyClick(fieldEdit(w, field), Qt::Key_Return);
        } else if (name == "bar") {
            h.pressBar(part<QAction>(w, value + "Action"));
        } else if (name == "?fields") {
            QCOMPARE(h.fields().join(u'|'), value);
        } else if (name == "?commands") {
            QCOMPARE(h.commands(), value);
        } else if (name == "add" || name == "replace" || name == "remove") {
            name == "add" ? w.add() : name == "replace" ? w.replaceSelected() : w.removeSelected();
        } else {
            QFAIL(qPrintable("no such step: " + step));
        }
    }
    QCOMPARE(h.messages.size(), messages.size());
    for (qsizetype i = 0; i < messages.size(); ++i)
        QVERIFY2(h.messages[i].text.startsWith(messages[i]), qPrintable(h.messages[i].text));
    QCOMPARE(h.databaseFile(), storeBytes(stored));
    if (records.isEmpty()) // made by the program: the owner's alone
        QCOMPARE(modeOf(h.paths().database()), 0600);
    QCOMPARE(h.names(), serviceNames(stored));
    h.start();
    QCOMPARE(h.w().records().toList(), RecordList(stored).toList());
}

void TestMainWindow::boxesShowNamesAsText() {
    // A box's text names records and files, which may hold anything: markup
    // in a name is shown as it is, never rendered (a file name could dress
    // itself up as a warning of Varnlock's own).
    const QString name = QStringLiteral("<h1>Your store is damaged</h1><a href=\"x\">call us</a>");
    const UiHooks hooks = UiHooks::desktop();
    const std::function<void()> shows[] = {
        [&] { hooks.message(QMessageBox::Warning, "t", "The copy " + name + " was not merged"); },
        [&] { hooks.confirm("t", "Take " + name + "?"); },
        [&] { hooks.report(QMessageBox::Information, "t", "Added " + name, "details"); },
        [&] { hooks.askPassword("t", "The copy " + name + " is under another password"); },
    };
    for (const auto &show : shows) {
        QList<Qt::TextFormat> formats;
        QTimer::singleShot(0, [&] {
            QWidget *box = QApplication::activeModalWidget();
            QVERIFY(box);
            for (const QLabel *label : box->findChildren<QLabel *>())
                if (label->text().contains(name))
                    formats << label->textFormat();
            qobject_cast<QDialog *>(box)->reject();
        });
        show();
        QCOMPARE(formats, QList<Qt::TextFormat>{Qt::PlainText});
    }
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
