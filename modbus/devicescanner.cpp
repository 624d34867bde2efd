#include "devicescanner.h"

#include "lineoptions.h"
#include "logging.h"
#include "modbussession.h"
#include "readplan.h"

#include <QModbusDataUnit>

#include <cmath>

int ScanPlan::probeCount() const
{
    if (lastAddress < firstAddress)
        return 0;
    return (lastAddress - firstAddress + 1) * lineCount();
}

int ScanPlan::lineCount() const
{
    return link == LinkType::Tcp ? 1 : baudRates.size() * parities.size();
}

int ScanPlan::probeTimeoutMs(int baudRate) const
{
    return timeoutMs + int(std::ceil(probeCharacters * LineOptions::characterTimeMs(baudRate)));
}

const ScanHit &FoundDevice::answerToUse(int baudRate, int parity) const
{
    for (const ScanHit &answer : answers) {
        if (answer.baudRate == baudRate && answer.parity == parity)
            return answer;
    }
    return answers.first();
}

bool ScanPlan::isValid(QString *reason) const
{
    QString why;
    const bool tcp = link == LinkType::Tcp;
    if (tcp && (host.isEmpty() || port < 1 || port > 65535))
        why = QStringLiteral("no host, or no port within 1..65535, given");
    else if (!tcp && portName.isEmpty())
        why = QStringLiteral("no serial port given");
    else if (firstAddress < 1 || lastAddress > ReadPlan::maxServerFor(link) || firstAddress > lastAddress)
        why = QStringLiteral("the addresses must lie within 1..%1, the first not above the last")
                      .arg(ReadPlan::maxServerFor(link));
    else if (!tcp && baudRates.isEmpty())
        why = QStringLiteral("no baud rate given");
    else if (!tcp && parities.isEmpty())
        why = QStringLiteral("no parity given");
    else if (timeoutMs < minTimeoutMs || timeoutMs > maxTimeoutMs)
        why = QStringLiteral("the timeout must lie within %1..%2 ms").arg(minTimeoutMs).arg(maxTimeoutMs);
    else if (probeRegister < 0 || probeRegister > 0xFFFF)
        why = QStringLiteral("the probed register lies outside 0..65535");
    if (reason)
        *reason = why;
    return why.isEmpty();
}

DeviceScanner::DeviceScanner(QObject *parent)
    : QObject(parent)
{
}

DeviceScanner::~DeviceScanner()
{
    // The session goes with this object; an outstanding probe is not reported any more.
    if (m_session)
        m_session->disconnect(this);
}

int DeviceScanner::currentBaudRate() const
{
    return m_plan.baudRates.value(m_line / qMax(1, m_plan.parities.size()));
}

int DeviceScanner::currentParity() const
{
    return m_plan.parities.value(m_line % qMax(1, m_plan.parities.size()));
}

bool DeviceScanner::start(const ScanPlan &plan)
{
    if (m_running) {
        m_error = QStringLiteral("a scan is running");
        return false;
    }
    if (!plan.isValid(&m_error))
        return false;
    m_plan = plan;
    m_error.clear();
    m_hits.clear();
    m_devices.clear();
    m_position = 0;
    m_line = 0;
    m_address = plan.firstAddress;
    m_running = true;
    if (!openLine())
        return true; // finished (Failed) already, with the reason
    // A TCP connection is made after the opening returns; the first probe waits for it.
    if (m_plan.link == LinkType::Serial)
        QMetaObject::invokeMethod(this, &DeviceScanner::probe, Qt::QueuedConnection);
    return true;
}

void DeviceScanner::cancel()
{
    if (!m_running)
        return;
    // Closing the line aborts the probe under way; its outcome no longer reaches this object.
    finish(Finish::Cancelled);
}

bool DeviceScanner::openLine()
{
    // A session per line setting: an aborted probe of the one before can never be taken for
    // an answer at this one.
    dropSession();
    m_session = new ModbusSession(this);
    connect(m_session, &ModbusSession::replyHandled, this, &DeviceScanner::takeOutcome);

    if (m_plan.link == LinkType::Tcp) {
        connect(m_session, &ModbusSession::stateChanged, this, [this](QModbusDevice::State state) {
            if (state == QModbusDevice::ConnectedState)
                QMetaObject::invokeMethod(this, &DeviceScanner::probe, Qt::QueuedConnection);
        });
        connect(m_session, &ModbusSession::linkLost, this, [this](const QString &reason) {
            m_error = QStringLiteral("cannot scan %1: %2").arg(lineName(), reason);
            finish(Finish::Failed);
        });
    }
    LineSettings line = planLine();
    line.baudRate = currentBaudRate();
    line.parity = currentParity();
    line.dataBits = m_plan.dataBits;
    line.stopBits = m_plan.stopBits;
    line.timeoutMs = m_plan.probeTimeoutMs(m_plan.link == LinkType::Serial ? line.baudRate : 0);
    line.retries = 0;
    if (!m_session->open(line)) {
        m_error = QStringLiteral("cannot open %1: %2").arg(lineName(), m_session->errorString());
        finish(Finish::Failed);
        return false;
    }
    qCDebug(lcModbus) << "scan line" << line.portName << line.baudRate << line.parity;
    return true;
}

void DeviceScanner::probe()
{
    if (!m_running || !m_session)
        return;
    const QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, m_plan.probeRegister, 1);
    const ModbusSession::SendResult sent = m_session->read(unit, m_address);
    if (sent != ModbusSession::SendResult::Sent) {
        // The line went away (a port unplugged) or the client refused the request.
        m_error = QStringLiteral("cannot send on %1: %2")
                          .arg(lineName(), m_session->errorString());
        finish(Finish::Failed);
    }
}

void DeviceScanner::takeOutcome(const ReplyOutcome &outcome)
{
    if (!m_running)
        return;
    // An answer proves a device: a normal reply or an exception other than a gateway's. A
    // timeout, or a frame the client could not make sense of, does not.
    const bool answered = outcome.result == ReplyOutcome::Result::Normal
            || (outcome.exceptionCode != 0 && ScanHit::provesDevice(outcome.exceptionCode));
    if (answered) {
        ScanHit hit;
        hit.address = m_address;
        const bool serial = m_plan.link == LinkType::Serial;
        hit.baudRate = serial ? currentBaudRate() : 0;
        hit.parity = serial ? currentParity() : 0;
        hit.stopBits = m_plan.stopBits;
        hit.exceptionCode = outcome.exceptionCode;
        if (outcome.result == ReplyOutcome::Result::Normal && outcome.unit.valueCount() > 0)
            hit.value = outcome.unit.value(0);
        m_hits.append(hit);
        FoundDevice &device = m_devices[hit.address];
        device.address = hit.address;
        device.answers.append(hit);
        emit found(hit);
    }
    ++m_position;
    emit progressed(m_position, total());
    if (!m_running) // cancelled by a receiver of these signals
        return;

    if (m_address < m_plan.lastAddress) {
        ++m_address;
    } else {
        ++m_line;
        m_address = m_plan.firstAddress;
        if (m_line >= m_plan.lineCount()) {
            finish(Finish::Completed);
            return;
        }
        if (!openLine())
            return;
    }
    // Sent from the event loop: the session is still inside its reply handling here.
    QMetaObject::invokeMethod(this, &DeviceScanner::probe, Qt::QueuedConnection);
}

LineSettings DeviceScanner::planLine() const
{
    LineSettings line = m_plan.link == LinkType::Tcp ? LineSettings::tcp(m_plan.host, m_plan.port)
                                                      : LineSettings();
    line.portName = m_plan.portName;
    return line;
}

QString DeviceScanner::lineName() const
{
    return planLine().name();
}

void DeviceScanner::finish(Finish how)
{
    m_running = false;
    dropSession();
    emit finished(how);
}

void DeviceScanner::dropSession()
{
    if (!m_session)
        return;
    m_session->disconnect(this);
    m_session->close();
    // Possibly inside the session's own signal: it is deleted once that has returned.
    m_session->deleteLater();
    m_session = nullptr;
}
