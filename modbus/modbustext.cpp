#include "modbustext.h"

#include <QStringList>

namespace {

const quint16 bitOn = 0xFF00;

} // namespace

QString registerHexText(quint16 value)
{
    // Written by hand: it runs for every register of every reply.
    static const char digits[] = "0123456789ABCDEF";
    const QChar text[6] = { QLatin1Char('0'), QLatin1Char('x'), QLatin1Char(digits[value >> 12]),
                            QLatin1Char(digits[(value >> 8) & 0xF]),
                            QLatin1Char(digits[(value >> 4) & 0xF]), QLatin1Char(digits[value & 0xF]) };
    return QString(text, 6);
}

QVector<quint16> bitAreaValues(const QVector<quint16> &values, int valueCount,
                               const QByteArray &responseData)
{
    if (valueCount < 0)
        valueCount = 0;
    QVector<quint16> result;
    if (values.size() == valueCount) {
        result = values;
    } else {
        result.fill(0, valueCount);
        const int byteCount = responseData.isEmpty() ? 0 : quint8(responseData.at(0));
        const QByteArray bits = responseData.mid(1);
        if (bits.size() == byteCount && byteCount * 8 >= valueCount && valueCount != 0) {
            for (int i = 0; i < valueCount; ++i) {
                if (quint8(bits.at(i / 8)) & (1u << (i % 8)))
                    result[i] = bitOn;
            }
        }
    }
    // Some clients deliver 1 for an energised coil; the device's own value for on is 0xFF00.
    for (quint16 &value : result) {
        if (value != 0)
            value = bitOn;
    }
    return result;
}

QString modbusStateName(QModbusDevice::State state)
{
    switch (state) {
    case QModbusDevice::UnconnectedState:
        return QStringLiteral("UnconnectedState");
    case QModbusDevice::ConnectingState:
        return QStringLiteral("ConnectingState");
    case QModbusDevice::ConnectedState:
        return QStringLiteral("ConnectedState");
    case QModbusDevice::ClosingState:
        return QStringLiteral("ClosingState");
    }
    return QString::number(int(state));
}

QString modbusErrorName(QModbusDevice::Error error)
{
    static const char *const names[] = { "NoError",       "ReadError",          "WriteError",
                                         "ConnectionError", "ConfigurationError", "TimeoutError",
                                         "ProtocolError", "ReplyAbortedError",  "UnknownError" };
    const int index = int(error);
    if (index < 0 || index >= int(sizeof names / sizeof *names))
        return QString::number(index);
    return QLatin1String(names[index]);
}
