#include "lineoptions.h"

#include <QSerialPort>

namespace LineOptions {

namespace {

int valueOf(const QVector<Option> &options, const QString &text, Qt::CaseSensitivity cs)
{
    for (const Option &option : options) {
        if (text.compare(option.text, cs) == 0)
            return option.value;
    }
    return -1;
}

QString textOf(const QVector<Option> &options, int value)
{
    for (const Option &option : options) {
        if (option.value == value)
            return option.text;
    }
    return QString();
}

// The settings name parities and stop bits by their position in a list whose one unused slot
// reads "Idle no used" (parity 1, stop bits 0); the text still maps to that position.
const QLatin1String placeholder("Idle no used");

} // namespace

const QVector<int> &baudRates()
{
    static const QVector<int> rates = { 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 };
    return rates;
}

const QVector<int> &fastBaudRates()
{
    static const QVector<int> rates = { 230400, 460800, 921600 };
    return rates;
}

const QVector<Option> &parities()
{
    static const QVector<Option> options = {
        { QStringLiteral("None"), QSerialPort::NoParity },
        { QStringLiteral("Even"), QSerialPort::EvenParity },
        { QStringLiteral("Odd"), QSerialPort::OddParity },
        { QStringLiteral("Space"), QSerialPort::SpaceParity },
        { QStringLiteral("Mark"), QSerialPort::MarkParity },
    };
    return options;
}

const QVector<Option> &stopBits()
{
    static const QVector<Option> options = {
        { QStringLiteral("1"), QSerialPort::OneStop },
        { QStringLiteral("1.5"), QSerialPort::OneAndHalfStop },
        { QStringLiteral("2"), QSerialPort::TwoStop },
    };
    return options;
}

int parityValueOf(const QString &text, Qt::CaseSensitivity cs)
{
    return text == placeholder ? 1 : valueOf(parities(), text, cs);
}

int stopBitsValueOf(const QString &text)
{
    return text == placeholder ? 0 : valueOf(stopBits(), text, Qt::CaseSensitive);
}

QString parityTextOf(int parity)
{
    return textOf(parities(), parity);
}

QString stopBitsTextOf(int stopBits)
{
    return textOf(LineOptions::stopBits(), stopBits);
}

double characterTimeMs(int baudRate)
{
    return baudRate > 0 ? 11.0 * 1000.0 / baudRate : 0.0;
}

} // namespace LineOptions
