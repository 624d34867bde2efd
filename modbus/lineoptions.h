#ifndef LINEOPTIONS_H
#define LINEOPTIONS_H

#include <QString>
#include <QVector>

// The serial line options the program offers and the texts that stand for them, in one place:
// the serial port dialog, the device scan and rurodur-poll fill their lists and read their
// texts from here.
namespace LineOptions {

struct Option
{
    QString text;
    int value; // a QSerialPort::Parity or QSerialPort::StopBits value
};

// The baud rates of the serial port dialog, slowest first.
const QVector<int> &baudRates();
// Faster rates of USB converters and device servers; the scan offers them after the others.
const QVector<int> &fastBaudRates();

// "None", "Even", "Odd", "Space", "Mark" in the dialog's order.
const QVector<Option> &parities();
// "1", "1.5", "2" in the dialog's order.
const QVector<Option> &stopBits();

// The value of an option text; -1 when no option has that text. The settings keep the texts
// exactly as shown, so matching is case-sensitive unless asked otherwise (command lines).
int parityValueOf(const QString &text, Qt::CaseSensitivity cs = Qt::CaseSensitive);
int stopBitsValueOf(const QString &text);
// The text of a value ("Even" for 2, "1.5" for 3); empty for a value no option has.
QString parityTextOf(int parity);
QString stopBitsTextOf(int stopBits);

// The longest time one character takes on the line at that baud rate: start bit, 8 data bits,
// parity and two stop bits (11 bits).
double characterTimeMs(int baudRate);

} // namespace LineOptions

using LineOptions::parityTextOf;
using LineOptions::parityValueOf;
using LineOptions::stopBitsTextOf;
using LineOptions::stopBitsValueOf;

#endif // LINEOPTIONS_H
