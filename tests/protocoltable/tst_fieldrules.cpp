#include "fieldrules.h"

#include <QtTest>

#include <climits>

// The rules the address and count fields apply when an edit is finished, as functions of
// numbers: address, count and the table's rows in, the window and what changed out.
class tst_FieldRules : public QObject
{
    Q_OBJECT
private slots:
    void addressRule_data();
    void addressRule();
    void countRule_data();
    void countRule();
};

void tst_FieldRules::addressRule_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("newAddress");
    QTest::addColumn<int>("newCount");
    QTest::addColumn<bool>("addressChanged");
    QTest::addColumn<bool>("countChanged");

    QTest::newRow("fitting window unchanged") << 90 << 10 << 100 << 90 << 10 << false << false;
    QTest::newRow("window to the last row unchanged") << 95 << 5 << 100 << 95 << 5 << false << false;
    QTest::newRow("address equal to the rows becomes 0") << 100 << 10 << 100 << 0 << 10 << true << false;
    QTest::newRow("address far beyond becomes 0") << 5000 << 10 << 100 << 0 << 10 << true << false;
    QTest::newRow("count cut to the rows left") << 98 << 10 << 100 << 98 << 2 << false << true;
    QTest::newRow("last row leaves one") << 99 << 10 << 100 << 99 << 1 << false << true;
    QTest::newRow("negative address becomes 0") << -5 << 20 << 100 << 0 << 20 << true << false;
    QTest::newRow("INT_MIN address becomes 0") << INT_MIN << 20 << 100 << 0 << 20 << true << false;
    QTest::newRow("count near INT_MAX cut") << 1 << INT_MAX << 100 << 1 << 99 << false << true;
    QTest::newRow("negative count left to the count rule") << 0 << -5 << 100 << 0 << -5 << false << false;
    QTest::newRow("no rows: address 0") << 0 << 10 << 0 << 0 << 0 << true << true;
    QTest::newRow("no rows: address 7") << 7 << 10 << 0 << 0 << 0 << true << true;
    QTest::newRow("no rows, count 0") << 0 << 0 << 0 << 0 << 0 << true << false;
}

void tst_FieldRules::addressRule()
{
    QFETCH(int, address);
    QFETCH(int, count);
    QFETCH(int, rows);
    QFETCH(int, newAddress);
    QFETCH(int, newCount);
    QFETCH(bool, addressChanged);
    QFETCH(bool, countChanged);

    const FieldWindow w = applyAddressRule(address, count, rows);
    QCOMPARE(w.address, newAddress);
    QCOMPARE(w.count, newCount);
    QCOMPARE(w.addressChanged, addressChanged);
    QCOMPARE(w.countChanged, countChanged);
}

void tst_FieldRules::countRule_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("newCount");
    QTest::addColumn<bool>("countChanged");

    QTest::newRow("fitting count unchanged") << 0 << 10 << 100 << 10 << false;
    QTest::newRow("127 fits 200 rows") << 0 << 127 << 200 << 127 << false;
    QTest::newRow("128 above the maximum becomes 1") << 0 << 128 << 100 << 1 << true;
    QTest::newRow("127 at 0 cut to the 100 rows") << 0 << 127 << 100 << 100 << true;
    QTest::newRow("0 becomes 1") << 0 << 0 << 100 << 1 << true;
    QTest::newRow("negative becomes 1") << 0 << -3 << 100 << 1 << true;
    QTest::newRow("INT_MAX becomes 1") << 0 << INT_MAX << 100 << 1 << true;
    QTest::newRow("cut after the start address") << 95 << 50 << 100 << 5 << true;
    QTest::newRow("128 at the last row becomes 1") << 99 << 128 << 100 << 1 << true;
    QTest::newRow("address at the row count leaves none") << 100 << 1 << 100 << 0 << true;
    QTest::newRow("address past the rows leaves none") << 150 << 5 << 100 << 0 << true;
    QTest::newRow("negative address leaves none") << -1 << 5 << 100 << 0 << true;
    QTest::newRow("no rows: count becomes 0") << 0 << 10 << 0 << 0 << true;
    QTest::newRow("no rows: negative count becomes 0") << 0 << -1 << 0 << 0 << true;
    QTest::newRow("no rows: count above the maximum becomes 0") << 0 << 200 << 0 << 0 << true;
    QTest::newRow("no rows: stored address 7 gives 0") << 7 << 5 << 0 << 0 << true;
}

void tst_FieldRules::countRule()
{
    QFETCH(int, address);
    QFETCH(int, count);
    QFETCH(int, rows);
    QFETCH(int, newCount);
    QFETCH(bool, countChanged);

    const FieldWindow w = applyCountRule(address, count, rows);
    QCOMPARE(w.address, address); // the count rule never moves the address
    QVERIFY(!w.addressChanged);
    QCOMPARE(w.count, newCount);
    QCOMPARE(w.countChanged, countChanged);
}

QTEST_GUILESS_MAIN(tst_FieldRules)
#include "tst_fieldrules.moc"
