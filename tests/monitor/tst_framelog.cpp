// The monitor's frame log: the latest frames only, taken in batches, held while paused, saved.
#include "framelog.h"
#include "modbuscrc.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Frame n: a read request of n registers, so the rows tell the frames apart.
CapturedFrame request(int n)
{
    CapturedFrame f;
    f.time = QDateTime(QDate(2024, 5, 1), QTime(8, 0, 0, n)).toMSecsSinceEpoch();
    f.bytes = testcrc::frame(QStringLiteral("01 03 00 00 00 %1").arg(n, 2, 16, QLatin1Char('0')));
    return f;
}

// The count of each row's request, from its summary.
QList<int> counts(const FrameLog &log)
{
    QList<int> result;
    for (int row = 0; row < log.rowCount(); ++row)
        result << log.data(log.index(row, FrameLog::SummaryColumn)).toString().section(QLatin1Char(' '), -1).toInt();
    return result;
}

} // namespace

class tst_FrameLog : public QObject
{
    Q_OBJECT

private slots:
    void keepsTheLatest_data();
    void keepsTheLatest();
    void batchesPauseAndClear();
    void saveWritesEveryRow();
};

void tst_FrameLog::keepsTheLatest_data()
{
    QTest::addColumn<QList<int>>("batches"); // frames per batch, into a log of 5 rows
    QTest::addColumn<QList<int>>("rows");
    QTest::newRow("below capacity") << QList<int>{ 3 } << QList<int>{ 1, 2, 3 };
    QTest::newRow("one batch over capacity keeps its latest") << QList<int>{ 12 } << QList<int>{ 8, 9, 10, 11, 12 };
    QTest::newRow("second batch pushes out the oldest") << QList<int>{ 4, 3 } << QList<int>{ 3, 4, 5, 6, 7 };
    QTest::newRow("second batch replaces every row") << QList<int>{ 4, 6 } << QList<int>{ 6, 7, 8, 9, 10 };
    QTest::newRow("many batches wrap the ring") << QList<int>{ 3, 3, 3, 3, 1 } << QList<int>{ 9, 10, 11, 12, 13 };
}

void tst_FrameLog::keepsTheLatest()
{
    QFETCH(QList<int>, batches);
    QFETCH(QList<int>, rows);
    FrameLog log(nullptr, 5);
    int n = 0;
    for (int batch : batches) {
        for (int i = 0; i < batch; ++i)
            log.append(request(++n));
        log.flush();
    }
    QCOMPARE(counts(log), rows);
}

void tst_FrameLog::batchesPauseAndClear()
{
    FrameLog log(nullptr, 10);
    QSignalSpy inserted(&log, &QAbstractItemModel::rowsInserted);
    for (int n = 1; n <= 4; ++n)
        log.append(request(n));
    QCOMPARE(log.rowCount(), 0); // nothing before the batch is due
    QVERIFY(inserted.wait(5 * FrameLog::batchMs));
    QCOMPARE(inserted.count(), 1); // one insertion for the whole batch
    QCOMPARE(log.rowCount(), 4);

    log.setPaused(true);
    for (int n = 5; n <= 40; ++n)
        log.append(request(n));
    log.flush();
    QCOMPARE(log.rowCount(), 4);
    QVERIFY(log.waiting() >= 10 && log.waiting() < 36); // a long pause stays bounded
    log.setPaused(false);
    QCOMPARE(counts(log), (QList<int>{ 31, 32, 33, 34, 35, 36, 37, 38, 39, 40 }));

    log.append(request(41));
    log.clear();
    QCOMPARE(log.rowCount(), 0);
    QCOMPARE(log.waiting(), 0);
}

void tst_FrameLog::saveWritesEveryRow()
{
    QTemporaryDir dir;
    FrameLog log(nullptr, 3);
    for (int n = 1; n <= 4; ++n)
        log.append(request(n));
    log.flush();
    const QString path = dir.filePath(QStringLiteral("报文.txt"));
    QString error;
    QVERIFY2(log.save(path, &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4); // three lines, each ended
    QCOMPARE(lines.at(0), QStringLiteral("2024-05-01 08:00:00.002\t发送\t%1\t读保持寄存器 地址 0 数量 2")
                                  .arg(testcrc::hex(testcrc::frame(QStringLiteral("01 03 00 00 00 02")))));

    const QString missing = dir.filePath(QStringLiteral("missing/log.txt"));
    QVERIFY(!log.save(missing, &error));
    QVERIFY2(error.startsWith(missing + QStringLiteral(": ")), qPrintable(error));
}

QTEST_GUILESS_MAIN(tst_FrameLog)
#include "tst_framelog.moc"
