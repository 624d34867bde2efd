#ifndef MODBUSTEXT_H
#define MODBUSTEXT_H

#include "lineoptions.h"
#include "logging.h"

#include <QByteArray>
#include <QModbusDevice>
#include <QString>
#include <QVector>

// "0x" and four upper-case hex digits: 10 -> "0x000A", 65280 -> "0xFF00".
QString registerHexText(quint16 value);

// Values of a coil or discrete-input reply as the table shows them: on is 0xFF00, off is 0.
// When the client's list does not hold exactly valueCount entries it is rebuilt from the
// response data (byte count, then the bit bytes, least significant bit first); a byte count
// that does not fit leaves the rebuilt list all zeros.
QVector<quint16> bitAreaValues(const QVector<quint16> &values, int valueCount,
                               const QByteArray &responseData);

// "UnconnectedState" ... "ClosingState".
QString modbusStateName(QModbusDevice::State state);

// "NoError" ... "UnknownError".
QString modbusErrorName(QModbusDevice::Error error);

#endif // MODBUSTEXT_H
