#include "myconfig.h"
#include "myserialport.h"
#include "scandialog.h"
#include "simfixture.h"
#include "windowfixture.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

// The device scan dialog in the main window, against the simulated sensor at address 17.
class TestScanDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void findsAndUsesTheDevice();
    void offersTheRateInUse();
    void cancelAndClose();

private:
    ScanDialog *openDialog();
    // Starts the scan with the dialog's buttons and waits (bounded) for its end.
    bool runScan(ScanDialog *dialog, int lastAddress, int timeoutMs);
    template<typename T>
    static T *widget(ScanDialog *dialog, const char *name)
    {
        return dialog->findChild<T *>(QLatin1String(name));
    }

    std::unique_ptr<SimFixture> m_sim;
    std::unique_ptr<WindowFixture> m_fixture;
};

void TestScanDialog::init()
{
    qRegisterMetaType<DeviceScanner::Finish>();
    m_sim = std::make_unique<SimFixture>(QStringLiteral(SENSOR_SIM_PATH));
    QVERIFY2(m_sim->start({ "--static", "--address", "17" }), qPrintable(m_sim->errorString()));
    m_fixture = std::make_unique<WindowFixture>(QStringLiteral("tst_scandialog"));
    QVERIFY(m_fixture->isValid());
    m_fixture->useWorkbook(QStringLiteral(RURODUR_SOURCE_DIR "/ProtocolFile/modbus.xlsx"),
                           QStringLiteral("保持寄存器"));
    m_fixture->useLine(m_sim->clientPort());
}

void TestScanDialog::cleanup()
{
    m_fixture.reset();
    m_sim.reset();
}

ScanDialog *TestScanDialog::openDialog()
{
    m_fixture->child<QAction>("actionscan")->trigger();
    const QList<ScanDialog *> dialogs = m_fixture->window()->findChildren<ScanDialog *>();
    return dialogs.size() == 1 ? dialogs.first() : nullptr;
}

bool TestScanDialog::runScan(ScanDialog *dialog, int lastAddress, int timeoutMs)
{
    widget<QSpinBox>(dialog, "spinBox_lastAddress")->setValue(lastAddress);
    widget<QSpinBox>(dialog, "spinBox_timeout")->setValue(timeoutMs);
    QSignalSpy finished(dialog->scanner(), &DeviceScanner::finished);
    widget<QPushButton>(dialog, "pushButton_start")->click();
    return finished.count() > 0 || finished.wait(60000);
}

void TestScanDialog::findsAndUsesTheDevice()
{
    // Settings of another device, a serial port dialog open with them, and the line open.
    MyConfig::serialBaudrate = 9600;
    MyConfig::serialParity = QStringLiteral("Even");
    MyConfig::serialStopbits = QStringLiteral("2");
    MyConfig::deviceAddr = 1;
    m_fixture->create(true);
    m_fixture->child<QAction>("actionCOM")->trigger();
    QCOMPARE(m_fixture->window()->findChildren<MySerialPort *>().size(), 1);
    QVERIFY(m_fixture->open()); // a pty carries bytes at any baud rate

    ScanDialog *dialog = openDialog();
    QVERIFY(dialog);
    QVERIFY(!m_fixture->connectButton->isChecked());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("设备扫描"));
    QCOMPARE(dialog->windowType(), Qt::Window);
    QVERIFY(dialog->testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(dialog->pos(), m_fixture->window()->pos() + QPoint(30, 30));
    QVERIFY(openDialog() == dialog);
    // The plan starts from the settings in use.
    const ScanPlan plan = dialog->plan();
    QCOMPARE(plan.portName, m_sim->clientPort());
    QCOMPARE(plan.firstAddress, 1);
    QCOMPARE(plan.lastAddress, 247);
    QCOMPARE(plan.timeoutMs, 100);
    QVERIFY(widget<QCheckBox>(dialog, "checkBox_baud9600")->isChecked());
    QVERIFY(widget<QCheckBox>(dialog, "checkBox_parityEven")->isChecked());
    // The sensor answers at any setting of the pty: one row for both rates.
    widget<QCheckBox>(dialog, "checkBox_parityEven")->setChecked(false);
    widget<QCheckBox>(dialog, "checkBox_baud115200")->setChecked(true);
    widget<QCheckBox>(dialog, "checkBox_parityNone")->setChecked(true);
    QCOMPARE(widget<QComboBox>(dialog, "comboBox_stopbits")->currentText(), QStringLiteral("2"));
    widget<QComboBox>(dialog, "comboBox_stopbits")->setCurrentText(QStringLiteral("1"));

    QVERIFY(runScan(dialog, 30, 50));
    auto *found = widget<QTableWidget>(dialog, "tableWidget_found");
    QCOMPARE(found->rowCount(), 1);
    QStringList texts;
    for (int column = 0; column < found->columnCount(); ++column)
        texts << found->item(0, column)->text();
    QCOMPARE(texts, QStringList({ "17", "9600 None, 115200 None", "1", "正常应答，寄存器 0 = 5196" }));
    QCOMPARE(widget<QProgressBar>(dialog, "progressBar")->value(), 60);
    QCOMPARE(widget<QLabel>(dialog, "label_progress")->text(),
             QStringLiteral("扫描完成，已找到 1 台设备"));

    auto *use = widget<QPushButton>(dialog, "pushButton_use");
    QVERIFY(!use->isEnabled());
    found->selectRow(0);
    QVERIFY(use->isEnabled());
    // 9600 Even in use did not answer: the first setting that did.
    use->click();

    QCOMPARE(MyConfig::serialName, m_sim->clientPort());
    QCOMPARE(MyConfig::serialBaudrate, 9600);
    QCOMPARE(MyConfig::serialParity, QStringLiteral("None"));
    QCOMPARE(MyConfig::serialStopbits, QStringLiteral("1"));
    QCOMPARE(m_fixture->deviceAddr->text(), QStringLiteral("17"));
    // The serial port dialog would have stored its old selections over these: it is gone.
    QVERIFY(m_fixture->window()->findChildren<MySerialPort *>().isEmpty());
    QCOMPARE(MyConfig::serialBaudrate, 9600);

    // The window now reads the device it found.
    m_fixture->setReadWindow(0, 3);
    QVERIFY(m_fixture->open());
    m_fixture->readButton->setChecked(true);
    QVERIFY(m_fixture->waitFor(windowtext::normal));
    QVERIFY(m_sim->requests().last().contains(QStringLiteral("slave=17 fc=3 addr=0 count=3")));

    // The settings file written at exit keeps them.
    m_fixture->destroy();
    QCOMPARE(MyConfig::deviceAddr, 17);
}

void TestScanDialog::offersTheRateInUse()
{
    // A rate that no list has gets a box of its own, ticked; the fast rates are offered too.
    MyConfig::serialBaudrate = 250000;
    m_fixture->create(true);
    ScanDialog *dialog = openDialog();
    QVERIFY(dialog && widget<QCheckBox>(dialog, "checkBox_baud921600"));
    QCOMPARE(dialog->plan().baudRates, QVector<int>{ 250000 });
}

void TestScanDialog::cancelAndClose()
{
    m_fixture->create(true);
    ScanDialog *dialog = openDialog();
    QVERIFY(dialog);
    QSignalSpy progressed(dialog->scanner(), &DeviceScanner::progressed);
    QSignalSpy finished(dialog->scanner(), &DeviceScanner::finished);
    auto *start = widget<QPushButton>(dialog, "pushButton_start");
    auto *cancel = widget<QPushButton>(dialog, "pushButton_cancel");
    QVERIFY(!cancel->isEnabled());
    start->click();
    QVERIFY(!start->isEnabled());
    QVERIFY(cancel->isEnabled());
    QVERIFY(progressed.wait(5000));
    cancel->click();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().at(0).value<DeviceScanner::Finish>(), DeviceScanner::Finish::Cancelled);
    QVERIFY(start->isEnabled());
    QVERIFY(!cancel->isEnabled());
    QVERIFY(widget<QLabel>(dialog, "label_progress")->text().startsWith(QStringLiteral("扫描已取消")));

    // A line opened meanwhile is closed when a scan starts; closing the dialog in the middle
    // of the scan ends it and frees the port for the window.
    QVERIFY(m_fixture->open());
    start->click();
    QVERIFY(!m_fixture->connectButton->isChecked());
    QVERIFY(dialog->scanner()->isRunning());
    dialog->close();
    QTRY_VERIFY(m_fixture->window()->findChildren<ScanDialog *>().isEmpty());
    QVERIFY(m_fixture->open());
}

QTEST_MAIN(TestScanDialog)
#include "tst_scandialog.moc"
