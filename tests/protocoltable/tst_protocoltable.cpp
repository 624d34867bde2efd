#include "decoding.h"
#include "mainwindow.h"
#include "modalcatcher.h"
#include "mytool.h"
#include "myconfig.h"
#include "tablefixture.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

using namespace tablefixture;

// Resolving workbook sheets into the register table and saving the table back, on a real
// main window driven through its widgets.
class tst_ProtocolTable : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void resolveShowsSheet();
    void resolveBoundsReadWindow();
    void columnRoles_data();
    void columnRoles();
    void readOnlyFlagFollowsNewSheet();
    void rulesNormalisedInCells_data();
    void rulesNormalisedInCells();
    void unusableRuleColumnKeepsCells_data();
    void unusableRuleColumnKeepsCells();
    void saveAfterUnusableRuleColumnKeepsSheet();
    void sheetWithoutRowsKeepsTable();
    void failedResolveChangesNothing_data();
    void failedResolveChangesNothing();
    void rowCapAndFullSave();

    void saveWritesEdits();
    void saveRefused_data();
    void saveRefused();
    void saveFailureKeepsEdits_data();
    void saveFailureKeepsEdits();

    void pickerCancelRestoresPath();
    void pickerNewWorkbookResolvesFirstSheet();

    void sampleWorkbookAreas();
    void sampleWorkbookRules_data();
    void sampleWorkbookRules();

private:
    void openWindow(const QString &workbook, const QString &regsType = QStringLiteral("hold"));
    QTableWidget *table() const { return child<QTableWidget>(m_window.get(), "tableWidget"); }
    QString cell(int row, int column) const
    {
        const QTableWidgetItem *item = table()->item(row, column);
        return item ? item->text() : QStringLiteral("<no item>");
    }
    QStringList headerLabels() const
    {
        QStringList labels;
        for (int c = 0; c < table()->columnCount(); ++c)
            labels << table()->horizontalHeaderItem(c)->text();
        return labels;
    }
    void click(const char *button) { child<QPushButton>(m_window.get(), button)->click(); }
    void finish(const char *field, const QString &text)
    {
        QLineEdit *edit = child<QLineEdit>(m_window.get(), field);
        edit->setText(text);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    QString fieldText(const char *field) const
    {
        return child<QLineEdit>(m_window.get(), field)->text();
    }
    void selectSheet(const QString &name)
    {
        child<QComboBox>(m_window.get(), "comboBox_regsType")->setCurrentText(name);
    }

    QTemporaryDir m_fixtures;
    std::unique_ptr<Session> m_session;
    std::unique_ptr<ModalCatcher> m_catcher;
    std::unique_ptr<MainWindow> m_window;
    QString m_workbook;
};

static const QString resolveLine = QStringLiteral("comboBox_regsType : ");

void tst_ProtocolTable::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    DebugLog::install();
    QVERIFY(m_fixtures.isValid());
    const QString error = makeWorkbooks(m_fixtures.path());
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void tst_ProtocolTable::init()
{
    m_session.reset(new Session("tst_protocoltable"));
    QVERIFY(m_session->isValid());
    m_catcher.reset(new ModalCatcher);
    m_workbook = m_session->copy(m_fixtures.filePath(QStringLiteral("tables.xlsx")),
                                 QStringLiteral("tables.xlsx"));
    QVERIFY(!m_workbook.isEmpty());
    DebugLog::clear();
}

void tst_ProtocolTable::cleanup()
{
    m_window.reset();
    m_catcher.reset();
    m_session.reset();
}

void tst_ProtocolTable::openWindow(const QString &workbook, const QString &regsType)
{
    MyConfig::protocolFile = workbook;
    MyConfig::regsType = regsType;
    m_window.reset(new MainWindow);
}

void tst_ProtocolTable::resolveShowsSheet()
{
    openWindow(m_workbook);

    QCOMPARE(table()->rowCount(), 100);
    QCOMPARE(table()->columnCount(), 6);
    QCOMPARE(headerLabels(),
             QStringList({ "Address (地址)", "Name", "Value (16进制)", "Value (10进制)", "Text (显示)",
                           "Rule (JSON解析)" }));
    // A number cell reads as its plain text; row r is the sheet's data row r.
    QCOMPARE(cell(7, 0), QStringLiteral("7"));
    QCOMPARE(cell(7, 1), QStringLiteral("reg7"));
    QCOMPARE(cell(7, 2), QStringLiteral("0x0015"));
    QCOMPARE(cell(99, 1), QStringLiteral("reg99"));
    QCOMPARE(cell(99, 3), QString());
    QCOMPARE(DebugLog::count(resolveLine), 1);
}

void tst_ProtocolTable::resolveBoundsReadWindow()
{
    MyConfig::regsAddrRead = 95;
    MyConfig::regsLenRead = 10;
    openWindow(m_workbook);
    QCOMPARE(fieldText("lineEdit_regsAddrRead"), QStringLiteral("95"));
    QCOMPARE(fieldText("lineEdit_regsLenRead"), QStringLiteral("5"));

    // A sheet with 3 rows: address 95 is beyond it, the count is cut to the 3 rows.
    selectSheet(QStringLiteral("input regs"));
    QCOMPARE(fieldText("lineEdit_regsAddrRead"), QStringLiteral("0"));
    QCOMPARE(fieldText("lineEdit_regsLenRead"), QStringLiteral("3"));
    // The write pair is not bounded by a resolve.
    QCOMPARE(fieldText("lineEdit_regsLenWrite"), QStringLiteral("10"));
}

void tst_ProtocolTable::columnRoles_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("editable");

    QTest::newRow("hold: address") << "hold" << 0 << true;
    QTest::newRow("hold: free column") << "hold" << 1 << true;
    QTest::newRow("hold: hex") << "hold" << 2 << true;
    QTest::newRow("hold: decimal") << "hold" << 3 << false;
    QTest::newRow("hold: display") << "hold" << 4 << false;
    QTest::newRow("hold: rule") << "hold" << 5 << true;
    QTest::newRow("roles: rule word before display word") << "hold_roles" << 1 << true;
    QTest::newRow("roles: earlier decimal title overridden") << "hold_roles" << 3 << true;
    QTest::newRow("roles: first of two equal display titles") << "hold_roles" << 4 << false;
    QTest::newRow("roles: second of two equal display titles") << "hold_roles" << 6 << true;
    QTest::newRow("roles: later decimal title") << "hold_roles" << 7 << false;
    // The sheet before ("hold") had its decimal column at 3; this sheet has none.
    QTest::newRow("input: rule where the decimal column was") << "input regs" << 3 << true;
    QTest::newRow("input: display") << "input regs" << 2 << false;
}

void tst_ProtocolTable::columnRoles()
{
    QFETCH(QString, sheet);
    QFETCH(int, column);
    QFETCH(bool, editable);

    openWindow(m_workbook, sheet);
    QCOMPARE(child<QComboBox>(m_window.get(), "comboBox_regsType")->currentText(), sheet);
    for (int row = 0; row < table()->rowCount(); ++row) {
        const QTableWidgetItem *item = table()->item(row, column);
        QVERIFY(item);
        QCOMPARE(bool(item->flags() & Qt::ItemIsEditable), editable);
    }
}

void tst_ProtocolTable::readOnlyFlagFollowsNewSheet()
{
    openWindow(m_workbook);
    QCOMPARE(table()->rowCount(), 100);
    QVERIFY(!(table()->item(2, 3)->flags() & Qt::ItemIsEditable));

    // Rows 0..3 keep their items; column 3 is no longer the decimal column.
    selectSheet(QStringLiteral("hold_roles"));
    QCOMPARE(table()->rowCount(), 4);
    QVERIFY(table()->item(2, 3)->flags() & Qt::ItemIsEditable);

    selectSheet(QStringLiteral("hold"));
    QVERIFY(!(table()->item(2, 3)->flags() & Qt::ItemIsEditable));
    QVERIFY(!(table()->item(50, 3)->flags() & Qt::ItemIsEditable));
}

void tst_ProtocolTable::rulesNormalisedInCells_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("shown");

    QTest::newRow("key and value without braces") << 0 << R"({"type":"HEX"})";
    QTest::newRow("object unchanged") << 1 << R"({"signed":true})";
    QTest::newRow("empty becomes empty object") << 2 << "{}";
    QTest::newRow("array unchanged") << 3 << R"([{},{"type":"HEX"}])";
    QTest::newRow("word gets braces too") << 4 << "{not json}";
    QTest::newRow("last row") << 99 << R"({"unit":"mm"})";
}

void tst_ProtocolTable::rulesNormalisedInCells()
{
    QFETCH(int, row);
    QFETCH(QString, shown);

    openWindow(m_workbook);
    QCOMPARE(cell(row, 5), shown);
}

void tst_ProtocolTable::unusableRuleColumnKeepsCells_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("firstCell");
    QTest::addColumn<QString>("secondName");

    QTest::newRow("rule column first") << "hold_rule0" << QStringList({ "JSON解析", "名称", "显示" }) << 5
                                       << "{\"unit\":\"x\"}" << "zero1";
    QTest::newRow("no rule column") << "hold_norule" << QStringList({ "地址", "名称" }) << 3 << "0"
                                    << "nr1";
}

// A sheet whose rule column is missing or first is filled like any other: its own texts, and
// the read window cut to its rows. Nothing of the sheet shown before survives.
void tst_ProtocolTable::unusableRuleColumnKeepsCells()
{
    QFETCH(QString, sheet);
    QFETCH(QStringList, titles);
    QFETCH(int, rows);
    QFETCH(QString, firstCell);
    QFETCH(QString, secondName);

    openWindow(m_workbook);
    // Typed but not finished: the resolve runs the field handlers, which cut it to the rows.
    child<QLineEdit>(m_window.get(), "lineEdit_regsLenRead")->setText(QStringLiteral("50"));

    selectSheet(sheet);
    QCOMPARE(table()->rowCount(), rows);
    QCOMPARE(table()->columnCount(), titles.size());
    QCOMPARE(headerLabels(), titles);
    QCOMPARE(cell(0, 0), firstCell);
    QCOMPARE(cell(1, 1), secondName);
    QCOMPARE(fieldText("lineEdit_regsLenRead"), QString::number(rows));
}

void tst_ProtocolTable::saveAfterUnusableRuleColumnKeepsSheet()
{
    openWindow(m_workbook);
    QList<QStringList> expected = readWithOpenpyxl(m_workbook, QStringLiteral("hold_rule0"));
    QCOMPARE(expected.size(), 6);

    selectSheet(QStringLiteral("hold_rule0"));
    QCOMPARE(cell(1, 1), QStringLiteral("zero1"));
    table()->item(1, 1)->setText(QStringLiteral("edited"));
    click("pushButton_protocolSave");

    // The save writes what the table shows: this sheet's texts, with the edit.
    QCOMPARE(m_catcher->count(), 0);
    expected[2][1] = QStringLiteral("edited");
    QCOMPARE(readWithOpenpyxl(m_workbook, QStringLiteral("hold_rule0")), expected);
}

void tst_ProtocolTable::sheetWithoutRowsKeepsTable()
{
    openWindow(m_workbook);
    selectSheet(QStringLiteral("hold_empty"));

    // An empty table, not the rows of the sheet shown before.
    QCOMPARE(table()->rowCount(), 0);
    QCOMPARE(table()->columnCount(), 0);
    QCOMPARE(fieldText("lineEdit_regsLenRead"), QStringLiteral("0"));
    // No rows: every finished read window collapses.
    finish("lineEdit_regsAddrRead", QStringLiteral("5"));
    QCOMPARE(fieldText("lineEdit_regsAddrRead"), QStringLiteral("0"));
    QCOMPARE(fieldText("lineEdit_regsLenRead"), QStringLiteral("0"));
}

void tst_ProtocolTable::failedResolveChangesNothing_data()
{
    QTest::addColumn<QString>("path");

    QTest::newRow("missing file") << "missing.xlsx";
    QTest::newRow("upper-case suffix") << "upper.XLSX";
    QTest::newRow("directory named .xlsx") << "folder.xlsx";
    QTest::newRow("workbook without the sheet") << "other.xlsx";
}

void tst_ProtocolTable::failedResolveChangesNothing()
{
    QFETCH(QString, path);

    QVERIFY(!m_session->copy(m_workbook, QStringLiteral("upper.XLSX")).isEmpty());
    QVERIFY(QDir(m_session->path(QString())).mkpath(QStringLiteral("folder.xlsx")));
    QVERIFY(!m_session->copy(m_fixtures.filePath(QStringLiteral("other.xlsx")),
                             QStringLiteral("other.xlsx")).isEmpty());
    openWindow(m_workbook);
    QCOMPARE(table()->rowCount(), 100);
    table()->item(3, 1)->setText(QStringLiteral("typed"));
    DebugLog::clear();

    child<QLineEdit>(m_window.get(), "lineEdit_protocolFile")->setText(m_session->path(path));
    click("pushButton_resolve");

    QCOMPARE(DebugLog::count(QStringLiteral("resolveFile error.")), 1);
    QCOMPARE(m_catcher->count(), 0);
    QCOMPARE(table()->rowCount(), 100);
    QCOMPARE(table()->columnCount(), 6);
    QCOMPARE(cell(3, 1), QStringLiteral("typed"));
    QCOMPARE(cell(4, 5), QStringLiteral("{not json}"));
    QCOMPARE(fieldText("lineEdit_regsLenRead"), QStringLiteral("10"));
    // Still bounded by the 100 rows of the last good resolve.
    finish("lineEdit_regsAddrRead", QStringLiteral("98"));
    QCOMPARE(fieldText("lineEdit_regsLenRead"), QStringLiteral("2"));
}

void tst_ProtocolTable::rowCapAndFullSave()
{
    const QString big = m_session->copy(m_fixtures.filePath(QStringLiteral("big.xlsx")),
                                        QStringLiteral("big.xlsx"));
    openWindow(big);
    QCOMPARE(MyConfig::maxTableRows, 1024);
    QCOMPARE(table()->rowCount(), 1024);
    QCOMPARE(cell(1023, 1), QStringLiteral("big1023"));
    QCOMPARE(cell(1023, 3), QStringLiteral(R"({"unit":"u1023"})"));
    finish("lineEdit_regsAddrRead", QStringLiteral("1020"));
    QCOMPARE(fieldText("lineEdit_regsLenRead"), QStringLiteral("4"));

    table()->item(1000, 1)->setText(QStringLiteral("edited"));
    click("pushButton_protocolSave");
    QCOMPARE(m_catcher->count(), 0);

    const QList<QStringList> rows = readWithOpenpyxl(big, QStringLiteral("hold"));
    QCOMPARE(rows.size(), 1501);
    QCOMPARE(rows.at(1001).at(1), QStringLiteral("edited"));
    QCOMPARE(rows.at(1000).at(1), QStringLiteral("big999"));
    for (int i = 1024; i < 1500; ++i) {
        const QStringList expected = { QString::number(i), QStringLiteral("big%1").arg(i), QString(),
                                       QStringLiteral(R"({"unit":"u%1"})").arg(i) };
        QCOMPARE(rows.at(i + 1), expected);
    }
    QCOMPARE(table()->rowCount(), 1024);
    QCOMPARE(cell(1000, 1), QStringLiteral("edited"));
}

void tst_ProtocolTable::saveWritesEdits()
{
    openWindow(m_workbook);
    const QList<QStringList> coilBefore = readWithOpenpyxl(m_workbook, QStringLiteral("coil"));
    QVERIFY(!coilBefore.isEmpty());
    QCOMPARE(table()->rowCount(), 100);

    table()->item(0, 5)->setText(QStringLiteral(R"("unit":"V")"));
    table()->item(1, 1)->setText(QStringLiteral("renamed"));
    DebugLog::clear();
    click("pushButton_protocolSave");
    QCOMPARE(m_catcher->count(), 0);

    const QList<QStringList> rows = readWithOpenpyxl(m_workbook, QStringLiteral("hold"));
    QCOMPARE(rows.size(), 101);
    QCOMPARE(rows.at(0).at(5), QStringLiteral("Rule (JSON解析)"));
    QCOMPARE(rows.at(1).at(5), QStringLiteral(R"("unit":"V")"));
    QCOMPARE(rows.at(2).at(1), QStringLiteral("renamed"));
    // What the resolve after loading put into the cells is saved too.
    QCOMPARE(rows.at(3).at(5), QStringLiteral("{}"));
    QCOMPARE(rows.at(5).at(5), QStringLiteral("{not json}"));
    QCOMPARE(readWithOpenpyxl(m_workbook, QStringLiteral("coil")), coilBefore);

    // The save resolves the saved sheet again: the edited rule is shown in braces.
    QCOMPARE(DebugLog::count(resolveLine), 1);
    QCOMPARE(cell(0, 5), QStringLiteral(R"({"unit":"V"})"));
    QCOMPARE(cell(1, 1), QStringLiteral("renamed"));

    // A second save stores the braces.
    click("pushButton_protocolSave");
    QCOMPARE(readWithOpenpyxl(m_workbook, QStringLiteral("hold")).at(1).at(5),
             QStringLiteral(R"({"unit":"V"})"));
}

void tst_ProtocolTable::saveRefused_data()
{
    QTest::addColumn<QString>("how");

    QTest::newRow("path field edited") << "path";
    QTest::newRow("area moved to an unsupported sheet") << "sheet";
    QTest::newRow("last resolve failed") << "failed";
}

void tst_ProtocolTable::saveRefused()
{
    QFETCH(QString, how);

    const QString other = m_session->copy(m_fixtures.filePath(QStringLiteral("tables.xlsx")),
                                          QStringLiteral("copy.xlsx"));
    openWindow(m_workbook);
    const QByteArray workbookHash = fileHash(m_workbook);
    const QByteArray otherHash = fileHash(other);
    QVERIFY(!workbookHash.isEmpty());
    QCOMPARE(table()->rowCount(), 100);

    table()->item(1, 1)->setText(QStringLiteral("edited"));
    if (how == QLatin1String("path")) {
        child<QLineEdit>(m_window.get(), "lineEdit_protocolFile")->setText(other);
    } else if (how == QLatin1String("sheet")) {
        selectSheet(QStringLiteral("register"));
        QCOMPARE(m_catcher->last().title, QStringLiteral("故障"));
    } else {
        QVERIFY(QFile::remove(other));
        child<QLineEdit>(m_window.get(), "lineEdit_protocolFile")->setText(other);
        click("pushButton_resolve");
        QVERIFY(QFile::copy(m_workbook, other));
        QCOMPARE(fileHash(other), workbookHash);
    }
    m_catcher->clear();
    DebugLog::clear();

    click("pushButton_protocolSave");

    QCOMPARE(m_catcher->count(), 1);
    QCOMPARE(m_catcher->last().title, QStringLiteral("协议保存失败"));
    QVERIFY2(m_catcher->last().text.contains(QStringLiteral("请先解析")),
             qPrintable(m_catcher->last().text));
    QCOMPARE(fileHash(m_workbook), workbookHash);
    QCOMPARE(fileHash(other), how == QLatin1String("failed") ? workbookHash : otherHash);
    QCOMPARE(cell(1, 1), QStringLiteral("edited"));
    QCOMPARE(DebugLog::count(resolveLine), 0);
}

void tst_ProtocolTable::saveFailureKeepsEdits_data()
{
    QTest::addColumn<QString>("how");

    // Root ignores permission bits, so neither read-only files nor directories make a save fail.
    // A directory in the workbook's place fails the file check; a file size limit of the process
    // fails the write itself (the kernel refuses it for root too), after the checks passed.
    QTest::newRow("workbook replaced by a directory") << "directory";
    QTest::newRow("write refused by the file size limit") << "limit";
}

void tst_ProtocolTable::saveFailureKeepsEdits()
{
    QFETCH(QString, how);

    openWindow(m_workbook);
    const QByteArray hashBefore = fileHash(m_workbook);
    QCOMPARE(table()->rowCount(), 100);
    table()->item(1, 1)->setText(QStringLiteral("edited"));
    table()->item(0, 5)->setText(QStringLiteral(R"("unit":"A")"));
    DebugLog::clear();

    if (how == QLatin1String("directory")) {
        QVERIFY(QFile::rename(m_workbook, m_workbook + QStringLiteral(".moved")));
        QVERIFY(QDir().mkdir(m_workbook));
        click("pushButton_protocolSave");
        QVERIFY(QFileInfo(m_workbook).isDir());
        QVERIFY(QDir(m_workbook).isEmpty());
        QCOMPARE(fileHash(m_workbook + QStringLiteral(".moved")), hashBefore);
    } else {
#ifdef Q_OS_UNIX
        struct rlimit previous;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tight = previous;
        tight.rlim_cur = 256;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        click("pushButton_protocolSave");
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, oldHandler);
        QCOMPARE(fileHash(m_workbook), hashBefore);
        const QStringList left = QDir(m_session->path(QString())).entryList(QDir::Files);
        QVERIFY2(left.size() == 1, qPrintable(left.join(QLatin1Char(' '))));
#else
        QSKIP("needs a process file size limit");
#endif
    }

    QCOMPARE(m_catcher->count(), 1);
    QCOMPARE(m_catcher->last().title, QStringLiteral("协议保存失败"));
    QVERIFY2(m_catcher->last().text.contains(m_workbook), qPrintable(m_catcher->last().text));
    QCOMPARE(cell(1, 1), QStringLiteral("edited"));
    QCOMPARE(cell(0, 5), QStringLiteral(R"("unit":"A")"));
    QCOMPARE(DebugLog::count(resolveLine), 0);
}

void tst_ProtocolTable::pickerCancelRestoresPath()
{
    openWindow(m_workbook);
    QLineEdit *path = child<QLineEdit>(m_window.get(), "lineEdit_protocolFile");
    path->setText(QStringLiteral("typed.xlsx"));
    DebugLog::clear();

    click("pushButton_protocolFile"); // the catcher closes the file dialog: cancelled

    QCOMPARE(m_catcher->count(), 1);
    QCOMPARE(path->text(), m_workbook);
    QCOMPARE(child<QComboBox>(m_window.get(), "comboBox_regsType")->count(), 8);
    QCOMPARE(DebugLog::count(resolveLine), 0);
}

void tst_ProtocolTable::pickerNewWorkbookResolvesFirstSheet()
{
    const QString other = m_session->copy(m_fixtures.filePath(QStringLiteral("other.xlsx")),
                                          QStringLiteral("other.xlsx"));
    openWindow(m_workbook);
    m_catcher.reset(); // the dialog is answered below

    bool chosen = false;
    QTimer chooser;
    connect(&chooser, &QTimer::timeout, this, [&]() {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        chooser.stop();
        dialog->selectFile(other);
        static_cast<QDialog *>(dialog)->accept(); // QFileDialog::accept checks the file
        chosen = true;
    });
    chooser.start(5);
    DebugLog::clear();
    click("pushButton_protocolFile");
    QVERIFY(chosen);

    const QComboBox *areas = child<QComboBox>(m_window.get(), "comboBox_regsType");
    QCOMPARE(child<QLineEdit>(m_window.get(), "lineEdit_protocolFile")->text(), other);
    QCOMPARE(areas->count(), 2);
    QCOMPARE(areas->itemText(0), QStringLiteral("保持寄存器"));
    QCOMPARE(areas->itemText(1), QStringLiteral("输入寄存器"));
    QCOMPARE(areas->currentText(), QStringLiteral("保持寄存器"));
    QCOMPARE(DebugLog::count(resolveLine), 1);
    QCOMPARE(table()->rowCount(), 12);
    QCOMPARE(table()->columnCount(), 4);
    QCOMPARE(cell(11, 1), QStringLiteral("other11"));

    // The chosen path is now the one a cancelled picker falls back to.
    m_catcher.reset(new ModalCatcher);
    child<QLineEdit>(m_window.get(), "lineEdit_protocolFile")->setText(QStringLiteral("typed.xlsx"));
    click("pushButton_protocolFile");
    QCOMPARE(child<QLineEdit>(m_window.get(), "lineEdit_protocolFile")->text(), other);
    QCOMPARE(DebugLog::count(resolveLine), 1);
}

// The workbook shipped beside the program, for the simulated sensor.
void tst_ProtocolTable::sampleWorkbookAreas()
{
    const QString sample = m_session->copy(QStringLiteral(RURODUR_SOURCE_DIR "/ProtocolFile/modbus.xlsx"),
                                           QStringLiteral("modbus.xlsx"));
    QVERIFY(!sample.isEmpty());
    openWindow(sample, QString());

    const QComboBox *areas = child<QComboBox>(m_window.get(), "comboBox_regsType");
    QCOMPARE(areas->count(), 4);
    QCOMPARE(registerTypeOf(areas->itemText(0)), QModbusDataUnit::HoldingRegisters);
    QCOMPARE(registerTypeOf(areas->itemText(1)), QModbusDataUnit::InputRegisters);
    QCOMPARE(registerTypeOf(areas->itemText(2)), QModbusDataUnit::Coils);
    QCOMPARE(registerTypeOf(areas->itemText(3)), QModbusDataUnit::DiscreteInputs);
    QCOMPARE(areas->currentIndex(), 0);
    QCOMPARE(m_catcher->count(), 0);

    QCOMPARE(table()->rowCount(), 22);
    const QStringList titles = headerLabels();
    QVERIFY(titles.indexOf(QStringLiteral("JSON解析")) >= 1);
    for (const char *title : { "地址", "16进制", "10进制", "显示" })
        QVERIFY2(titles.contains(QString::fromUtf8(title)), title);
    const int name = titles.indexOf(QStringLiteral("名称"));
    QVERIFY(name >= 0);
    QCOMPARE(cell(10, name), QStringLiteral("下限设置距离"));
    QCOMPARE(cell(11, name), QStringLiteral("上限设置距离"));
    QCOMPARE(cell(20, name), QStringLiteral("盲区距离"));
    QCOMPARE(cell(21, name), QStringLiteral("最远距离"));

    const int rows[] = { 18, 8, 8 };
    for (int i = 1; i < 4; ++i) {
        child<QComboBox>(m_window.get(), "comboBox_regsType")->setCurrentIndex(i);
        QCOMPARE(table()->rowCount(), rows[i - 1]);
    }
    QCOMPARE(m_catcher->count(), 0);
}

void tst_ProtocolTable::sampleWorkbookRules_data()
{
    QTest::addColumn<int>("area");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("raw");
    QTest::addColumn<QString>("shown");

    QTest::newRow("flight time") << 0 << 0 << 5830 << "5830us";
    QTest::newRow("temperature below zero") << 0 << 1 << 65526 << "-10℃";
    QTest::newRow("distance in tenths") << 0 << 2 << 9000 << "900.0mm";
    QTest::newRow("status: echo valid") << 0 << 3 << 0x0001 << "[回波有效] [限内] [量程内] [测量中] ";
    QTest::newRow("status: below lower, blind, stopped")
            << 0 << 3 << 0x002A << "[无回波] [低于下限] [盲区内] [已停止] ";
    QTest::newRow("firmware 0x0102") << 0 << 6 << 0x0102 << "1.02";
    QTest::newRow("lower limit") << 0 << 10 << 500 << "500mm";
    QTest::newRow("farthest") << 0 << 21 << 2000 << "2000mm";
    QTest::newRow("input: distance") << 1 << 2 << 12345 << "1234.5mm";
    QTest::newRow("coil on") << 2 << 0 << 0xFF00 << "开";
    QTest::newRow("coil off") << 2 << 0 << 0 << "关";
    QTest::newRow("discrete input on") << 3 << 0 << 0xFF00 << "是";
}

void tst_ProtocolTable::sampleWorkbookRules()
{
    QFETCH(int, area);
    QFETCH(int, row);
    QFETCH(int, raw);
    QFETCH(QString, shown);

    const QString sample = m_session->copy(QStringLiteral(RURODUR_SOURCE_DIR "/ProtocolFile/modbus.xlsx"),
                                           QStringLiteral("modbus.xlsx"));
    openWindow(sample, QString());
    child<QComboBox>(m_window.get(), "comboBox_regsType")->setCurrentIndex(area);
    QVERIFY(table()->rowCount() > row);

    QString text = cell(row, headerLabels().indexOf(QStringLiteral("JSON解析")));
    QJsonDocument rule;
    parseRule(text, rule);
    QVERIFY2(!rule.isNull(), qPrintable(text));
    QCOMPARE(decodeValue(quint16(raw), rule), shown);
}

QTEST_MAIN(tst_ProtocolTable)
#include "tst_protocoltable.moc"
