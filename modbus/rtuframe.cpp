#include "rtuframe.h"


namespace rtu {

namespace {

void appendWord(QByteArray &frame, quint16 word)
{
    frame.append(char(word >> 8));
    frame.append(char(word & 0xFF));
}

QByteArray header(int serverAddress, int function)
{
    QByteArray frame;
    frame.reserve(16);
    frame.append(char(serverAddress & 0xFF));
    frame.append(char(function));
    return frame;
}

} // namespace

quint16 crc16(const char *data, int size)
{
    quint16 crc = 0xFFFF;
    for (int i = 0; i < size; ++i) {
        crc ^= quint8(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

QByteArray withCrc(const QByteArray &frame)
{
    const quint16 crc = crc16(frame.constData(), frame.size());
    QByteArray result = frame;
    result.append(char(crc & 0xFF));
    result.append(char(crc >> 8));
    return result;
}

quint16 carriedCrc(const QByteArray &frame)
{
    if (frame.size() < 2)
        return 0;
    return quint16(quint8(frame.at(frame.size() - 2)) | quint8(frame.at(frame.size() - 1)) << 8);
}

quint16 computedCrc(const QByteArray &frame)
{
    return frame.size() < 2 ? 0 : crc16(frame.constData(), frame.size() - 2);
}

bool hasValidCrc(const QByteArray &frame)
{
    return frame.size() >= 4 && carriedCrc(frame) == computedCrc(frame);
}

QByteArray readRequest(const QModbusDataUnit &unit, int serverAddress)
{
    int function = 0;
    switch (unit.registerType()) {
    case QModbusDataUnit::Coils: function = 0x01; break;
    case QModbusDataUnit::DiscreteInputs: function = 0x02; break;
    case QModbusDataUnit::HoldingRegisters: function = 0x03; break;
    case QModbusDataUnit::InputRegisters: function = 0x04; break;
    default: return QByteArray();
    }
    QByteArray frame = header(serverAddress, function);
    appendWord(frame, quint16(unit.startAddress()));
    appendWord(frame, quint16(unit.valueCount()));
    return withCrc(frame);
}

QByteArray writeRequest(const QModbusDataUnit &unit, int serverAddress)
{
    const int count = int(unit.valueCount());
    QByteArray frame;
    if (unit.registerType() == QModbusDataUnit::Coils) {
        if (count == 1) {
            frame = header(serverAddress, 0x05);
            appendWord(frame, quint16(unit.startAddress()));
            appendWord(frame, unit.value(0) ? 0xFF00 : 0x0000);
        } else {
            frame = header(serverAddress, 0x0F);
            appendWord(frame, quint16(unit.startAddress()));
            appendWord(frame, quint16(count));
            const int bytes = (count + 7) / 8;
            frame.append(char(bytes));
            for (int b = 0; b < bytes; ++b) {
                quint8 byte = 0;
                for (int bit = 0; bit < 8; ++bit) {
                    if (unit.value(b * 8 + bit))
                        byte |= quint8(1u << bit);
                }
                frame.append(char(byte));
            }
        }
    } else if (unit.registerType() == QModbusDataUnit::HoldingRegisters) {
        if (count == 1) {
            frame = header(serverAddress, 0x06);
            appendWord(frame, quint16(unit.startAddress()));
            appendWord(frame, unit.value(0));
        } else {
            frame = header(serverAddress, 0x10);
            appendWord(frame, quint16(unit.startAddress()));
            appendWord(frame, quint16(count));
            frame.append(char((count * 2) & 0xFF));
            const QVector<quint16> values = unit.values();
            for (quint16 value : values)
                appendWord(frame, value);
        }
    } else {
        return QByteArray();
    }
    return withCrc(frame);
}

int replyLength(const QByteArray &bytes)
{
    if (bytes.size() < 2)
        return NeedMore;
    const int function = quint8(bytes.at(1));
    if (function & 0x80)
        return 5; // server, function | 0x80, exception code, CRC
    switch (function) {
    case 0x01: case 0x02: case 0x03: case 0x04:
    case 0x0C: case 0x11: case 0x14: case 0x15: case 0x17:
        // server, function, byte count N, N bytes, CRC
        return bytes.size() < 3 ? int(NeedMore) : 5 + quint8(bytes.at(2));
    case 0x05: case 0x06: case 0x0F: case 0x10:
        return 8; // the echo of address and value, or of address and count
    case 0x07:
        return 5;
    case 0x0B:
        return 8;
    case 0x16:
        return 10;
    case 0x18:
        return bytes.size() < 4 ? int(NeedMore) : 6 + (quint8(bytes.at(2)) << 8 | quint8(bytes.at(3)));
    default:
        // Diagnostics echo their request; device identification has no length field.
        return Unknown;
    }
}

int functionOf(const QByteArray &frame)
{
    return frame.size() < 2 ? -1 : quint8(frame.at(1));
}

int serverOf(const QByteArray &frame)
{
    return frame.isEmpty() ? -1 : quint8(frame.at(0));
}

int wordAt(const QByteArray &frame, int offset)
{
    if (offset < 0 || frame.size() < offset + 2)
        return -1;
    return quint8(frame.at(offset)) << 8 | quint8(frame.at(offset + 1));
}

QString functionName(int function)
{
    switch (function) {
    case 0x01: return QStringLiteral("读线圈");
    case 0x02: return QStringLiteral("读离散输入");
    case 0x03: return QStringLiteral("读保持寄存器");
    case 0x04: return QStringLiteral("读输入寄存器");
    case 0x05: return QStringLiteral("写单个线圈");
    case 0x06: return QStringLiteral("写单个寄存器");
    case 0x07: return QStringLiteral("读异常状态");
    case 0x08: return QStringLiteral("诊断");
    case 0x0B: return QStringLiteral("读通讯事件计数");
    case 0x0C: return QStringLiteral("读通讯事件记录");
    case 0x0F: return QStringLiteral("写多个线圈");
    case 0x10: return QStringLiteral("写多个寄存器");
    case 0x11: return QStringLiteral("报告从站ID");
    case 0x14: return QStringLiteral("读文件记录");
    case 0x15: return QStringLiteral("写文件记录");
    case 0x16: return QStringLiteral("屏蔽写寄存器");
    case 0x17: return QStringLiteral("读写多个寄存器");
    case 0x18: return QStringLiteral("读FIFO队列");
    case 0x2B: return QStringLiteral("读设备标识");
    default:
        return QStringLiteral("功能码 0x") + hexByte(function);
    }
}

QString exceptionName(int code)
{
    switch (code) {
    case 0x01: return QStringLiteral("非法功能");
    case 0x02: return QStringLiteral("非法数据地址");
    case 0x03: return QStringLiteral("非法数据值");
    case 0x04: return QStringLiteral("从站设备故障");
    case 0x05: return QStringLiteral("确认");
    case 0x06: return QStringLiteral("从站设备忙");
    case 0x08: return QStringLiteral("存储奇偶性差错");
    case 0x0A: return QStringLiteral("网关路径不可用");
    case 0x0B: return QStringLiteral("网关目标设备无响应");
    default: return QStringLiteral("未知异常");
    }
}

QString hexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString hexByte(int value)
{
    return QString::number(value & 0xFF, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

} // namespace rtu
