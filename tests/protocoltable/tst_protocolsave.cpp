#include "myconfig.h"
#include "protocoltable.h"
#include "tablefixture.h"
#include "tablewindowsuite.h"
#include "testfiles.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

using namespace tablefixture;

// Saving the register table of a real main window back into its workbook, and choosing a
// workbook with the picker: what reaches the file (read back by openpyxl), and what is refused.
class tst_ProtocolSave : public TableWindowSuite
{
    Q_OBJECT
public:
    tst_ProtocolSave()
        : TableWindowSuite(QStringLiteral("tst_protocolsave"))
    {
    }

private slots:
    void saveAfterUnusableRuleColumnKeepsSheet();
    void rowCapAndFullSave();
    void saveWritesEdits();
    void saveRefused_data();
    void saveRefused();
    void saveFailureKeepsEdits_data();
    void saveFailureKeepsEdits();
    void pickerCancelRestoresPath();
    void pickerNewWorkbookResolvesFirstSheet();
};

void tst_ProtocolSave::saveAfterUnusableRuleColumnKeepsSheet()
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

void tst_ProtocolSave::rowCapAndFullSave()
{
    const QString big = m_f->copyIn(fixture(QStringLiteral("big.xlsx")), QStringLiteral("big.xlsx"));
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

void tst_ProtocolSave::saveWritesEdits()
{
    openWindow(m_workbook);
    const QList<QStringList> coilBefore = readWithOpenpyxl(m_workbook, QStringLiteral("coil"));
    QVERIFY(!coilBefore.isEmpty());
    QCOMPARE(table()->rowCount(), 100);

    table()->item(0, 5)->setText(QStringLiteral(R"("unit":"V")"));
    table()->item(1, 1)->setText(QStringLiteral("renamed"));
    QSignalSpy resolved(m_f->model(), &ProtocolTable::resolved);
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
    QCOMPARE(resolved.count(), 1);
    QCOMPARE(cell(0, 5), QStringLiteral(R"({"unit":"V"})"));
    QCOMPARE(cell(1, 1), QStringLiteral("renamed"));

    // A second save stores the braces.
    click("pushButton_protocolSave");
    QCOMPARE(readWithOpenpyxl(m_workbook, QStringLiteral("hold")).at(1).at(5),
             QStringLiteral(R"({"unit":"V"})"));
}

void tst_ProtocolSave::saveRefused_data()
{
    QTest::addColumn<QString>("how");

    QTest::newRow("path field edited") << "path";
    QTest::newRow("area moved to an unsupported sheet") << "sheet";
    QTest::newRow("last resolve failed") << "failed";
}

void tst_ProtocolSave::saveRefused()
{
    QFETCH(QString, how);

    const QString other = m_f->copyIn(fixture(QStringLiteral("tables.xlsx")), QStringLiteral("copy.xlsx"));
    openWindow(m_workbook);
    const QByteArray workbookHash = fileDigest(m_workbook);
    const QByteArray otherHash = fileDigest(other);
    QVERIFY(!workbookHash.isEmpty());
    QCOMPARE(table()->rowCount(), 100);

    table()->item(1, 1)->setText(QStringLiteral("edited"));
    if (how == QLatin1String("path")) {
        m_f->child<QLineEdit>("lineEdit_protocolFile")->setText(other);
    } else if (how == QLatin1String("sheet")) {
        selectSheet(QStringLiteral("register"));
        QCOMPARE(m_catcher->last().title, QStringLiteral("故障"));
    } else {
        QVERIFY(QFile::remove(other));
        m_f->child<QLineEdit>("lineEdit_protocolFile")->setText(other);
        click("pushButton_resolve");
        QVERIFY(m_f->status->currentMessage().startsWith(resolveFailed));
        QVERIFY(QFile::copy(m_workbook, other));
        QCOMPARE(fileDigest(other), workbookHash);
    }
    m_catcher->clear();
    m_f->messages.clear();
    QSignalSpy resolved(m_f->model(), &ProtocolTable::resolved);

    click("pushButton_protocolSave");

    QCOMPARE(m_catcher->count(), 1);
    QCOMPARE(m_catcher->last().title, QStringLiteral("协议保存失败"));
    QVERIFY2(m_catcher->last().text.contains(QStringLiteral("请先解析")),
             qPrintable(m_catcher->last().text));
    QCOMPARE(fileDigest(m_workbook), workbookHash);
    QCOMPARE(fileDigest(other), how == QLatin1String("failed") ? workbookHash : otherHash);
    QCOMPARE(cell(1, 1), QStringLiteral("edited"));
    // No resolve was attempted, successful or not.
    QCOMPARE(resolved.count(), 0);
    QVERIFY(m_f->messages.filter(resolveFailed).isEmpty());
}

void tst_ProtocolSave::saveFailureKeepsEdits_data()
{
    QTest::addColumn<QString>("how");

    // Root ignores permission bits, so neither read-only files nor directories make a save fail.
    // A directory in the workbook's place fails the file check; a file size limit of the process
    // fails the write itself (the kernel refuses it for root too), after the checks passed.
    QTest::newRow("workbook replaced by a directory") << "directory";
    QTest::newRow("write refused by the file size limit") << "limit";
}

void tst_ProtocolSave::saveFailureKeepsEdits()
{
    QFETCH(QString, how);

    openWindow(m_workbook);
    const QByteArray hashBefore = fileDigest(m_workbook);
    QCOMPARE(table()->rowCount(), 100);
    table()->item(1, 1)->setText(QStringLiteral("edited"));
    table()->item(0, 5)->setText(QStringLiteral(R"("unit":"A")"));
    m_f->messages.clear();
    QSignalSpy resolved(m_f->model(), &ProtocolTable::resolved);

    if (how == QLatin1String("directory")) {
        QVERIFY(QFile::rename(m_workbook, m_workbook + QStringLiteral(".moved")));
        QVERIFY(QDir().mkdir(m_workbook));
        click("pushButton_protocolSave");
        QVERIFY(QFileInfo(m_workbook).isDir());
        QVERIFY(QDir(m_workbook).isEmpty());
        QCOMPARE(fileDigest(m_workbook + QStringLiteral(".moved")), hashBefore);
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
        QCOMPARE(fileDigest(m_workbook), hashBefore);
        const QStringList left = QDir(m_f->directory()).entryList(QDir::Files);
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
    QCOMPARE(resolved.count(), 0);
    QVERIFY(m_f->messages.filter(resolveFailed).isEmpty());
}

void tst_ProtocolSave::pickerCancelRestoresPath()
{
    openWindow(m_workbook);
    QLineEdit *path = m_f->child<QLineEdit>("lineEdit_protocolFile");
    path->setText(QStringLiteral("typed.xlsx"));
    m_f->messages.clear();
    QSignalSpy resolved(m_f->model(), &ProtocolTable::resolved);

    click("pushButton_protocolFile"); // the catcher closes the file dialog: cancelled

    QCOMPARE(m_catcher->count(), 1);
    QCOMPARE(path->text(), m_workbook);
    QCOMPARE(m_f->area->count(), 8);
    QCOMPARE(resolved.count(), 0);
    QVERIFY(m_f->messages.filter(resolveFailed).isEmpty());
}

void tst_ProtocolSave::pickerNewWorkbookResolvesFirstSheet()
{
    const QString other = m_f->copyIn(fixture(QStringLiteral("other.xlsx")), QStringLiteral("other.xlsx"));
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
    QSignalSpy resolved(m_f->model(), &ProtocolTable::resolved);
    click("pushButton_protocolFile");
    QVERIFY(chosen);

    const QComboBox *areas = m_f->area;
    QCOMPARE(m_f->child<QLineEdit>("lineEdit_protocolFile")->text(), other);
    QCOMPARE(areas->count(), 2);
    QCOMPARE(areas->itemText(0), QStringLiteral("保持寄存器"));
    QCOMPARE(areas->itemText(1), QStringLiteral("输入寄存器"));
    QCOMPARE(areas->currentText(), QStringLiteral("保持寄存器"));
    QCOMPARE(resolved.count(), 1);
    QCOMPARE(m_f->model()->loadedFile(), other);
    QCOMPARE(table()->rowCount(), 12);
    QCOMPARE(table()->columnCount(), 4);
    QCOMPARE(cell(11, 1), QStringLiteral("other11"));

    // The chosen path is now the one a cancelled picker falls back to.
    m_catcher.reset(new ModalCatcher);
    m_f->child<QLineEdit>("lineEdit_protocolFile")->setText(QStringLiteral("typed.xlsx"));
    click("pushButton_protocolFile");
    QCOMPARE(m_f->child<QLineEdit>("lineEdit_protocolFile")->text(), other);
    QCOMPARE(resolved.count(), 1);
}

QTEST_MAIN(tst_ProtocolSave)
#include "tst_protocolsave.moc"
