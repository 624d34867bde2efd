#include "windowharness.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QtTest>

using namespace modbustest;

// The repeated read: period, one request at a time, period changes, stopping, and failed
// replies in the middle of a cycle. Counts are bounded generously; nothing here times the
// machine.
class TestModbusCycle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void periodHonoured();
    void slowDeviceNoOverlap();
    void periodChangedWhileCycling();
    void periodZero_data();
    void periodZero();
    void untickRepeatStops();
    void failedReplyKeepsCycling();
    void writeEndsCycle();
    void waitingWriteDroppedWhenLineCloses();

private:
    // Starts a cycle of holding registers 0..2 with `period` in the field.
    void startCycle(WindowHarness &h, const QString &period)
    {
        h.setReadWindow(0, 3);
        h.period->setText(period);
        h.repeat->setChecked(true);
        h.readButton->setChecked(true);
    }

    const QString simPath = QStringLiteral(SENSOR_SIM_PATH);
};

void TestModbusCycle::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestModbusCycle::periodHonoured()
{
    SimFixture sim(simPath);
    QVERIFY2(sim.start({ "--static" }), qPrintable(sim.errorString()));
    WindowHarness h(sim.clientPort(), QStringLiteral("hold"));
    h.create();
    QVERIFY(h.open());

    QElapsedTimer elapsed;
    elapsed.start();
    startCycle(h, QStringLiteral("200"));
    QVERIFY(h.readButton->isChecked());
    QCOMPARE(h.count(sentText), 1); // the first request goes out at once
    QTest::qWait(1000);
    h.readButton->setChecked(false);
    const qint64 ms = elapsed.elapsed();
    QVERIFY(h.waitFor(normalText, h.count(sentText)));

    // One request at the press and one per period after it, never more.
    const int served = sim.requests().size();
    QVERIFY2(served >= 2, qPrintable(QString::number(served)));
    QVERIFY2(served <= 1 + ms / 200 + 1, qPrintable(QStringLiteral("%1 in %2 ms").arg(served).arg(ms)));
    QTest::qWait(300);
    QCOMPARE(sim.requests().size(), served); // released: the timer stopped
}

void TestModbusCycle::slowDeviceNoOverlap()
{
    SimFixture sim(simPath);
    QVERIFY2(sim.start({ "--static", "--delay-ms", "150" }), qPrintable(sim.errorString()));
    WindowHarness h(sim.clientPort(), QStringLiteral("hold"));
    h.create();
    QVERIFY(h.open());

    startCycle(h, QStringLiteral("20"));
    QVERIFY(h.waitFor(normalText, 4, 5000));
    h.readButton->setChecked(false);
    QVERIFY(h.waitFor(normalText, h.count(sentText)));

    // The ticks that came while a reply was outstanding sent nothing and were not made up.
    QCOMPARE(h.count(sentText), h.count(normalText));
    QCOMPARE(sim.requests().size(), h.count(sentText));
}

void TestModbusCycle::periodChangedWhileCycling()
{
    SimFixture sim(simPath);
    QVERIFY2(sim.start({ "--static" }), qPrintable(sim.errorString()));
    WindowHarness h(sim.clientPort(), QStringLiteral("hold"));
    h.create();
    QVERIFY(h.open());

    startCycle(h, QStringLiteral("5000"));
    QVERIFY(h.waitFor(normalText));
    // A shorter period applies to the running cycle at once.
    WindowHarness::finishEdit(h.period, QStringLiteral("30"));
    QVERIFY(h.waitFor(normalText, 5, 3000));

    // A longer one too; then 10 ms or less is kept but not applied.
    WindowHarness::finishEdit(h.period, QStringLiteral("5000"));
    QTest::qWait(100);
    const int before = sim.requests().size();
    WindowHarness::finishEdit(h.period, QStringLiteral("5"));
    QTest::qWait(400);
    QVERIFY2(sim.requests().size() <= before + 1,
             qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(sim.requests().size())));
    QVERIFY(h.readButton->isChecked());
    h.readButton->setChecked(false);
}

void TestModbusCycle::periodZero_data()
{
    QTest::addColumn<QString>("period");
    QTest::newRow("0") << "0";
    QTest::newRow("not a number") << "abc";
    QTest::newRow("negative") << "-50";
}

void TestModbusCycle::periodZero()
{
    QFETCH(QString, period);
    SimFixture sim(simPath);
    QVERIFY2(sim.start({ "--static" }), qPrintable(sim.errorString()));
    WindowHarness h(sim.clientPort(), QStringLiteral("hold"));
    h.create();
    QVERIFY(h.open());

    // Each handled reply is followed by the next request as soon as the event loop allows.
    startCycle(h, period);
    QVERIFY(h.waitFor(normalText, 10, 5000));
    h.readButton->setChecked(false);
    QVERIFY(h.waitFor(normalText, h.count(sentText)));
    QCOMPARE(h.count(sentText), h.count(normalText));
    QCOMPARE(sim.requests().size(), h.count(sentText));
}

void TestModbusCycle::untickRepeatStops()
{
    SimFixture sim(simPath);
    QVERIFY2(sim.start({ "--static", "--delay-ms", "100" }), qPrintable(sim.errorString()));
    WindowHarness h(sim.clientPort(), QStringLiteral("hold"));
    h.create();
    QVERIFY(h.open());

    startCycle(h, QStringLiteral("20"));
    QVERIFY(h.waitFor(normalText, 2));
    h.repeat->setChecked(false);
    QVERIFY(!h.readButton->isChecked());
    // A reply still on its way is handled normally; nothing follows it.
    QVERIFY(h.waitFor(normalText, h.count(sentText)));
    const int served = sim.requests().size();
    QTest::qWait(300);
    QCOMPARE(sim.requests().size(), served);
    QCOMPARE(h.style(), white);
}

void TestModbusCycle::failedReplyKeepsCycling()
{
    SimFixture sim(simPath);
    // Requests 1 and 2 (first attempt and retry) are dropped, the rest answered.
    QVERIFY2(sim.start({ "--static", "--drop-every", "1" }), qPrintable(sim.errorString()));
    WindowHarness h(sim.clientPort(), QStringLiteral("hold"));
    h.create();
    QVERIFY(h.open());

    startCycle(h, QStringLiteral("50"));
    QVERIFY(h.waitFor(QStringLiteral("Request timeout."), 1, 7000));
    QCOMPARE(h.styleRecorder->styles.mid(0, 2), QStringList({ green, red }));
    QVERIFY(sim.waitForRequests(2));
    QCOMPARE(requestsWith(sim, { "outcome=drop" }).size(), 2);
    // The cycle carries on with the next request.
    QVERIFY(h.waitFor(sentText, 2, 2000));
    QVERIFY(h.readButton->isChecked());
    h.readButton->setChecked(false);
    h.connectButton->setChecked(false); // aborts the outstanding request
    QCOMPARE(h.style(), red);
    QCOMPARE(h.status->currentMessage(), QStringLiteral("modbus status:UnconnectedState"));
}

void TestModbusCycle::writeEndsCycle()
{
    SimFixture sim(simPath);
    QVERIFY2(sim.start({ "--static", "--delay-ms", "150" }), qPrintable(sim.errorString()));
    WindowHarness h(sim.clientPort(), QStringLiteral("hold"));
    h.create();
    QVERIFY(h.open());

    startCycle(h, QStringLiteral("0"));
    QVERIFY(h.readButton->isChecked());
    h.setCell(5, HexColumn, QStringLiteral("0x0041"));
    h.setWriteRange(5, 1);
    // A read is outstanding: the cycle ends and the write waits for its reply.
    h.writeButton->click();
    // A second press replaces the waiting write, with the cells as they are now.
    h.setCell(5, HexColumn, QStringLiteral("0x0042"));
    h.writeButton->click();
    QVERIFY(!h.repeat->isChecked());
    QVERIFY(!h.readButton->isChecked());
    QCOMPARE(h.count(sentText), 1);
    // Edits after the press do not change what is sent.
    h.setCell(5, HexColumn, QStringLiteral("0x0043"));

    QVERIFY(h.waitFor(normalText, 2));
    QCOMPARE(h.count(sentText), 2);
    QTest::qWait(200);
    const QStringList served = sim.requests();
    QCOMPARE(served.size(), 2);
    QCOMPARE(requestsWith(sim, { "fc=6", "addr=5", "values=66" }).size(), 1);
    QVERIFY(served.last().contains(QStringLiteral("fc=6")));
}

void TestModbusCycle::waitingWriteDroppedWhenLineCloses()
{
    SimFixture sim(simPath);
    QVERIFY2(sim.start({ "--static", "--delay-ms", "300" }), qPrintable(sim.errorString()));
    WindowHarness h(sim.clientPort(), QStringLiteral("hold"));
    h.create();
    QVERIFY(h.open());

    h.setReadWindow(0, 3);
    h.readButton->setChecked(true);
    h.setCell(5, HexColumn, QStringLiteral("7"));
    h.setWriteRange(5, 1);
    h.writeButton->click();
    h.connectButton->setChecked(false);
    QVERIFY(h.open());
    QTest::qWait(700);
    QCOMPARE(requestsWith(sim, { "fc=6" }).size(), 0);
    QCOMPARE(h.count(sentText), 1);
}

QTEST_MAIN(TestModbusCycle)
#include "tst_modbuscycle.moc"
