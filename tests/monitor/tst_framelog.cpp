// The monitor's frame log: bounded, batched, pausable, saved as text.
#include "framelog.h"
#include "modbuscrc.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Frame n: a read request of n registers, so every row is told apart by its bytes.
CapturedFrame request(int n)
{
    CapturedFrame f;
    f.time = QDateTime(QDate(2024, 5, 1), QTime(8, 0, 0, n % 1000)).toMSecsSinceEpoch();
    f.kind = CapturedFrame::Kind::Request;
    f.bytes = testcrc::frame(QStringLiteral("01 03 00 00 00 %1").arg(n % 256, 2, 16, QLatin1Char('0')));
    f.request = f.bytes;
    return f;
}

QString countOf(const FrameLog &log, int row)
{
    return log.data(log.index(row, FrameLog::SummaryColumn)).toString();
}

} // namespace

class tst_FrameLog : public QObject
{
    Q_OBJECT

private slots:
    void keepsTheLatest_data();
    void keepsTheLatest();
    void batchIsOneInsertion();
    void pauseHoldsRowsAndResumeCatchesUp();
    void clearEmptiesRowsAndWaitingFrames();
    void columns();
    void saveWritesOneLinePerRow();
    void saveReportsTheFile();
};

void tst_FrameLog::keepsTheLatest_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QList<int>>("batches"); // frames per batch
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("first"); // number of the frame in row 0
    QTest::newRow("below capacity") << 5 << QList<int>{ 3 } << 3 << 1;
    QTest::newRow("exactly full") << 5 << QList<int>{ 5 } << 5 << 1;
    QTest::newRow("one batch over capacity keeps its latest") << 5 << QList<int>{ 12 } << 5 << 8;
    QTest::newRow("second batch pushes out the oldest") << 5 << QList<int>{ 4, 3 } << 5 << 3;
    QTest::newRow("second batch replaces every row") << 5 << QList<int>{ 4, 6 } << 5 << 6;
    QTest::newRow("many batches wrap the ring") << 4 << QList<int>{ 3, 3, 3, 3, 1 } << 4 << 10;
}

void tst_FrameLog::keepsTheLatest()
{
    QFETCH(int, capacity);
    QFETCH(QList<int>, batches);
    QFETCH(int, rows);
    QFETCH(int, first);
    FrameLog log(nullptr, capacity);
    int n = 0;
    for (int batch : batches) {
        for (int i = 0; i < batch; ++i)
            log.append(request(++n));
        log.flush();
    }
    QCOMPARE(log.rowCount(), rows);
    for (int row = 0; row < rows; ++row)
        QCOMPARE(countOf(log, row), QStringLiteral("读保持寄存器 地址 0 数量 %1").arg(first + row));
}

void tst_FrameLog::batchIsOneInsertion()
{
    FrameLog log;
    QSignalSpy inserted(&log, &QAbstractItemModel::rowsInserted);
    for (int n = 1; n <= 50; ++n)
        log.append(request(n));
    QCOMPARE(log.rowCount(), 0); // nothing before the batch time
    QVERIFY(inserted.wait(5 * FrameLog::batchMs));
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QCOMPARE(inserted.at(0).at(2).toInt(), 49);
    QCOMPARE(log.rowCount(), 50);
}

void tst_FrameLog::pauseHoldsRowsAndResumeCatchesUp()
{
    FrameLog log(nullptr, 10);
    log.append(request(1));
    log.flush();
    log.setPaused(true);
    for (int n = 2; n <= 30; ++n)
        log.append(request(n));
    log.flush();
    QCOMPARE(log.rowCount(), 1);
    QVERIFY(log.waiting() >= 10);
    QVERIFY(log.waiting() < 30); // a long pause is bounded

    log.setPaused(false);
    QCOMPARE(log.rowCount(), 10);
    QCOMPARE(log.waiting(), 0);
    QCOMPARE(countOf(log, 0), QStringLiteral("读保持寄存器 地址 0 数量 21"));
    QCOMPARE(countOf(log, 9), QStringLiteral("读保持寄存器 地址 0 数量 30"));
}

void tst_FrameLog::clearEmptiesRowsAndWaitingFrames()
{
    FrameLog log;
    log.append(request(1));
    log.flush();
    log.append(request(2));
    log.clear();
    QCOMPARE(log.rowCount(), 0);
    QCOMPARE(log.waiting(), 0);
    log.append(request(3));
    log.flush();
    QCOMPARE(log.rowCount(), 1);
    QCOMPARE(countOf(log, 0), QStringLiteral("读保持寄存器 地址 0 数量 3"));
}

void tst_FrameLog::columns()
{
    FrameLog log;
    CapturedFrame reply;
    reply.time = QDateTime(QDate(2024, 5, 1), QTime(23, 59, 59, 7)).toMSecsSinceEpoch();
    reply.kind = CapturedFrame::Kind::Reply;
    reply.bytes = testcrc::frame(QStringLiteral("01 03 06 14 4C 00 19 23 28"));
    reply.request = testcrc::frame(QStringLiteral("01 03 00 00 00 03"));
    log.append(reply);
    log.flush();
    QCOMPARE(log.columnCount(), 4);
    const QStringList titles = { "时间", "方向", "报文", "说明" };
    for (int c = 0; c < 4; ++c)
        QCOMPARE(log.headerData(c, Qt::Horizontal).toString(), titles.at(c));
    QCOMPARE(log.data(log.index(0, FrameLog::TimeColumn)).toString(), QStringLiteral("23:59:59.007"));
    QCOMPARE(log.data(log.index(0, FrameLog::TimeColumn), Qt::ToolTipRole).toString(),
             QStringLiteral("2024-05-01 23:59:59.007"));
    QCOMPARE(log.data(log.index(0, FrameLog::DirectionColumn)).toString(), QStringLiteral("接收"));
    QCOMPARE(log.data(log.index(0, FrameLog::FrameColumn)).toString(), testcrc::hex(reply.bytes));
    QCOMPARE(log.data(log.index(0, 0), FrameLog::KindRole).toInt(), int(CapturedFrame::Kind::Reply));
}

void tst_FrameLog::saveWritesOneLinePerRow()
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
    QCOMPARE(lines.size(), 4); // three lines and the empty rest after the last line break
    QCOMPARE(lines.at(3), QString());
    QCOMPARE(lines.at(0), QStringLiteral("2024-05-01 08:00:00.002\t发送\t%1\t读保持寄存器 地址 0 数量 2")
                                  .arg(testcrc::hex(testcrc::frame(QStringLiteral("01 03 00 00 00 02")))));
    QVERIFY(lines.at(2).endsWith(QStringLiteral("数量 4")));
}

void tst_FrameLog::saveReportsTheFile()
{
    QTemporaryDir dir;
    FrameLog log;
    log.append(request(1));
    log.flush();
    const QString path = dir.filePath(QStringLiteral("missing/log.txt"));
    QString error;
    QVERIFY(!log.save(path, &error));
    QVERIFY2(error.startsWith(path + QStringLiteral(": ")), qPrintable(error));
    QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(tst_FrameLog)
#include "tst_framelog.moc"
