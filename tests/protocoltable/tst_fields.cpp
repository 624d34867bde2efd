#include "myconfig.h"
#include "protocoltable.h"
#include "tablewindowsuite.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

// The address and count fields, the area selector and the mouse selection of the main window,
// and which sheet a start resolves; all on a real window driven through its widgets.
class tst_Fields : public TableWindowSuite
{
    Q_OBJECT
public:
    tst_Fields()
        : TableWindowSuite(QStringLiteral("tst_fields"))
    {
    }

private slots:
    void addressRule_data();
    void addressRule();
    void countRule_data();
    void countRule();

    void areaChange_data();
    void areaChange();

    void mouseSelection();
    void selectionIgnoredWhenOff();

    void startSelectsStoredArea_data();
    void startSelectsStoredArea();
    void startWithoutWorkbook();

private:
    // The "hold" sheet of tables.xlsx has 100 rows; without a workbook the table has none.
    void openWindow(bool withWorkbook, const QString &area = QStringLiteral("hold"))
    {
        TableWindowSuite::openWindow(withWorkbook ? m_workbook : m_f->path(QStringLiteral("missing.xlsx")),
                                     area);
    }
    QComboBox *areas() const { return m_f->area; }
    QList<QWidget *> writeWidgets() const
    {
        QList<QWidget *> widgets;
        for (const char *name : { "pushButton_write", "label_regsAddrWrite", "lineEdit_regsAddrWrite",
                                  "label_regsLenWrite", "lineEdit_regsLenWrite", "pushButton_selectEnable" })
            widgets << m_f->child<QWidget>(name);
        return widgets;
    }
    static void addBothPairs(const char *name, int rows, int address, const QString &count,
                             const QString &typed, const QString &addressShown,
                             const QString &countShown);
};

// Rows for the read pair and the write pair alike: same rules, other fields.
void tst_Fields::addBothPairs(const char *name, int rows, int address, const QString &count,
                              const QString &typed, const QString &addressShown,
                              const QString &countShown)
{
    for (const char *pair : { "read", "write" }) {
        QTest::addRow("%s: %s", pair, name) << QString::fromLatin1(pair) << rows << address << count
                                            << typed << addressShown << countShown;
    }
}

void tst_Fields::addressRule_data()
{
    QTest::addColumn<QString>("pair");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("address"); // stored start address (unused here)
    QTest::addColumn<QString>("count"); // stored count
    QTest::addColumn<QString>("typed"); // typed address
    QTest::addColumn<QString>("addressShown");
    QTest::addColumn<QString>("countShown");

    addBothPairs("address equal to row count becomes 0", 100, 0, "10", "100", "0", "10");
    addBothPairs("address far beyond becomes 0", 100, 0, "10", "5000", "0", "10");
    addBothPairs("count cut to rows left", 100, 0, "10", "98", "98", "2");
    addBothPairs("last row leaves one", 100, 0, "10", "99", "99", "1");
    addBothPairs("fitting window unchanged", 100, 0, "10", "90", "90", "10");
    addBothPairs("hex address 0x5A is 90", 100, 0, "20", "0x5A", "0x5A", "10");
    addBothPairs("upper-case 0X is not hex: 0", 100, 0, "20", "0X5A", "0X5A", "20");
    addBothPairs("text is 0", 100, 0, "20", "abc", "abc", "20");
    addBothPairs("negative address becomes 0", 100, 0, "20", "-5", "0", "20");
    addBothPairs("no rows: address becomes 0", 0, 0, "10", "0", "0", "0");
    addBothPairs("no rows: any address becomes 0", 0, 0, "10", "7", "0", "0");
}

void tst_Fields::addressRule()
{
    QFETCH(QString, pair);
    QFETCH(int, rows);
    QFETCH(QString, count);
    QFETCH(QString, typed);
    QFETCH(QString, addressShown);
    QFETCH(QString, countShown);

    const bool read = pair == QLatin1String("read");
    (read ? MyConfig::regsLenRead : MyConfig::regsLenWrite) = count.toInt();
    openWindow(rows > 0);
    QCOMPARE(table()->rowCount(), rows);

    finish(read ? "lineEdit_regsAddrRead" : "lineEdit_regsAddrWrite", typed);
    QCOMPARE(field(read ? "lineEdit_regsAddrRead" : "lineEdit_regsAddrWrite")->text(), addressShown);
    QCOMPARE(field(read ? "lineEdit_regsLenRead" : "lineEdit_regsLenWrite")->text(), countShown);
}

void tst_Fields::countRule_data()
{
    QTest::addColumn<QString>("pair");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("address"); // stored start address
    QTest::addColumn<QString>("count"); // stored count (unused here)
    QTest::addColumn<QString>("typed"); // typed count
    QTest::addColumn<QString>("addressShown");
    QTest::addColumn<QString>("countShown");

    addBothPairs("fitting count unchanged", 100, 0, "10", "10", "0", "10");
    addBothPairs("128 above the maximum becomes 1", 100, 0, "10", "128", "0", "1");
    addBothPairs("127 cut to the 100 rows", 100, 0, "10", "127", "0", "100");
    addBothPairs("0 becomes 1", 100, 0, "10", "0", "0", "1");
    addBothPairs("negative becomes 1", 100, 0, "10", "-3", "0", "1");
    addBothPairs("text becomes 1", 100, 0, "10", "abc", "0", "1");
    addBothPairs("cut after the start address", 100, 95, "10", "50", "95", "5");
    addBothPairs("hex 0x7F is 127, cut to 100", 100, 0, "10", "0x7F", "0", "100");
    addBothPairs("hex 0x10 fits and stays as typed", 100, 0, "10", "0x10", "0", "0x10");
    addBothPairs("no rows: count becomes 0", 0, 0, "10", "10", "0", "0");
    addBothPairs("no rows: negative count becomes 0", 0, 0, "10", "-1", "0", "0");
    addBothPairs("no rows: count above maximum becomes 0", 0, 0, "10", "200", "0", "0");
    // A stored address never bounded (no table yet) leaves no rows either.
    addBothPairs("no rows: stored address 7 gives 0", 0, 7, "10", "5", "7", "0");
}

void tst_Fields::countRule()
{
    QFETCH(QString, pair);
    QFETCH(int, rows);
    QFETCH(int, address);
    QFETCH(QString, typed);
    QFETCH(QString, addressShown);
    QFETCH(QString, countShown);

    const bool read = pair == QLatin1String("read");
    (read ? MyConfig::regsAddrRead : MyConfig::regsAddrWrite) = address;
    openWindow(rows > 0);
    QCOMPARE(table()->rowCount(), rows);

    finish(read ? "lineEdit_regsLenRead" : "lineEdit_regsLenWrite", typed);
    QCOMPARE(field(read ? "lineEdit_regsAddrRead" : "lineEdit_regsAddrWrite")->text(), addressShown);
    QCOMPARE(field(read ? "lineEdit_regsLenRead" : "lineEdit_regsLenWrite")->text(), countShown);
}

void tst_Fields::areaChange_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<bool>("writeHidden");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("warned");

    QTest::newRow("input registers hide the write widgets") << "hold" << "input regs" << true << 4 << 3 << false;
    QTest::newRow("holding registers show them again") << "input regs" << "hold" << false << 6 << 100 << false;
    QTest::newRow("coils show them") << "input regs" << "coil" << false << 7 << 8 << false;
    QTest::newRow("unsupported after input: still hidden") << "input regs" << "register" << true << 4 << 3 << true;
    QTest::newRow("unsupported after hold: still shown") << "hold" << "register" << false << 6 << 100 << true;
}

void tst_Fields::areaChange()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(bool, writeHidden);
    QFETCH(int, columns);
    QFETCH(int, rows);
    QFETCH(bool, warned);

    openWindow(true, from);
    QCOMPARE(areas()->currentText(), from);
    QCOMPARE(m_catcher->count(), 0);
    QSignalSpy resolved(m_f->model(), &ProtocolTable::resolved);

    areas()->setCurrentText(to);

    QCOMPARE(m_catcher->count(), warned ? 1 : 0);
    if (warned) {
        QCOMPARE(m_catcher->last().title, QStringLiteral("故障"));
        QCOMPARE(m_catcher->last().text, QStringLiteral("寄存器不支持"));
    }
    QCOMPARE(resolved.count(), warned ? 0 : 1);
    QCOMPARE(table()->columnCount(), columns);
    QCOMPARE(table()->rowCount(), rows);
    const QList<QWidget *> widgets = writeWidgets();
    for (QWidget *widget : widgets)
        QVERIFY2(widget->isHidden() == writeHidden, qPrintable(widget->objectName()));
}

void tst_Fields::mouseSelection()
{
    MyConfig::selectEnable = true;
    openWindow(true);
    m_f->window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_f->window()));
    QVERIFY(m_f->child<QPushButton>("pushButton_selectEnable")->isChecked());
    QCOMPARE(table()->rowCount(), 100);

    // Rows 5 to 9 by mouse: a click on row 5, a shift-click on row 9.
    QTableWidget *view = table();
    view->scrollToItem(view->item(5, 1));
    const QPoint row5 = view->visualItemRect(view->item(5, 1)).center();
    const QPoint row9 = view->visualItemRect(view->item(9, 1)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, row5);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, row9);
    QCOMPARE(field("lineEdit_regsAddrWrite")->text(), QStringLiteral("5"));
    QCOMPARE(field("lineEdit_regsLenWrite")->text(), QStringLiteral("5"));

    // Nothing selected: the fields stay.
    view->clearSelection();
    QCOMPARE(field("lineEdit_regsAddrWrite")->text(), QStringLiteral("5"));
    QCOMPARE(field("lineEdit_regsLenWrite")->text(), QStringLiteral("5"));

    // Two ranges: the last one decides.
    view->setRangeSelected(QTableWidgetSelectionRange(2, 0, 3, 0), true);
    view->setRangeSelected(QTableWidgetSelectionRange(40, 2, 44, 2), true);
    QCOMPARE(view->selectedRanges().size(), 2);
    QCOMPARE(field("lineEdit_regsAddrWrite")->text(), QStringLiteral("40"));
    QCOMPARE(field("lineEdit_regsLenWrite")->text(), QStringLiteral("5"));

    // All 100 rows: the count is not put through the field rules.
    view->clearSelection();
    view->setRangeSelected(QTableWidgetSelectionRange(0, 0, 99, 5), true);
    QCOMPARE(field("lineEdit_regsAddrWrite")->text(), QStringLiteral("0"));
    QCOMPARE(field("lineEdit_regsLenWrite")->text(), QStringLiteral("100"));
}

void tst_Fields::selectionIgnoredWhenOff()
{
    MyConfig::selectEnable = false;
    openWindow(true);
    QVERIFY(!m_f->child<QPushButton>("pushButton_selectEnable")->isChecked());

    table()->setRangeSelected(QTableWidgetSelectionRange(20, 0, 22, 0), true);
    QCOMPARE(field("lineEdit_regsAddrWrite")->text(), QStringLiteral("0"));
    QCOMPARE(field("lineEdit_regsLenWrite")->text(), QStringLiteral("10"));

    m_f->child<QPushButton>("pushButton_selectEnable")->click();
    table()->clearSelection();
    table()->setRangeSelected(QTableWidgetSelectionRange(30, 0, 31, 0), true);
    QCOMPARE(field("lineEdit_regsAddrWrite")->text(), QStringLiteral("30"));
    QCOMPARE(field("lineEdit_regsLenWrite")->text(), QStringLiteral("2"));
}

void tst_Fields::startSelectsStoredArea_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("current");
    QTest::addColumn<int>("resolves");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("warnings");

    QTest::newRow("second sheet is resolved after the first") << "input regs" << "input regs" << 2 << 4 << 0;
    QTest::newRow("first sheet is resolved once") << "hold" << "hold" << 1 << 6 << 0;
    QTest::newRow("no such sheet keeps the first") << "nosuch" << "hold" << 1 << 6 << 0;
    QTest::newRow("letter case differs: keeps the first") << "HOLD" << "hold" << 1 << 6 << 0;
    QTest::newRow("empty keeps the first") << "" << "hold" << 1 << 6 << 0;
    QTest::newRow("unsupported sheet is selected with a warning") << "register" << "register" << 1 << 6 << 1;
}

void tst_Fields::startSelectsStoredArea()
{
    QFETCH(QString, stored);
    QFETCH(QString, current);
    QFETCH(int, resolves);
    QFETCH(int, columns);
    QFETCH(int, warnings);

    openWindow(true, stored);

    QCOMPARE(areas()->count(), 8);
    QCOMPARE(areas()->currentText(), current);
    QCOMPARE(m_f->resolves, resolves);
    QCOMPARE(table()->columnCount(), columns);
    QCOMPARE(m_catcher->count(), warnings);

    // The area shown is the one stored at exit.
    m_f->destroy();
    QCOMPARE(MyConfig::regsType, current);
}

void tst_Fields::startWithoutWorkbook()
{
    openWindow(false, QStringLiteral("hold"));

    QCOMPARE(areas()->count(), 0);
    QCOMPARE(m_f->resolves, 0);
    QCOMPARE(table()->rowCount(), 0);
    QCOMPARE(table()->columnCount(), 0);
    QCOMPARE(m_catcher->count(), 0);

    m_f->destroy();
    QCOMPARE(MyConfig::regsType, QString());
}

QTEST_MAIN(tst_Fields)
#include "tst_fields.moc"
