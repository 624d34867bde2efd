#include "logging.h"
#include "myconfig.h"
#include "myserialport.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPointer>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSignalSpy>
#include <QtTest>

class TestMySerialPort : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void form();
    void preselection_data();
    void preselection();
    void storedPortShown();
    void unknownPortShowsFirstPort();
    void okStoresAndCloses();
    void cancelStoresNothing();
    void onlyOkStores_data();
    void onlyOkStores();
    void typedNameStoredAsTyped_data();
    void typedNameStoredAsTyped();

private:
    static QComboBox *box(QWidget *dialog, const char *name);
    static QString firstPortName();
};

QComboBox *TestMySerialPort::box(QWidget *dialog, const char *name)
{
    auto *combo = dialog->findChild<QComboBox *>(QLatin1String(name));
    if (!combo)
        qFatal("no combo box %s", name);
    return combo;
}

QString TestMySerialPort::firstPortName()
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    return ports.isEmpty() ? QString() : ports.first().portName();
}

void TestMySerialPort::init()
{
    MyConfig::restoreDefaults();
}

void TestMySerialPort::cleanup()
{
    MyConfig::restoreDefaults();
}

void TestMySerialPort::form()
{
    MySerialPort dialog;
    QCOMPARE(dialog.objectName(), QString("MySerialPort"));
    QCOMPARE(dialog.windowTitle(), QString("SerialPort"));
    QCOMPARE(dialog.size(), QSize(360, 97));
    QCOMPARE(dialog.minimumSize(), QSize(360, 60));
    QCOMPARE(dialog.maximumSize(), QSize(360, 97));
    QCOMPARE(dialog.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(dialog.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);

    const QList<QPair<const char *, const char *>> labels = {
        { "label_com", "串口号：" },
        { "label_baudrate", "波特率：" },
        { "label_parity", "校验：" },
        { "label_stopbits", "停止位：" },
    };
    for (const auto &label : labels) {
        auto *widget = dialog.findChild<QLabel *>(QLatin1String(label.first));
        QVERIFY2(widget, label.first);
        QCOMPARE(widget->text(), QString::fromUtf8(label.second));
    }

    const auto items = [](QComboBox *combo) {
        QStringList texts;
        for (int i = 0; i < combo->count(); ++i)
            texts << combo->itemText(i);
        return texts;
    };
    QCOMPARE(items(box(&dialog, "comboBox_baudrate")),
             QStringList({ "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200" }));
    QCOMPARE(items(box(&dialog, "comboBox_parity")),
             QStringList({ "None", "Even", "Odd", "Space", "Mark" }));
    QCOMPARE(items(box(&dialog, "comboBox_stopbits")), QStringList({ "1", "1.5", "2" }));

    QStringList ports;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        ports << port.portName();
    QComboBox *com = box(&dialog, "comboBox_com");
    QCOMPARE(items(com), ports);
    QVERIFY(com->isEditable());
    QVERIFY(!box(&dialog, "comboBox_baudrate")->isEditable());
    QCOMPARE(com->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(com->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);

    auto *buttons = dialog.findChild<QDialogButtonBox *>("buttonBox");
    QVERIFY(buttons);
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);

    // Rows top to bottom, widgets left to right.
    auto *rows = dialog.findChild<QVBoxLayout *>("verticalLayout");
    QVERIFY(rows);
    QCOMPARE(rows->count(), 3);
    QCOMPARE(rows->itemAt(0)->layout()->objectName(), QString("horizontalLayout_2"));
    QCOMPARE(rows->itemAt(1)->layout()->objectName(), QString("horizontalLayout_3"));
    QCOMPARE(rows->itemAt(2)->widget(), buttons);
    const QStringList secondRow = { "label_baudrate", "comboBox_baudrate", "label_parity",
                                    "comboBox_parity", "label_stopbits", "comboBox_stopbits" };
    QLayout *row = rows->itemAt(1)->layout();
    QCOMPARE(row->count(), secondRow.size());
    for (int i = 0; i < row->count(); ++i)
        QCOMPARE(row->itemAt(i)->widget()->objectName(), secondRow.at(i));
    QLayout *first = rows->itemAt(0)->layout();
    QCOMPARE(first->count(), 2);
    QCOMPARE(first->itemAt(0)->widget()->objectName(), QString("label_com"));
    QCOMPARE(first->itemAt(1)->widget(), com);
}

void TestMySerialPort::preselection_data()
{
    QTest::addColumn<int>("baudrate");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<QString>("stopbits");
    QTest::addColumn<QString>("shownBaudrate");
    QTest::addColumn<QString>("shownParity");
    QTest::addColumn<QString>("shownStopbits");

    QTest::newRow("defaults of a fresh start") << 0 << "" << "" << "1200" << "None" << "1";
    QTest::newRow("baud rate not offered") << 14400 << "None" << "1" << "1200" << "None" << "1";
    QTest::newRow("negative baud rate") << -9600 << "None" << "1" << "1200" << "None" << "1";
    QTest::newRow("lower-case parity") << 9600 << "none" << "1" << "9600" << "None" << "1";
    QTest::newRow("Even and 2") << 19200 << "Even" << "2" << "19200" << "Even" << "2";
    QTest::newRow("Mark and 1.5") << 115200 << "Mark" << "1.5" << "115200" << "Mark" << "1.5";
    QTest::newRow("stop bits not offered") << 4800 << "Odd" << "3" << "4800" << "Odd" << "1";
    QTest::newRow("padded texts do not match") << 2400 << " Space" << "2 " << "2400" << "None" << "1";
}

void TestMySerialPort::preselection()
{
    QFETCH(int, baudrate);
    QFETCH(QString, parity);
    QFETCH(QString, stopbits);
    QFETCH(QString, shownBaudrate);
    QFETCH(QString, shownParity);
    QFETCH(QString, shownStopbits);

    MyConfig::serialBaudrate = baudrate;
    MyConfig::serialParity = parity;
    MyConfig::serialStopbits = stopbits;
    MySerialPort dialog;
    QCOMPARE(box(&dialog, "comboBox_baudrate")->currentText(), shownBaudrate);
    QCOMPARE(box(&dialog, "comboBox_parity")->currentText(), shownParity);
    QCOMPARE(box(&dialog, "comboBox_stopbits")->currentText(), shownStopbits);
}

void TestMySerialPort::storedPortShown()
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty())
        QSKIP("this machine lists no serial ports");
    MyConfig::serialName = ports.last().portName();
    MySerialPort dialog;
    QComboBox *com = box(&dialog, "comboBox_com");
    QCOMPARE(com->currentIndex(), ports.size() - 1);
    QCOMPARE(com->currentText(), ports.last().portName());
}

void TestMySerialPort::unknownPortShowsFirstPort()
{
    MyConfig::serialName = "NoSuchPort99";
    {
        MySerialPort dialog;
        QComboBox *com = box(&dialog, "comboBox_com");
        QCOMPARE(com->currentText(), firstPortName());
        QCOMPARE(com->lineEdit()->text(), firstPortName());
        QCOMPARE(com->currentIndex(), firstPortName().isEmpty() ? -1 : 0);
    }
    // Shown, not stored: closing without OK leaves the stored name as it was.
    QCOMPARE(MyConfig::serialName, QString("NoSuchPort99"));
}

void TestMySerialPort::okStoresAndCloses()
{
    MySerialPort dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    box(&dialog, "comboBox_baudrate")->setCurrentText("57600");
    box(&dialog, "comboBox_parity")->setCurrentText("Space");
    box(&dialog, "comboBox_stopbits")->setCurrentText("2");
    box(&dialog, "comboBox_com")->setEditText("/dev/ttyUSB0");

    auto *buttons = dialog.findChild<QDialogButtonBox *>("buttonBox");
    QSignalSpy accepted(buttons, &QDialogButtonBox::accepted);
    QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);

    QVERIFY(!dialog.isVisible());
    QCOMPARE(MyConfig::serialName, QString("/dev/ttyUSB0"));
    QCOMPARE(MyConfig::serialBaudrate, 57600);
    QCOMPARE(MyConfig::serialParity, QString("Space"));
    QCOMPARE(MyConfig::serialStopbits, QString("2"));
}

void TestMySerialPort::cancelStoresNothing()
{
    auto *dialog = new MySerialPort;
    dialog->show();
    box(dialog, "comboBox_baudrate")->setCurrentText("38400");
    box(dialog, "comboBox_parity")->setCurrentText("Odd");

    auto *buttons = dialog->findChild<QDialogButtonBox *>("buttonBox");
    QSignalSpy rejected(buttons, &QDialogButtonBox::rejected);
    QTest::mouseClick(buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
    QCOMPARE(rejected.count(), 1);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(MyConfig::serialBaudrate, 0);
    QCOMPARE(MyConfig::serialParity, QString());

    // Nor does the dialog store what it shows when it goes away: Cancel discards.
    delete dialog;
    QCOMPARE(MyConfig::serialBaudrate, 0);
    QCOMPARE(MyConfig::serialParity, QString());
    QCOMPARE(MyConfig::serialStopbits, QString());
}

void TestMySerialPort::onlyOkStores_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("stores");
    QTest::newRow("Cancel button") << "cancel" << false;
    QTest::newRow("OK button") << "ok" << true;
    QTest::newRow("window close") << "close" << false;
    QTest::newRow("Escape key") << "escape" << false;
    // What the main window's exit does to a dialog still open.
    QTest::newRow("destroyed while open") << "delete" << false;
}

void TestMySerialPort::onlyOkStores()
{
    QFETCH(QString, how);
    QFETCH(bool, stores);

    // Stored values the dialog cannot show: an unplugged adapter, a rate outside the list,
    // a parity written by hand in lower case.
    MyConfig::serialName = "NoSuchPort99";
    MyConfig::serialBaudrate = 14400;
    MyConfig::serialParity = "none";
    MyConfig::serialStopbits = "1";
    const QByteArray before = MyConfig::toJson();

    // Opened the way the main window opens it: a window of its own, deleted when closed.
    QPointer<MySerialPort> dialog = new MySerialPort;
    dialog->setWindowFlags(Qt::Window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QSignalSpy destroyed(dialog.data(), &QObject::destroyed);
    box(dialog, "comboBox_stopbits")->setCurrentText("1.5");

    auto *buttons = dialog->findChild<QDialogButtonBox *>("buttonBox");
    if (how == "cancel")
        QTest::mouseClick(buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
    else if (how == "ok")
        QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    else if (how == "close")
        QVERIFY(dialog->close());
    else if (how == "escape")
        QTest::keyClick(dialog, Qt::Key_Escape);
    else
        delete dialog;

    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(destroyed.count(), 1);
    if (stores) {
        QCOMPARE(MyConfig::serialName, firstPortName());
        QCOMPARE(MyConfig::serialBaudrate, 1200);
        QCOMPARE(MyConfig::serialParity, QString("None"));
        QCOMPARE(MyConfig::serialStopbits, QString("1.5"));
    } else {
        QCOMPARE(MyConfig::serialName, QString("NoSuchPort99"));
        QCOMPARE(MyConfig::serialBaudrate, 14400);
        QCOMPARE(MyConfig::serialParity, QString("none"));
        QCOMPARE(MyConfig::serialStopbits, QString("1"));
        QCOMPARE(MyConfig::toJson(), before);
    }
}

void TestMySerialPort::typedNameStoredAsTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("COM10") << "COM10" << true << "COM10";
    QTest::newRow("pseudo-terminal path") << "/dev/pts/5" << true << "/dev/pts/5";
    QTest::newRow("spaces kept") << " COM3 " << true << " COM3 ";
    QTest::newRow("cleared") << "" << true << "";
    QTest::newRow("COM10 then Cancel") << "COM10" << false << "COM1";
}

void TestMySerialPort::typedNameStoredAsTyped()
{
    QFETCH(QString, typed);
    QFETCH(bool, confirmed);
    QFETCH(QString, stored);

    MyConfig::serialName = "COM1";
    QPointer<MySerialPort> dialog = new MySerialPort;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));

    QLineEdit *edit = box(dialog, "comboBox_com")->lineEdit();
    QVERIFY(edit);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), typed);

    auto *buttons = dialog->findChild<QDialogButtonBox *>("buttonBox");
    QTest::mouseClick(buttons->button(confirmed ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel),
                      Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(MyConfig::serialName, stored);
}

QTEST_MAIN(TestMySerialPort)
#include "tst_myserialport.moc"
