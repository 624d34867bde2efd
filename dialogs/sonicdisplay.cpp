#include "sonicdisplay.h"
#include "ui_sonicdisplay.h"

#include <QLCDNumber>

SonicDisplay::SonicDisplay(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::SonicDisplay)
{
    ui->setupUi(this);

    const QList<QLCDNumber *> displays = {
        ui->lcdNumber_distance,    ui->lcdNumber_flightTime,  ui->lcdNumber_temperature,
        ui->lcdNumber_minDistance, ui->lcdNumber_botDistance, ui->lcdNumber_topDistance,
        ui->lcdNumber_maxDistance,
    };
    for (QLCDNumber *display : displays)
        display->display(0);
}

SonicDisplay::~SonicDisplay()
{
    delete ui;
}

void SonicDisplay::setDistance(quint16 value)
{
    // Tenths of a millimetre, always with one decimal: 5 is "0.5", 0 is "0.0". Integer
    // arithmetic keeps 65535 exactly "6553.5".
    const QString text = QStringLiteral("%1.%2").arg(value / 10).arg(value % 10);
    ui->lcdNumber_distance->display(text);
}

void SonicDisplay::setFlightTime(quint16 value)
{
    ui->lcdNumber_flightTime->display(int(value));
}

void SonicDisplay::setTemperature(quint16 value)
{
    const int celsius = qint16(value);
    QLCDNumber *display = ui->lcdNumber_temperature;
    // Below -9999 the sign needs a sixth position. The widget would then keep showing the
    // previous reading, which looks valid; dashes make it plain that this one does not fit.
    if (display->checkOverflow(celsius))
        display->display(QString(display->digitCount(), QLatin1Char('-')));
    else
        display->display(celsius);
}

void SonicDisplay::setMinDistance(quint16 value)
{
    ui->lcdNumber_minDistance->display(int(value));
}

void SonicDisplay::setBotDistance(quint16 value)
{
    ui->lcdNumber_botDistance->display(int(value));
}

void SonicDisplay::setTopDistance(quint16 value)
{
    ui->lcdNumber_topDistance->display(int(value));
}

void SonicDisplay::setMaxDistance(quint16 value)
{
    ui->lcdNumber_maxDistance->display(int(value));
}

void SonicDisplay::showReadings(const QVector<SensorRegisters::Reading> &readings)
{
    using Field = SensorRegisters::Field;
    for (const SensorRegisters::Reading &reading : readings) {
        switch (reading.field) {
        case Field::FlightTime: setFlightTime(reading.value); break;
        case Field::Temperature: setTemperature(reading.value); break;
        case Field::Distance: setDistance(reading.value); break;
        case Field::BottomLimit: setBotDistance(reading.value); break;
        case Field::TopLimit: setTopDistance(reading.value); break;
        case Field::MinDistance: setMinDistance(reading.value); break;
        case Field::MaxDistance: setMaxDistance(reading.value); break;
        }
    }
}
