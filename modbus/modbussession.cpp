#include "modbussession.h"

#include "logging.h"
#include "modbustext.h"
#include "readplan.h"

#include <QModbusReply>
#include <QModbusRtuSerialMaster>
#include <QModbusTcpClient>
#include <QTcpSocket>

namespace {

const char kindProperty[] = "rurodurKind";
const char serverProperty[] = "rurodurServer";

} // namespace

LineSettings LineSettings::fromTexts(const QString &portName, int baudRate, const QString &parity,
                                     const QString &stopBits)
{
    LineSettings settings;
    settings.portName = portName;
    settings.baudRate = baudRate;
    settings.parity = parityValueOf(parity);
    settings.stopBits = stopBitsValueOf(stopBits);
    return settings;
}

LineSettings LineSettings::tcp(const QString &host, int port)
{
    LineSettings settings;
    settings.link = LinkType::Tcp;
    settings.host = host;
    settings.port = port;
    return settings;
}

QString LineSettings::urlHost() const
{
    return host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
}

QString LineSettings::linkText() const
{
    if (link == LinkType::Serial)
        return QStringLiteral("Modbus RTU ") + portName;
    return QStringLiteral("Modbus TCP %1:%2").arg(urlHost()).arg(port);
}

ModbusSession::ModbusSession(QObject *parent)
    : QObject(parent)
    , m_rtu(new QModbusRtuSerialMaster(this))
    , m_tcp(new QModbusTcpClient(this))
    , m_tcpSocket(m_tcp->findChild<QTcpSocket *>())
    , m_client(m_rtu)
{
    qRegisterMetaType<ReplyOutcome>();
    watch(m_rtu);
    watch(m_tcp);
    connect(&m_cycle, &QTimer::timeout, this, &ModbusSession::cycleTick);
}

QTcpSocket *ModbusSession::tcpSocket() const
{
    return m_tcpSocket;
}

// Only the client of the current link is heard.
void ModbusSession::watch(QModbusClient *client)
{
    connect(client, &QModbusDevice::stateChanged, this, [this, client](QModbusDevice::State state) {
        if (client == m_client)
            onClientStateChanged(state);
    });
    connect(client, &QModbusDevice::errorOccurred, this, [this, client](QModbusDevice::Error error) {
        if (client == m_client)
            onClientError(error);
    });
}

ModbusSession::~ModbusSession()
{
    // Deleting the client aborts an outstanding reply; nobody is left to hear of it.
    m_destroying = true;
    m_cycle.stop();
    m_rtu->disconnect(this);
    m_tcp->disconnect(this);
    if (m_outstanding)
        m_outstanding->disconnect(this);
}

bool ModbusSession::open(const LineSettings &settings)
{
    QModbusClient *client = settings.link == LinkType::Tcp ? static_cast<QModbusClient *>(m_tcp)
                                                           : m_rtu;
    if (client != m_client && m_client->state() != QModbusDevice::UnconnectedState)
        close();
    m_client = client;
    m_link = settings.link;
    if (settings.link == LinkType::Tcp) {
        // The client joins address and port into a URL.
        m_client->setConnectionParameter(QModbusDevice::NetworkAddressParameter, settings.urlHost());
        m_client->setConnectionParameter(QModbusDevice::NetworkPortParameter, settings.port);
    } else {
        m_client->setConnectionParameter(QModbusDevice::SerialPortNameParameter, settings.portName);
        m_client->setConnectionParameter(QModbusDevice::SerialParityParameter, settings.parity);
        m_client->setConnectionParameter(QModbusDevice::SerialBaudRateParameter, settings.baudRate);
        m_client->setConnectionParameter(QModbusDevice::SerialDataBitsParameter, settings.dataBits);
        m_client->setConnectionParameter(QModbusDevice::SerialStopBitsParameter, settings.stopBits);
    }
    m_client->setTimeout(settings.timeoutMs);
    m_client->setNumberOfRetries(settings.retries);
    m_connected = false;
    m_linkOpen = m_client->connectDevice();
    qCDebug(lcModbus) << "open" << settings.linkText() << settings.baudRate
                      << (m_linkOpen ? "ok" : "failed");
    return m_linkOpen;
}

void ModbusSession::close()
{
    // Marked first: the client's state change while it disconnects is not a lost link.
    m_linkOpen = false;
    m_client->disconnectDevice();
    endLink();
}

void ModbusSession::endLink()
{
    m_linkOpen = false;
    m_cycle.stop();
    // A reply aborted by the closing, or one that will never come: the next read must go out.
    m_pending = false;
    m_waitingWrite.reset();
}

QModbusDevice::State ModbusSession::state() const
{
    return m_client->state();
}

bool ModbusSession::isConnected() const
{
    return m_client->state() == QModbusDevice::ConnectedState;
}

QString ModbusSession::errorString() const
{
    return m_client->errorString();
}

ModbusSession::SendResult ModbusSession::read(const QModbusDataUnit &unit, int serverAddress)
{
    return send(RequestKind::Read, unit, serverAddress);
}

ModbusSession::SendResult ModbusSession::write(const QModbusDataUnit &unit, int serverAddress)
{
    return send(RequestKind::Write, unit, serverAddress);
}

ModbusSession::SendResult ModbusSession::send(RequestKind kind, const QModbusDataUnit &unit,
                                              int serverAddress)
{
    if (!isConnected())
        return SendResult::NotConnected;
    if (!ReadPlan::isValidServer(serverAddress, m_link))
        return SendResult::InvalidServer;
    if (!ReadPlan::fitsAddressSpace(unit.startAddress(), int(unit.valueCount())))
        return SendResult::OutOfRange;
    if (m_pending) {
        if (kind == RequestKind::Read)
            return SendResult::Busy;
        m_waitingWrite = WaitingWrite{ unit, serverAddress };
        return SendResult::Queued;
    }

    QModbusReply *reply = kind == RequestKind::Read ? m_client->sendReadRequest(unit, serverAddress)
                                                    : m_client->sendWriteRequest(unit, serverAddress);
    if (!reply) {
        qCDebug(lcModbus) << "request refused:" << m_client->errorString();
        emit requestRefused(kind, m_client->errorString());
        return SendResult::Refused;
    }
    m_sentAt.start();
    // A TCP socket would write the request at the event loop's next turn, after everything that
    // hears of it here; written now, it travels while they work.
    if (m_link == LinkType::Tcp && m_tcpSocket)
        m_tcpSocket->flush();
    emit requestSent(kind, unit, serverAddress);
    adoptReply(reply, kind, serverAddress);
    return SendResult::Sent;
}

void ModbusSession::adoptReply(QModbusReply *reply, RequestKind kind, int serverAddress)
{
    m_pending = true;
    m_outstanding = reply;
    reply->setProperty(kindProperty, int(kind));
    reply->setProperty(serverProperty, serverAddress);
    // A reply the client finished at once still carries an outcome to report, and only its
    // handling clears the pending mark.
    if (reply->isFinished())
        finishReply(reply);
    else
        connect(reply, &QModbusReply::finished, this, &ModbusSession::onReplyFinished);
}

void ModbusSession::onReplyFinished()
{
    if (auto *reply = qobject_cast<QModbusReply *>(sender()))
        finishReply(reply);
}

void ModbusSession::finishReply(QModbusReply *reply)
{
    if (m_destroying)
        return;
    m_pending = false;
    if (m_outstanding == reply)
        m_outstanding = nullptr;

    ReplyOutcome outcome;
    outcome.kind = RequestKind(reply->property(kindProperty).toInt());
    outcome.serverAddress = reply->property(serverProperty).toInt();
    outcome.responseUs = m_sentAt.isValid() ? m_sentAt.nsecsElapsed() / 1000 : 0;
    outcome.error = reply->error();
    if (reply->error() != QModbusDevice::NoError) {
        outcome.result = ReplyOutcome::Result::Error;
        outcome.errorString = reply->errorString();
        // Qt's RTU client keeps an exception reply's function code sign-extended in its enum
        // (0x83 becomes -125), so the code is not read through it: an exception reply is a
        // protocol error whose PDU data is the one exception byte.
        if (reply->error() == QModbusDevice::ProtocolError) {
            const QByteArray data = reply->rawResult().data();
            if (data.size() == 1)
                outcome.exceptionCode = quint8(data.at(0));
        }
    } else if (reply->type() == QModbusReply::Broadcast) {
        // No device answers address 0: the client finishes the request once it is on the line.
        outcome.result = ReplyOutcome::Result::Broadcast;
        outcome.unit = reply->result();
    } else {
        outcome.result = ReplyOutcome::Result::Normal;
        outcome.unit = reply->result();
        const QModbusDataUnit::RegisterType type = outcome.unit.registerType();
        if (type == QModbusDataUnit::Coils || type == QModbusDataUnit::DiscreteInputs) {
            outcome.unit.setValues(bitAreaValues(outcome.unit.values(),
                                                 int(outcome.unit.valueCount()),
                                                 reply->rawResult().data()));
        }
    }

    m_lastOutcome = outcome;
    emit replyHandled(m_lastOutcome);
    reply->deleteLater();
    sendWaitingWrite();
}

void ModbusSession::sendWaitingWrite()
{
    if (!m_waitingWrite || m_pending)
        return;
    const WaitingWrite write = *m_waitingWrite;
    m_waitingWrite.reset();
    send(RequestKind::Write, write.unit, write.serverAddress);
}

void ModbusSession::onClientError(QModbusDevice::Error error)
{
    qCDebug(lcModbus) << "errorOccurred : " << modbusErrorName(error);
    emit errorOccurred(error);

    // A port that vanished (adapter unplugged, pty closed) reaches the client as read, write
    // or connection errors, often one after the other, while it stays in ConnectedState: the
    // session would go on sending into nothing. The line is closed; queued, because the port
    // is in the middle of its own error handling here.
    const bool lineBroken = error == QModbusDevice::ConnectionError
                            || error == QModbusDevice::ReadError
                            || error == QModbusDevice::WriteError;
    if (lineBroken && isConnected()) {
        QMetaObject::invokeMethod(this, [this]() {
            if (isConnected())
                close();
        }, Qt::QueuedConnection);
    }
}

// A TCP client falls back to UnconnectedState by itself when the peer closes the connection
// or the host cannot be reached; the session then ends the link as close() does. The reason
// is set just after the state changes, so it is read once the client's handling is over.
void ModbusSession::onClientStateChanged(QModbusDevice::State state)
{
    if (state == QModbusDevice::ConnectedState)
        m_connected = true;
    if (state == QModbusDevice::UnconnectedState && m_linkOpen) {
        endLink();
        const bool connected = m_connected;
        QMetaObject::invokeMethod(this, [this, connected]() {
            emit linkLost(errorString(), connected);
        }, Qt::QueuedConnection);
    }
    emit stateChanged(state);
}

void ModbusSession::startCycle(int intervalMs)
{
    // A negative interval would leave the timer stopped while the cycle is meant to run.
    m_cycle.setInterval(qMax(intervalMs, 0));
    m_cycle.start();
}

void ModbusSession::stopCycle()
{
    m_cycle.stop();
}

void ModbusSession::setCycleInterval(int intervalMs)
{
    m_cycle.setInterval(qMax(intervalMs, 0));
}
