#include "myconfig.h"
#include "modbussession.h"
#include "windowfixture.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QtTest>

using namespace modbusworkbook;
using namespace windowtext;

// The repeated read: period, one request at a time, period changes, stopping, and failed
// replies in the middle of a cycle. Counts are bounded generously; nothing here times the
// machine.
class TestModbusCycle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void periodHonoured();
    void slowDeviceNoOverlap();
    void periodChangedWhileCycling();
    void periodZero_data();
    void periodZero();
    void untickRepeatStops();
    void failedReplyKeepsCycling();
    void writeEndsCycle();

private:
    // Starts a cycle of holding registers 0..2 with `period` in the field.
    void startCycle(WindowFixture &h, const QString &period)
    {
        h.setReadWindow(0, 3);
        h.period->setText(period);
        h.repeat->setChecked(true);
        h.readButton->setChecked(true);
    }

    std::unique_ptr<WindowFixture> m_f;
};

void TestModbusCycle::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestModbusCycle::init()
{
    m_f = std::make_unique<WindowFixture>(QStringLiteral("tst_modbuscycle"));
    QVERIFY(m_f->isValid());
    QVERIFY(!m_f->useModbusWorkbook().isEmpty());
}

void TestModbusCycle::cleanup()
{
    m_f.reset();
}

void TestModbusCycle::periodHonoured()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static" }), qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());

    QElapsedTimer elapsed;
    elapsed.start();
    startCycle(h, QStringLiteral("200"));
    QVERIFY(h.readButton->isChecked());
    QCOMPARE(h.count(sent), 1); // the first request goes out at once
    QVERIFY(h.sim().waitForRequests(5, 5000));
    h.readButton->setChecked(false);
    const qint64 ms = elapsed.elapsed();
    QVERIFY(h.waitFor(normal, h.count(sent)));

    // One request at the press and one per period after it, never more.
    const int served = h.sim().requests().size();
    QVERIFY2(served >= 2, qPrintable(QString::number(served)));
    QVERIFY2(served <= 1 + ms / 200 + 1, qPrintable(QStringLiteral("%1 in %2 ms").arg(served).arg(ms)));
    QVERIFY(!h.session()->isCycling()); // released: the timer stopped
}

void TestModbusCycle::slowDeviceNoOverlap()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static", "--delay-ms", "150" }),
             qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());

    startCycle(h, QStringLiteral("20"));
    QVERIFY(h.waitFor(normal, 4, 5000));
    h.readButton->setChecked(false);
    QVERIFY(h.waitFor(normal, h.count(sent)));

    // The ticks that came while a reply was outstanding sent nothing and were not made up.
    QCOMPARE(h.count(sent), h.count(normal));
    QCOMPARE(h.sim().requests().size(), h.count(sent));
}

void TestModbusCycle::periodChangedWhileCycling()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static" }), qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());

    startCycle(h, QStringLiteral("5000"));
    QVERIFY(h.waitFor(normal));
    // A shorter period applies to the running cycle at once.
    WindowFixture::finishEdit(h.period, QStringLiteral("30"));
    QVERIFY(h.waitFor(normal, 5, 3000));

    // A longer one too; then 10 ms or less is kept but not applied.
    WindowFixture::finishEdit(h.period, QStringLiteral("5000"));
    QCOMPARE(h.session()->cycleInterval(), 5000);
    WindowFixture::finishEdit(h.period, QStringLiteral("5"));
    QCOMPARE(h.session()->cycleInterval(), 5000);
    QVERIFY(h.session()->isCycling());
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
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static" }), qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());

    // Each handled reply is followed by the next request as soon as the event loop allows.
    startCycle(h, period);
    QVERIFY(h.waitFor(normal, 10, 5000));
    h.readButton->setChecked(false);
    QVERIFY(h.waitFor(normal, h.count(sent)));
    QCOMPARE(h.count(sent), h.count(normal));
    QCOMPARE(h.sim().requests().size(), h.count(sent));
}

void TestModbusCycle::untickRepeatStops()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static", "--delay-ms", "100" }),
             qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());

    startCycle(h, QStringLiteral("20"));
    QVERIFY(h.waitFor(normal, 2));
    h.repeat->setChecked(false);
    QVERIFY(!h.readButton->isChecked());
    // A reply still on its way is handled normally; nothing follows it.
    QVERIFY(h.waitFor(normal, h.count(sent)));
    const int served = h.sim().requests().size();
    QTest::qWait(300);
    QCOMPARE(h.sim().requests().size(), served);
    QCOMPARE(h.style(), white);
}

void TestModbusCycle::failedReplyKeepsCycling()
{
    WindowFixture &h = *m_f;
    // Requests 1 and 2 (first attempt and retry) are dropped, the rest answered.
    QVERIFY2(h.startSimulator({ "--static", "--drop-every", "1" }),
             qPrintable(h.sim().errorString()));
    h.create();
    QVERIFY(h.open());

    startCycle(h, QStringLiteral("50"));
    QVERIFY(h.waitFor(QStringLiteral("Request timeout."), 1, 7000));
    QCOMPARE(h.styles.mid(0, 2), QStringList({ green, red }));
    QVERIFY(h.sim().waitForRequests(2));
    QCOMPARE(h.sim().requestsWith({ "outcome=drop" }).size(), 2);
    // The cycle carries on with the next request.
    QVERIFY(h.waitFor(sent, 2, 2000));
    QVERIFY(h.readButton->isChecked());
    h.readButton->setChecked(false);
    h.connectButton->setChecked(false); // aborts the outstanding request
    QCOMPARE(h.style(), red);
    QCOMPARE(h.status->currentMessage(), QStringLiteral("modbus status:UnconnectedState"));
}

void TestModbusCycle::writeEndsCycle()
{
    WindowFixture &h = *m_f;
    QVERIFY2(h.startSimulator({ "--static", "--delay-ms", "150" }),
             qPrintable(h.sim().errorString()));
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
    QCOMPARE(h.count(sent), 1);
    // Edits after the press do not change what is sent.
    h.setCell(5, HexColumn, QStringLiteral("0x0043"));

    QVERIFY(h.waitFor(normal, 2));
    QCOMPARE(h.count(sent), 2);
    QTest::qWait(200);
    const QStringList served = h.sim().requests();
    QCOMPARE(served.size(), 2);
    QCOMPARE(h.sim().requestsWith({ "fc=6", "addr=5", "values=66" }).size(), 1);
    QVERIFY(served.last().contains(QStringLiteral("fc=6")));
}

QTEST_MAIN(TestModbusCycle)
#include "tst_modbuscycle.moc"
