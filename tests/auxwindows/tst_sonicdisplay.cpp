#include "sonicdisplay.h"

#include <QFrame>
#include <QImage>
#include <QLCDNumber>
#include <QLabel>
#include <QtTest>

// Which setter feeds which display.
enum class Reading { Distance, FlightTime, Temperature, MinDistance, BotDistance, TopDistance, MaxDistance };
Q_DECLARE_METATYPE(Reading)

namespace {

const char *displayName(Reading reading)
{
    switch (reading) {
    case Reading::Distance: return "lcdNumber_distance";
    case Reading::FlightTime: return "lcdNumber_flightTime";
    case Reading::Temperature: return "lcdNumber_temperature";
    case Reading::MinDistance: return "lcdNumber_minDistance";
    case Reading::BotDistance: return "lcdNumber_botDistance";
    case Reading::TopDistance: return "lcdNumber_topDistance";
    case Reading::MaxDistance: return "lcdNumber_maxDistance";
    }
    return "";
}

void apply(SonicDisplay &display, Reading reading, quint16 value)
{
    switch (reading) {
    case Reading::Distance: display.setDistance(value); break;
    case Reading::FlightTime: display.setFlightTime(value); break;
    case Reading::Temperature: display.setTemperature(value); break;
    case Reading::MinDistance: display.setMinDistance(value); break;
    case Reading::BotDistance: display.setBotDistance(value); break;
    case Reading::TopDistance: display.setTopDistance(value); break;
    case Reading::MaxDistance: display.setMaxDistance(value); break;
    }
}

const QList<Reading> allReadings = { Reading::Distance,    Reading::FlightTime,  Reading::Temperature,
                                     Reading::MinDistance, Reading::BotDistance, Reading::TopDistance,
                                     Reading::MaxDistance };

QImage rendering(QLCDNumber *display)
{
    return display->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// How a display with the settings of model looks when it is given text.
QImage renderingOf(const QString &text, const QLCDNumber *model)
{
    QLCDNumber reference;
    reference.setDigitCount(model->digitCount());
    reference.setSegmentStyle(model->segmentStyle());
    reference.setSmallDecimalPoint(model->smallDecimalPoint());
    reference.setFrameShape(model->frameShape());
    reference.setFrameShadow(model->frameShadow());
    reference.setLineWidth(model->lineWidth());
    reference.setFixedSize(model->size());
    reference.display(text);
    return rendering(&reference);
}

} // namespace

class tst_SonicDisplay : public QObject
{
    Q_OBJECT

private slots:
    void zeroAtConstruction();
    void setterScaling_data();
    void setterScaling();
    void distanceAlwaysHasOneDecimal_data();
    void distanceAlwaysHasOneDecimal();
    void settersTouchOnlyTheirDisplay_data();
    void settersTouchOnlyTheirDisplay();
    void temperatureTooLowForFiveDigits();

    void formOfLargeDisplay();
    void formOfSmallDisplays_data();
    void formOfSmallDisplays();
    void captions_data();
    void captions();
};

void tst_SonicDisplay::zeroAtConstruction()
{
    SonicDisplay display(nullptr);
    for (Reading reading : allReadings) {
        auto *lcd = display.findChild<QLCDNumber *>(displayName(reading));
        QVERIFY2(lcd, displayName(reading));
        QCOMPARE(lcd->value(), 0.0);
        QCOMPARE(lcd->intValue(), 0);
    }
    // The integer 0, not "0.0": the distance shows no decimal until its first reading.
    auto *distance = display.findChild<QLCDNumber *>("lcdNumber_distance");
    QCOMPARE(rendering(distance), renderingOf(QStringLiteral("0"), distance));
    QVERIFY(rendering(distance) != renderingOf(QStringLiteral("0.0"), distance));
}

void tst_SonicDisplay::setterScaling_data()
{
    QTest::addColumn<Reading>("reading");
    QTest::addColumn<quint16>("raw");
    QTest::addColumn<double>("shown");

    QTest::newRow("distance 1234 -> 123.4") << Reading::Distance << quint16(1234) << 123.4;
    QTest::newRow("distance 5 -> 0.5") << Reading::Distance << quint16(5) << 0.5;
    QTest::newRow("distance 65535 -> 6553.5") << Reading::Distance << quint16(65535) << 6553.5;
    QTest::newRow("distance 0 -> 0.0") << Reading::Distance << quint16(0) << 0.0;
    QTest::newRow("distance 10 -> 1.0") << Reading::Distance << quint16(10) << 1.0;

    QTest::newRow("temperature 25") << Reading::Temperature << quint16(25) << 25.0;
    QTest::newRow("temperature 65526 -> -10") << Reading::Temperature << quint16(65526) << -10.0;
    QTest::newRow("temperature 65535 -> -1") << Reading::Temperature << quint16(65535) << -1.0;
    QTest::newRow("temperature 32767 highest") << Reading::Temperature << quint16(32767) << 32767.0;
    QTest::newRow("temperature 55537 -> -9999") << Reading::Temperature << quint16(55537) << -9999.0;

    QTest::newRow("flight time 0") << Reading::FlightTime << quint16(0) << 0.0;
    QTest::newRow("flight time 65535 raw") << Reading::FlightTime << quint16(65535) << 65535.0;
    QTest::newRow("flight time 40000 not signed") << Reading::FlightTime << quint16(40000) << 40000.0;
    QTest::newRow("blind zone 1234 raw") << Reading::MinDistance << quint16(1234) << 1234.0;
    QTest::newRow("lower limit 65535 raw") << Reading::BotDistance << quint16(65535) << 65535.0;
    QTest::newRow("upper limit 3000 raw") << Reading::TopDistance << quint16(3000) << 3000.0;
    QTest::newRow("farthest 50000 raw") << Reading::MaxDistance << quint16(50000) << 50000.0;
}

void tst_SonicDisplay::setterScaling()
{
    QFETCH(Reading, reading);
    QFETCH(quint16, raw);
    QFETCH(double, shown);

    SonicDisplay display(nullptr);
    auto *lcd = display.findChild<QLCDNumber *>(displayName(reading));
    QVERIFY(lcd);
    QSignalSpy overflow(lcd, &QLCDNumber::overflow);
    apply(display, reading, raw);
    QCOMPARE(lcd->value(), shown);
    QCOMPARE(lcd->intValue(), qRound(shown));
    QCOMPARE(overflow.count(), 0);
}

void tst_SonicDisplay::distanceAlwaysHasOneDecimal_data()
{
    QTest::addColumn<quint16>("raw");
    QTest::addColumn<QString>("text");

    QTest::newRow("0") << quint16(0) << "0.0";
    QTest::newRow("5") << quint16(5) << "0.5";
    QTest::newRow("10") << quint16(10) << "1.0";
    QTest::newRow("1234") << quint16(1234) << "123.4";
    QTest::newRow("20000") << quint16(20000) << "2000.0";
    QTest::newRow("65535") << quint16(65535) << "6553.5";
}

void tst_SonicDisplay::distanceAlwaysHasOneDecimal()
{
    QFETCH(quint16, raw);
    QFETCH(QString, text);

    SonicDisplay display(nullptr);
    auto *lcd = display.findChild<QLCDNumber *>("lcdNumber_distance");
    display.setDistance(raw);
    QCOMPARE(rendering(lcd), renderingOf(text, lcd));
}

void tst_SonicDisplay::settersTouchOnlyTheirDisplay_data()
{
    QTest::addColumn<Reading>("reading");
    for (Reading reading : allReadings)
        QTest::newRow(displayName(reading)) << reading;
}

void tst_SonicDisplay::settersTouchOnlyTheirDisplay()
{
    QFETCH(Reading, reading);

    SonicDisplay display(nullptr);
    apply(display, reading, 77);
    for (Reading other : allReadings) {
        auto *lcd = display.findChild<QLCDNumber *>(displayName(other));
        if (other == reading)
            QVERIFY2(lcd->value() != 0.0, displayName(other));
        else
            QVERIFY2(lcd->value() == 0.0, displayName(other));
    }
}

void tst_SonicDisplay::temperatureTooLowForFiveDigits()
{
    SonicDisplay display(nullptr);
    auto *lcd = display.findChild<QLCDNumber *>("lcdNumber_temperature");
    display.setTemperature(25);
    const QImage valid = rendering(lcd);

    // -10000 needs six positions. The previous reading must not stay on show as if current.
    display.setTemperature(quint16(55536));
    const QImage tooLow = rendering(lcd);
    QVERIFY(tooLow != valid);
    QCOMPARE(lcd->value(), 0.0);

    QCOMPARE(tooLow, renderingOf(QStringLiteral("-----"), lcd));

    // The lowest value as well, and the next valid reading shows normally again.
    display.setTemperature(quint16(32768));
    QCOMPARE(rendering(lcd), tooLow);
    display.setTemperature(25);
    QCOMPARE(rendering(lcd), valid);
    QCOMPARE(lcd->value(), 25.0);
}

void tst_SonicDisplay::formOfLargeDisplay()
{
    SonicDisplay display(nullptr);
    QCOMPARE(display.objectName(), QStringLiteral("SonicDisplay"));
    QCOMPARE(display.windowTitle(), QStringLiteral("Dialog"));
    QCOMPARE(display.size(), QSize(392, 284));

    auto *lcd = display.findChild<QLCDNumber *>("lcdNumber_distance");
    QVERIFY(lcd);
    QCOMPARE(lcd->minimumSize(), QSize(360, 120));
    QCOMPARE(lcd->maximumSize(), QSize(360, 120));
    QCOMPARE(lcd->digitCount(), 6);
    QCOMPARE(lcd->segmentStyle(), QLCDNumber::Filled);
    QCOMPARE(lcd->smallDecimalPoint(), false);
    QCOMPARE(lcd->frameShape(), QFrame::WinPanel);
    QCOMPARE(lcd->frameShadow(), QFrame::Sunken);
    QCOMPARE(lcd->lineWidth(), 3);
    QCOMPARE(lcd->font().weight(), int(QFont::Normal));
    QVERIFY(!lcd->font().bold());
}

void tst_SonicDisplay::formOfSmallDisplays_data()
{
    QTest::addColumn<QString>("name");
    for (Reading reading : allReadings) {
        if (reading != Reading::Distance)
            QTest::newRow(displayName(reading)) << QString::fromLatin1(displayName(reading));
    }
}

void tst_SonicDisplay::formOfSmallDisplays()
{
    QFETCH(QString, name);

    SonicDisplay display(nullptr);
    auto *lcd = display.findChild<QLCDNumber *>(name);
    QVERIFY(lcd);
    QCOMPARE(lcd->minimumSize(), QSize(80, 32));
    QCOMPARE(lcd->maximumSize(), QSize(80, 32));
    // Otherwise as a fresh display comes.
    const QLCDNumber fresh;
    QCOMPARE(lcd->digitCount(), 5);
    QCOMPARE(lcd->segmentStyle(), fresh.segmentStyle());
    QCOMPARE(lcd->smallDecimalPoint(), fresh.smallDecimalPoint());
    QCOMPARE(lcd->frameShape(), fresh.frameShape());
    QCOMPARE(lcd->lineWidth(), fresh.lineWidth());

    display.show();
    QVERIFY(QTest::qWaitForWindowExposed(&display));
    QCOMPARE(lcd->size(), QSize(80, 32));
}

void tst_SonicDisplay::captions_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("display");

    QTest::newRow("distance") << "label" << QString::fromUtf8("距离(mm)") << "lcdNumber_distance";
    QTest::newRow("flight time") << "label_flightTime" << QString::fromUtf8("飞行时间（us)") << "lcdNumber_flightTime";
    QTest::newRow("temperature") << "label_temperature" << QString::fromUtf8("温度（℃）") << "lcdNumber_temperature";
    QTest::newRow("blind zone") << "label_4" << QString::fromUtf8("盲区距离") << "lcdNumber_minDistance";
    QTest::newRow("lower limit") << "label_6" << QString::fromUtf8("下限设置距离") << "lcdNumber_botDistance";
    QTest::newRow("upper limit") << "label_7" << QString::fromUtf8("上限设置距离") << "lcdNumber_topDistance";
    QTest::newRow("farthest") << "label_5" << QString::fromUtf8("最远距离") << "lcdNumber_maxDistance";
}

void tst_SonicDisplay::captions()
{
    QFETCH(QString, label);
    QFETCH(QString, text);
    QFETCH(QString, display);

    SonicDisplay window(nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *caption = window.findChild<QLabel *>(label);
    auto *lcd = window.findChild<QLCDNumber *>(display);
    QVERIFY(caption);
    QVERIFY(lcd);
    QCOMPARE(caption->text(), text);
    // Each caption sits right above its own display.
    QVERIFY(caption->geometry().bottom() < lcd->geometry().top());
    QVERIFY(caption->geometry().left() <= lcd->geometry().left() + lcd->width() / 2);
    QVERIFY(caption->geometry().right() >= lcd->geometry().left());
}

QTEST_MAIN(tst_SonicDisplay)
#include "tst_sonicdisplay.moc"
