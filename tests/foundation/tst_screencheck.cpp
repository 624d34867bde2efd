#include "screencheck.h"

#include <QtTest>

// A position is kept per coordinate when it lies strictly inside some screen; otherwise that
// coordinate moves to the first screen's edge plus 10.
class tst_ScreenCheck : public QObject
{
    Q_OBJECT
private slots:
    void position_data();
    void position();
};

using Screens = QList<QRect>;
Q_DECLARE_METATYPE(Screens)

void tst_ScreenCheck::position_data()
{
    QTest::addColumn<Screens>("screens");
    QTest::addColumn<QPoint>("stored");
    QTest::addColumn<QPoint>("expected");

    const QRect hd(0, 0, 1920, 1080); // left 0, top 0, right 1919, bottom 1079
    const QRect second(1920, 0, 1280, 1024); // right of hd: x 1920..3199, y 0..1023
    const QRect above(-200, -900, 1600, 900); // left -200..1399, top -900..-1

    QTest::newRow("first start at origin") << Screens{ hd } << QPoint(0, 0) << QPoint(10, 10);
    QTest::newRow("inside") << Screens{ hd } << QPoint(100, 200) << QPoint(100, 200);
    QTest::newRow("one past left edge") << Screens{ hd } << QPoint(1, 1) << QPoint(1, 1);
    QTest::newRow("right edge counts as outside") << Screens{ hd } << QPoint(1919, 500) << QPoint(10, 500);
    QTest::newRow("one before right edge") << Screens{ hd } << QPoint(1918, 1078) << QPoint(1918, 1078);
    QTest::newRow("bottom edge counts as outside") << Screens{ hd } << QPoint(500, 1079) << QPoint(500, 10);
    QTest::newRow("negative") << Screens{ hd } << QPoint(-50, -50) << QPoint(10, 10);
    QTest::newRow("only x outside") << Screens{ hd } << QPoint(5000, 300) << QPoint(10, 300);
    QTest::newRow("only y outside") << Screens{ hd } << QPoint(300, 5000) << QPoint(300, 10);

    // The second monitor was removed: x lay on it and now lies on no screen; y still fits.
    QTest::newRow("second screen removed") << Screens{ hd } << QPoint(2500, 400) << QPoint(10, 400);
    QTest::newRow("second screen present") << Screens{ hd, second } << QPoint(2500, 400) << QPoint(2500, 400);
    // The shared edge x = 1920 is the second screen's left edge and beyond the first's right.
    QTest::newRow("shared edge is outside both") << Screens{ hd, second } << QPoint(1920, 400) << QPoint(10, 400);
    QTest::newRow("shared edge minus one") << Screens{ hd, second } << QPoint(1919, 400) << QPoint(10, 400);
    // y = 1050 lies only on the first screen, x = 2500 only on the second: each is accepted on
    // its own screen, so the point stays although no single screen holds it.
    QTest::newRow("coordinates on different screens") << Screens{ hd, second } << QPoint(2500, 1050) << QPoint(2500, 1050);
    // The first screen in the list decides the correction, even when it is not at the origin.
    QTest::newRow("first screen above") << Screens{ above, hd } << QPoint(-500, -2000) << QPoint(-190, -890);
    QTest::newRow("negative coordinates inside") << Screens{ above } << QPoint(-100, -100) << QPoint(-100, -100);
}

void tst_ScreenCheck::position()
{
    QFETCH(Screens, screens);
    QFETCH(QPoint, stored);
    QFETCH(QPoint, expected);
    QCOMPARE(checkedWindowPosition(stored, screens), expected);
}

QTEST_GUILESS_MAIN(tst_ScreenCheck)
#include "tst_screencheck.moc"
