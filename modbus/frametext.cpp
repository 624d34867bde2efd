#include "frametext.h"

#include "rtuframe.h"

#include <QDateTime>

namespace {

using rtu::hexByte;

// "04 1C": a CRC as its two bytes travel, low byte first.
QString crcBytes(quint16 crc)
{
    const char bytes[] = { char(crc & 0xFF), char(crc >> 8) };
    return rtu::hexText(QByteArray(bytes, 2));
}

QString coilText(int value)
{
    return value == 0xFF00 ? QStringLiteral("ON") : value == 0 ? QStringLiteral("OFF")
                                                               : QStringLiteral("0x") + QString::number(value, 16).toUpper();
}

// The part of a frame after its function code: address and count, or address and value.
QString fieldsText(int function, const QByteArray &frame)
{
    const int address = rtu::wordAt(frame, 2);
    const int second = rtu::wordAt(frame, 4);
    if (address < 0 || second < 0)
        return QString();
    switch (function) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x0F: case 0x10:
        return QStringLiteral("地址 %1 数量 %2").arg(address).arg(second);
    case 0x05:
        return QStringLiteral("地址 %1 值 %2").arg(address).arg(coilText(second));
    case 0x06:
        return QStringLiteral("地址 %1 值 %2").arg(address).arg(second);
    default:
        return QString();
    }
}

// A TCP frame as the RTU helpers read it, the unit first (the MBAP header's last byte); an RTU
// frame as it is.
QByteArray unitFirst(const CapturedFrame &frame, const QByteArray &bytes)
{
    return frame.tcp ? bytes.mid(6) : bytes;
}

QString joined(const QString &first, const QString &second)
{
    if (second.isEmpty())
        return first;
    return first + QLatin1Char(' ') + second;
}

} // namespace

QString frameDirectionText(const CapturedFrame &frame)
{
    if (frame.isOutcome())
        return QStringLiteral("—");
    return frame.isSent() ? QStringLiteral("发送") : QStringLiteral("接收");
}

QString frameTimeText(qint64 msecsSinceEpoch, bool withDate)
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch);
    return time.toString(withDate ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")
                                  : QStringLiteral("HH:mm:ss.zzz"));
}

namespace {
// Unit 0 is a broadcast on a serial line only.
QString summaryOfRequest(const QByteArray &request, bool tcp)
{
    const int function = rtu::functionOf(request);
    if (function < 0)
        return QString();
    const QString text = joined(rtu::functionName(function), fieldsText(function, request));
    return rtu::serverOf(request) == 0 && !tcp ? QStringLiteral("广播 ") + text : text;
}
} // namespace

QString requestSummary(const QByteArray &request)
{
    return summaryOfRequest(request, false);
}

namespace {
QString rtuSummary(const CapturedFrame &frame)
{
    using Kind = CapturedFrame::Kind;
    const int function = rtu::functionOf(frame.bytes);
    switch (frame.kind) {
    case Kind::Request: {
        const QString request = summaryOfRequest(frame.bytes, frame.tcp);
        if (frame.retry == 0)
            return request;
        return QStringLiteral("超时重发（第 %1 次）").arg(frame.retry) + QLatin1Char(' ') + request;
    }
    case Kind::Reply: {
        // A read reply carries no address; the request it answers does.
        const bool read = function >= 0x01 && function <= 0x04;
        const QString fields = fieldsText(function, read ? frame.request : frame.bytes);
        return joined(rtu::functionName(function) + QStringLiteral(" 应答"), fields);
    }
    case Kind::Exception: {
        const int code = frame.bytes.size() > 2 ? quint8(frame.bytes.at(2)) : 0;
        const QString request = summaryOfRequest(frame.request, frame.tcp);
        QString text = QStringLiteral("异常应答 %1 %2").arg(hexByte(code), rtu::exceptionName(code));
        return request.isEmpty() ? text : text + QStringLiteral("（%1）").arg(request);
    }
    case Kind::BadLength:
        return QString();
    case Kind::BadCrc:
        return QStringLiteral("帧损坏：CRC 校验错误（收到 %1，应为 %2），已丢弃")
                .arg(crcBytes(rtu::carriedCrc(frame.bytes)), crcBytes(rtu::computedCrc(frame.bytes)));
    case Kind::Fragment:
        return QStringLiteral("帧不完整（%1 字节），已丢弃").arg(frame.bytes.size());
    case Kind::Unexpected: {
        if (frame.request.isEmpty())
            return QStringLiteral("没有等待应答的请求，已丢弃");
        const int server = rtu::serverOf(frame.bytes);
        if (server != rtu::serverOf(frame.request)) {
            return QStringLiteral("站号 %1 与请求的站号 %2 不符，已丢弃")
                    .arg(server).arg(rtu::serverOf(frame.request));
        }
        return QStringLiteral("功能码 %1 与请求的功能码 %2 不符，已丢弃")
                .arg(hexByte(function & 0x7F), hexByte(rtu::functionOf(frame.request)));
    }
    case Kind::Timeout: {
        const QString text = frame.retry == 0
                ? QStringLiteral("应答超时，放弃")
                : QStringLiteral("应答超时，已重发 %1 次，放弃").arg(frame.retry);
        const QString request = summaryOfRequest(frame.request, frame.tcp);
        return request.isEmpty() ? text : text + QStringLiteral("：") + request;
    }
    case Kind::Failure: {
        const QString text = QStringLiteral("请求失败：") + frame.note;
        const QString request = summaryOfRequest(frame.request, frame.tcp);
        return request.isEmpty() ? text : text + QStringLiteral("（%1）").arg(request);
    }
    }
    return QString();
}
} // namespace

// Over TCP the summary is that of the unit and PDU, after the transaction identifier of the
// frame (or, for an outcome, of its request).
QString frameSummary(const CapturedFrame &frame)
{
    if (!frame.tcp)
        return rtuSummary(frame);
    const QByteArray &header = frame.bytes.size() >= 2 ? frame.bytes : frame.request;
    QString prefix;
    if (header.size() >= 2)
        prefix = QStringLiteral("事务 %1 ").arg(rtu::wordAt(header, 0));
    if (frame.kind == CapturedFrame::Kind::BadLength) {
        const int announced = rtu::wordAt(frame.bytes, 4);
        return prefix + QStringLiteral("帧损坏：MBAP 长度 %1 与收到的 %2 字节不符，已丢弃")
                .arg(announced).arg(frame.bytes.size() - 6);
    }
    if (frame.kind == CapturedFrame::Kind::Fragment)
        return rtuSummary(frame);
    CapturedFrame view = frame;
    view.bytes = unitFirst(frame, frame.bytes);
    view.request = unitFirst(frame, frame.request);
    return prefix + rtuSummary(view);
}



QString frameLine(const CapturedFrame &frame)
{
    return frameTimeText(frame.time, true) + QLatin1Char('\t') + frameDirectionText(frame)
           + QLatin1Char('\t') + rtu::hexText(frame.bytes) + QLatin1Char('\t') + frameSummary(frame);
}
