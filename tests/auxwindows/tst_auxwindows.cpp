#include "myserialport.h"
#include "sonicdisplay.h"
#include "windowfixture.h"

#include <QAction>
#include <QLCDNumber>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

class tst_AuxWindows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void distanceDisplayOpens();
    void distanceDisplayIsSingle();
    void distanceDisplayReopensAtZero();
    void serialDialogOpens();
    void serialDialogIsSingle();
    void serialDialogOpensWithLineClosed();

private:
    // Triggers the menu entry and returns the one window of type T it leaves open.
    template<typename T>
    T *openThrough(const char *actionName);

    std::unique_ptr<WindowFixture> m_f;
    MainWindow *m_window = nullptr;
};

void tst_AuxWindows::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void tst_AuxWindows::init()
{
    m_f = std::make_unique<WindowFixture>(QStringLiteral("tst_auxwindows"));
    QVERIFY(m_f->isValid());
    m_window = m_f->create(true);
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void tst_AuxWindows::cleanup()
{
    m_window = nullptr;
    m_f.reset();
}

template<typename T>
T *tst_AuxWindows::openThrough(const char *actionName)
{
    auto *action = m_window->findChild<QAction *>(actionName);
    if (!action)
        return nullptr;
    action->trigger();
    const QList<T *> windows = m_window->findChildren<T *>();
    return windows.size() == 1 ? windows.first() : nullptr;
}

void tst_AuxWindows::distanceDisplayOpens()
{
    QVERIFY(m_window->findChildren<SonicDisplay *>().isEmpty());
    SonicDisplay *display = openThrough<SonicDisplay>("actiondistance");
    QVERIFY(display);
    QCOMPARE(display->parent(), m_window);
    QCOMPARE(display->windowTitle(), QString::fromUtf8("距离显示"));
    QCOMPARE(display->windowType(), Qt::Window);
    QVERIFY(display->isWindow());
    QVERIFY(display->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(display->isVisible());
    QVERIFY(!display->isModal());
    QCOMPARE(display->pos(), m_window->pos() + QPoint(30, 30));
}

void tst_AuxWindows::distanceDisplayIsSingle()
{
    QPointer<SonicDisplay> display = openThrough<SonicDisplay>("actiondistance");
    QVERIFY(display);
    const QPoint placed = display->pos();
    display->setDistance(1234);
    display->hide();

    m_window->move(m_window->pos() + QPoint(100, 50));
    QPointer<SonicDisplay> again = openThrough<SonicDisplay>("actiondistance");
    QVERIFY(again);
    QCOMPARE(again.data(), display.data());
    QCOMPARE(again->pos(), placed);
    QVERIFY(again->isVisible());
    auto *distance = again->findChild<QLCDNumber *>("lcdNumber_distance");
    QCOMPARE(distance->value(), 123.4);
}

void tst_AuxWindows::distanceDisplayReopensAtZero()
{
    QPointer<SonicDisplay> display = openThrough<SonicDisplay>("actiondistance");
    QVERIFY(display);
    display->setDistance(1234);
    display->setFlightTime(500);
    display->setTemperature(25);
    display->setMinDistance(1);
    display->setBotDistance(2);
    display->setTopDistance(3);
    display->setMaxDistance(4);

    QSignalSpy destroyed(display.data(), &QObject::destroyed);
    QVERIFY(display->close());
    QTRY_COMPARE(destroyed.count(), 1);
    QVERIFY(display.isNull());
    QVERIFY(m_window->findChildren<SonicDisplay *>().isEmpty());

    SonicDisplay *reopened = openThrough<SonicDisplay>("actiondistance");
    QVERIFY(reopened);
    const QList<QLCDNumber *> displays = reopened->findChildren<QLCDNumber *>();
    QCOMPARE(displays.size(), 7);
    for (const QLCDNumber *lcd : displays)
        QVERIFY2(lcd->value() == 0.0, qPrintable(lcd->objectName()));
}

void tst_AuxWindows::serialDialogOpens()
{
    QVERIFY(m_window->findChildren<MySerialPort *>().isEmpty());
    MySerialPort *dialog = openThrough<MySerialPort>("actionCOM");
    QVERIFY(dialog);
    QCOMPARE(dialog->parent(), m_window);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("COM"));
    QCOMPARE(dialog->windowType(), Qt::Window);
    QVERIFY(dialog->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->isModal());
    QCOMPARE(dialog->pos(), m_window->pos() + QPoint(30, 30));

    QSignalSpy destroyed(dialog, &QObject::destroyed);
    QVERIFY(dialog->close());
    QTRY_COMPARE(destroyed.count(), 1);
    QVERIFY(m_window->findChildren<MySerialPort *>().isEmpty());
}

void tst_AuxWindows::serialDialogIsSingle()
{
    QPointer<MySerialPort> dialog = openThrough<MySerialPort>("actionCOM");
    QVERIFY(dialog);
    const QPoint placed = dialog->pos();
    dialog->hide();

    m_window->move(m_window->pos() + QPoint(70, 40));
    MySerialPort *again = openThrough<MySerialPort>("actionCOM");
    QCOMPARE(again, dialog.data());
    QCOMPARE(again->pos(), placed);
    QVERIFY(again->isVisible());
}

void tst_AuxWindows::serialDialogOpensWithLineClosed()
{
    auto *connectButton = m_window->findChild<QPushButton *>("pushButton_connect");
    QVERIFY(connectButton);
    QVERIFY(connectButton->isCheckable());

    // Checked without running its handler: no port is opened in this test.
    for (int round = 0; round < 2; ++round) {
        {
            const QSignalBlocker blocker(connectButton);
            connectButton->setChecked(true);
        }
        QSignalSpy toggled(connectButton, &QPushButton::toggled);
        QVERIFY(openThrough<MySerialPort>("actionCOM"));
        QVERIFY(!connectButton->isChecked());
        QCOMPARE(toggled.count(), 1);
        QCOMPARE(toggled.first().first().toBool(), false);
    }

    // Already released: nothing toggles.
    QSignalSpy toggled(connectButton, &QPushButton::toggled);
    QVERIFY(openThrough<MySerialPort>("actionCOM"));
    QCOMPARE(toggled.count(), 0);
}

QTEST_MAIN(tst_AuxWindows)
#include "tst_auxwindows.moc"
