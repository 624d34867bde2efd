#ifndef MODBUSCRC_H
#define MODBUSCRC_H

// Expected Modbus RTU frames, built here and not by the code under test: a table-driven
// CRC-16/MODBUS (checked against published examples in tst_rtuframe) and frames as hex text.

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

// "01 03 00 00 00 03" plus its CRC, low byte first; `broken` breaks the CRC as sensor-sim's
// --corrupt-crc-every does (low byte xor FF, high byte xor 5A).
inline QByteArray frame(const QString &hex, bool broken = false)
{
    QByteArray result = QByteArray::fromHex(hex.toLatin1());
    const quint16 crc = crc16(result);
    result.append(char((crc & 0xFF) ^ (broken ? 0xFF : 0)));
    result.append(char((crc >> 8) ^ (broken ? 0x5A : 0)));
    return result;
}

// "01 03 00 00 00 03 05 CB", as the monitor shows frames.
inline QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace testcrc

#endif // MODBUSCRC_H
