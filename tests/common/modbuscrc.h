#ifndef MODBUSCRC_H
#define MODBUSCRC_H

// Expected Modbus RTU frames for tests, built here and not by the code under test: a
// table-driven CRC-16/MODBUS (checked against the published examples "01 03 00 00 00 0A"
// -> C5 CD and "11 03 00 6B 00 03" -> 76 87 in tst_rtuframe) and frames written as hex text.

#include <QByteArray>
#include <QString>

#include <array>

namespace testcrc {

inline quint16 crc16(const QByteArray &bytes)
{
    static const std::array<quint16, 256> table = [] {
        std::array<quint16, 256> t{};
        for (int n = 0; n < 256; ++n) {
            quint16 value = quint16(n);
            for (int k = 0; k < 8; ++k)
                value = (value & 1) ? quint16((value >> 1) ^ 0xA001) : quint16(value >> 1);
            t[size_t(n)] = value;
        }
        return t;
    }();
    quint16 crc = 0xFFFF;
    for (const char c : bytes)
        crc = quint16((crc >> 8) ^ table[(crc ^ quint8(c)) & 0xFF]);
    return crc;
}

// "01 03 00 00 00 03" -> those bytes.
inline QByteArray bytes(const QString &hex)
{
    return QByteArray::fromHex(hex.toLatin1());
}

// The frame with its CRC appended, low byte first.
inline QByteArray frame(const QString &hex)
{
    QByteArray result = bytes(hex);
    const quint16 crc = crc16(result);
    result.append(char(crc & 0xFF));
    result.append(char(crc >> 8));
    return result;
}

// The frame with a CRC broken as sensor-sim --corrupt-crc-every breaks it (low byte xor FF,
// high byte xor 5A).
inline QByteArray corrupted(const QString &hex)
{
    QByteArray result = frame(hex);
    result[result.size() - 2] = char(quint8(result.at(result.size() - 2)) ^ 0xFF);
    result[result.size() - 1] = char(quint8(result.at(result.size() - 1)) ^ 0x5A);
    return result;
}

// "01 03 00 00 00 03 05 CB", as the monitor shows frames.
inline QString hex(const QByteArray &frame)
{
    return QString::fromLatin1(frame.toHex(' ').toUpper());
}

} // namespace testcrc

#endif // MODBUSCRC_H
