#ifndef CAPTUREFIXTURE_H
#define CAPTUREFIXTURE_H

// A Modbus session with its frame capture and line statistics, without a window: a line at
// 115200 8N1 with a short response timeout, one request at a time with a bounded wait for its
// outcome, and every frame captured.

#include "framecapture.h"
#include "linestatistics.h"
#include "modbussession.h"

#include <QList>
#include <QSignalSpy>

class CaptureFixture
{
public:
    explicit CaptureFixture(int timeoutMs = 400)
        : m_timeoutMs(timeoutMs)
    {
        statistics.attach(&session, &capture);
        QObject::connect(&capture, &FrameCapture::frameCaptured, &capture,
                         [this](const CapturedFrame &frame) { frames.append(frame); });
    }

    bool open(const QString &port)
    {
        LineSettings line;
        line.portName = port;
        line.baudRate = 115200;
        line.parity = 0;
        line.stopBits = 1;
        line.timeoutMs = m_timeoutMs;
        line.retries = 1;
        return session.open(line);
    }

    // Sends the request and waits for its outcome; an outcome with UnknownError when none came.
    ReplyOutcome exchange(RequestKind kind, const QModbusDataUnit &unit, int server = 1)
    {
        QSignalSpy handled(&session, &ModbusSession::replyHandled);
        const auto sent = kind == RequestKind::Read ? session.read(unit, server) : session.write(unit, server);
        if (sent != ModbusSession::SendResult::Sent || !handled.wait(3 * m_timeoutMs + 3000)) {
            ReplyOutcome none;
            none.error = QModbusDevice::UnknownError;
            return none;
        }
        return session.lastOutcome();
    }

    ReplyOutcome read(int start, int count)
    {
        return exchange(RequestKind::Read, QModbusDataUnit(QModbusDataUnit::HoldingRegisters, start, quint16(count)));
    }

    ModbusSession session;
    FrameCapture capture{ &session };
    LineStatistics statistics;
    QList<CapturedFrame> frames;

private:
    int m_timeoutMs;
};

#endif // CAPTUREFIXTURE_H
