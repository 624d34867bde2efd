#include "sessionsuite.h"

#include <QSignalSpy>
#include <QtTest>

Request Request::range(QModbusDataUnit::RegisterType type, int start, int count)
{
    Request request;
    request.type = type;
    request.start = start;
    request.count = count;
    return request;
}

QModbusDataUnit Request::unit() const
{
    if (type == QModbusDataUnit::Invalid)
        return QModbusDataUnit();
    return values.isEmpty() ? QModbusDataUnit(type, start, quint16(count))
                            : QModbusDataUnit(type, start, values);
}

QString resultName(ModbusSession::SendResult result)
{
    switch (result) {
    case ModbusSession::SendResult::Sent: return QStringLiteral("Sent");
    case ModbusSession::SendResult::Queued: return QStringLiteral("Queued");
    case ModbusSession::SendResult::Busy: return QStringLiteral("Busy");
    case ModbusSession::SendResult::NotConnected: return QStringLiteral("NotConnected");
    case ModbusSession::SendResult::InvalidServer: return QStringLiteral("InvalidServer");
    case ModbusSession::SendResult::OutOfRange: return QStringLiteral("OutOfRange");
    case ModbusSession::SendResult::Refused: return QStringLiteral("Refused");
    }
    return QStringLiteral("?");
}

QString resultName(ReplyOutcome::Result result)
{
    switch (result) {
    case ReplyOutcome::Result::Normal: return QStringLiteral("Normal");
    case ReplyOutcome::Result::Broadcast: return QStringLiteral("Broadcast");
    case ReplyOutcome::Result::Error: return QStringLiteral("Error");
    }
    return QStringLiteral("?");
}

QModbusDataUnit holding(int start, const QVector<quint16> &values)
{
    return QModbusDataUnit(QModbusDataUnit::HoldingRegisters, start, values);
}

QModbusDataUnit holdingRange(int start, int count)
{
    return QModbusDataUnit(QModbusDataUnit::HoldingRegisters, start, quint16(count));
}

QVector<quint16> counting(int count)
{
    QVector<quint16> values;
    for (int i = 0; i < count; ++i)
        values << quint16(i + 1);
    return values;
}

void SessionSuite::initTestCase()
{
    qRegisterMetaType<QModbusDevice::State>();
    qRegisterMetaType<QModbusDevice::Error>();
}

void SessionSuite::init()
{
    m_sim = std::make_unique<SimFixture>();
    m_sent.clear();
    m_refused.clear();
}

void SessionSuite::cleanup()
{
    m_sim.reset();
}

LineSettings SessionSuite::line(int timeoutMs) const
{
    LineSettings settings = LineSettings::fromTexts(m_sim->clientPort(), 115200, QStringLiteral("None"),
                                                    QStringLiteral("1"));
    settings.timeoutMs = timeoutMs;
    settings.retries = 0;
    return settings;
}

bool SessionSuite::openOnSimulator(ModbusSession &session, const QStringList &simArgs, int timeoutMs)
{
    if (!m_sim->start(simArgs)) {
        qWarning("%s", qPrintable(m_sim->errorString()));
        return false;
    }
    record(session);
    return session.open(line(timeoutMs)) && session.isConnected();
}

void SessionSuite::record(ModbusSession &session)
{
    connect(&session, &ModbusSession::requestSent, this,
            [this](RequestKind kind, const QModbusDataUnit &unit, int server) {
                m_sent.append({ kind, unit, server });
            });
    connect(&session, &ModbusSession::requestRefused, this,
            [this](RequestKind kind, const QString &reason) { m_refused.append({ kind, reason }); });
}

ReplyOutcome SessionSuite::outcomeAt(const QSignalSpy &spy, int index)
{
    return spy.at(index).at(0).value<ReplyOutcome>();
}
