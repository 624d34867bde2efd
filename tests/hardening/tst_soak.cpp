// The read cycle under injected faults: the real main window polls sensor-sim at period 0 while
// the simulator drops requests, answers some with an exception and breaks the CRC of others.
// Checked: every request sent gets exactly one outcome, the cycle never stalls, exception polls
// end red and the others normal (a retry covers a dropped or damaged frame), and the resident
// memory of the last thousand polls stays within 5 % of the first thousand's.
//
// RURODUR_SOAK_POLLS sets the number of polls (default 1000, which runs inside the test suite
// in well under a minute); scripts/soak runs 20,000.

#include "modalcatcher.h"
#include "windowfixture.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QtTest>

namespace {

// Polls that read the register answered with an exception: every 25th.
const int exceptionEvery = 25;
const QString exceptionAddress = QStringLiteral("100");

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void faultsDoNotStallTheCycle();
};

void TestSoak::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestSoak::faultsDoNotStallTheCycle()
{
    const int polls = qMax(100, qEnvironmentVariableIntValue("RURODUR_SOAK_POLLS") > 0
                                    ? qEnvironmentVariableIntValue("RURODUR_SOAK_POLLS")
                                    : 1000);
    // Each dropped or damaged frame costs the client's 2 s timeout before its retry: about
    // twenty of each over a run keeps the faults frequent without the run growing long.
    const int faultEvery = qMax(200, polls / 20);

    WindowFixture f(QStringLiteral("tst_soak"));
    QVERIFY(f.isValid());
    QVERIFY(!f.useModbusWorkbook().isEmpty());
    QVERIFY2(f.startSimulator({ "--static", "--drop-every", QString::number(faultEvery), "--corrupt-crc-every",
                                QString::number(faultEvery + 7), "--exception",
                                exceptionAddress + QStringLiteral(":4") }),
             qPrintable(f.sim().errorString()));

    ModalCatcher boxes;
    f.create(true);
    QPushButton *read = f.readButton;
    QLineEdit *addr = f.addrRead;
    QStatusBar *status = f.status;
    f.setReadWindow(0, 10);
    WindowFixture::finishEdit(f.period, QStringLiteral("0"));
    f.repeat->setChecked(true);
    QVERIFY(f.open());

    // The read step takes the address field's text as it stands at each tick; every
    // exceptionEvery-th poll is pointed at the register that answers with an exception.
    int sent = 0, outcomes = 0, normal = 0, exceptionRed = 0, otherRed = 0, unexpected = 0;
    int overlapping = 0, orphans = 0;
    bool pending = false;
    bool pendingIsException = false;
    qint64 rssFirst = 0, rssLast = 0;
    const int memoryWindow = qMin(1000, polls / 4);
    QElapsedTimer sinceOutcome;
    qint64 longestGap = 0;
    sinceOutcome.start();

    auto outcome = [&](bool isRed, bool isNormal) {
        if (!pending) {
            ++orphans;
            return;
        }
        pending = false;
        ++outcomes;
        // The fixture's own records would grow with every poll and count as the program's.
        f.messages.clear();
        f.styles.clear();
        longestGap = qMax(longestGap, sinceOutcome.elapsed());
        sinceOutcome.restart();
        if (pendingIsException)
            exceptionRed += isRed;
        else
            otherRed += isRed;
        normal += isNormal;
        if (pendingIsException ? !isRed : !(isRed || isNormal))
            ++unexpected;
        const qint64 rss = residentKb();
        if (outcomes <= memoryWindow)
            rssFirst = qMax(rssFirst, rss);
        if (outcomes > polls - memoryWindow)
            rssLast = qMax(rssLast, rss);
        const bool nextIsException = (outcomes + 1) % exceptionEvery == 0;
        addr->setText(nextIsException ? exceptionAddress : QStringLiteral("0"));
        if (outcomes >= polls)
            read->setChecked(false);
    };
    QObject::connect(status, &QStatusBar::messageChanged, status, [&](const QString &text) {
        if (text == windowtext::sent) {
            if (pending)
                ++overlapping;
            pending = true;
            pendingIsException = addr->text() == exceptionAddress;
            ++sent;
        } else if (text == windowtext::normal) {
            outcome(false, true);
        } else if (!text.isEmpty() && !text.startsWith(QStringLiteral("modbus status:"))) {
            // Any other text is the client's error text for the reply.
            outcome(true, false);
        }
    });

    // Each poll is bounded: two attempts of 2 s each. A watchdog that sees no new outcome over
    // a much longer span means the cycle has stopped. The loop runs unthrottled, as the program's
    // own event loop does.
    const int stallMs = 10000;
    QEventLoop loop;
    QTimer watchdog;
    int seenByWatchdog = -1;
    bool stalled = false;
    QObject::connect(&watchdog, &QTimer::timeout, &loop, [&] {
        if (outcomes == seenByWatchdog) {
            stalled = true;
            loop.quit();
        }
        seenByWatchdog = outcomes;
    });
    QObject::connect(status, &QStatusBar::messageChanged, &loop, [&] {
        if (outcomes >= polls)
            loop.quit();
    }, Qt::QueuedConnection);
    watchdog.start(stallMs);
    read->setChecked(true);
    loop.exec();
    watchdog.stop();
    QVERIFY2(!stalled, qPrintable(QStringLiteral("no outcome for %1 ms after poll %2 (sent %3)")
                                      .arg(stallMs).arg(outcomes).arg(sent)));
    read->setChecked(false);
    QTest::qWait(50);
    f.connectButton->setChecked(false);

    const int exceptionPolls = polls / exceptionEvery;
    const QStringList log = f.sim().requests();
    const int drops = log.filter(QStringLiteral("outcome=drop")).size();
    const int corrupt = log.filter(QStringLiteral("outcome=corrupt")).size();
    const int exceptions = log.filter(QStringLiteral("outcome=exception")).size();
    const double growth = rssFirst > 0 ? 100.0 * (rssLast - rssFirst) / rssFirst : 0;
    qInfo("soak: %d polls, %d sent, %d normal, %d exception replies shown red, %d other red; "
          "simulator: %d requests, %d dropped, %d corrupted, %d exceptions; longest wait %lld ms; "
          "peak RSS first %d polls %lld kB, last %d polls %lld kB (%+.2f %%)",
          polls, sent, normal, exceptionRed, otherRed, int(log.size()), drops, corrupt, exceptions,
          longestGap, memoryWindow, rssFirst, memoryWindow, rssLast, growth);

    QCOMPARE(boxes.count(), 0);
    QCOMPARE(overlapping, 0);
    QCOMPARE(orphans, 0);
    QCOMPARE(sent, outcomes);
    QCOMPARE(unexpected, 0);
    QCOMPARE(exceptionRed, exceptionPolls);
    // Faults were injected, and a retry covered almost all of them: a poll fails only when both
    // of its attempts meet a fault.
    QVERIFY(drops > 0);
    QVERIFY(corrupt > 0);
    QVERIFY(exceptions >= exceptionPolls);
    QVERIFY2(otherRed <= (drops + corrupt) / 4 + 1, qPrintable(QString::number(otherRed)));
    QCOMPARE(normal, polls - exceptionPolls - otherRed);
    // A short run mostly measures the allocator warming up; the flat-memory claim is checked
    // where there are thousands of polls on either side.
    if (polls >= 5000)
        QVERIFY2(growth < 5.0, qPrintable(QStringLiteral("resident memory grew %1 %").arg(growth)));
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
