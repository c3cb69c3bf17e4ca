#include "../common/parts.h"

#include "splash.h"

#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QtTest>

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

class TestSplash : public QObject {
    Q_OBJECT
private slots:
    void closesItself();
    void clicks();
};

void TestSplash::closesItself() {
    Recorder r;
    QPointer<Splash> splash;
    splash = new Splash(r.hooks(), [&] {
        ++r.mainShown;
        r.splashVisibleWhenMainShown = splash && splash->isVisible();
    });
    splash->show();
    QCOMPARE(r.mainShown, 0);
    QTRY_VERIFY_WITH_TIMEOUT(splash.isNull(), 5000);
    QCOMPARE(r.mainShown, 1);
    // The main window's start-up ran while the splash was still up.
    QVERIFY(r.splashVisibleWhenMainShown);
}

void TestSplash::clicks() {
    Recorder r;
    QPointer<Splash> splash = new Splash(r.hooks(), [&] { ++r.mainShown; });
    part<QTimer>(splash, "closeTimer")->stop(); // kept up for the clicks
    splash->show();
    QVERIFY(QTest::qWaitForWindowExposed(splash));
    // A text does nothing; the address and the picture open the home page.
    QTest::mouseClick(part<QLabel>(splash, "slogan"), Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseClick(part<QLabel>(splash, "homePageLink"), Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseClick(part<QLabel>(splash, "logo"), Qt::LeftButton, {}, QPoint(2, 2));
    QCOMPARE(r.opened, (QStringList{kHomePage, kHomePage}));
    QCOMPARE(r.mainShown, 0);
    // The background closes it at once, and its timer never fires after.
    part<QTimer>(splash, "closeTimer")->start();
    QTest::mouseClick(splash, Qt::LeftButton, {}, QPoint(20, 200));
    QCOMPARE(r.mainShown, 1);
    QTRY_VERIFY(splash.isNull());
    QTest::qWait(1100);
    QCOMPARE(r.mainShown, 1);
}

QTEST_MAIN(TestSplash)
#include "tst_splash.moc"
