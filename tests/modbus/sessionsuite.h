#ifndef SESSIONSUITE_H
#define SESSIONSUITE_H

#include "modbussession.h"
#include "simfixture.h"

#include <QList>
#include <QModbusDataUnit>
#include <QObject>
#include <QPair>
#include <QVector>

#include <memory>

class QSignalSpy;

// A data unit as a test row holds it (QModbusDataUnit is no metatype): a range to read, or
// the values to write.
struct Request
{
    Request() = default;
    Request(QModbusDataUnit::RegisterType type, int start, const QVector<quint16> &values)
        : type(type), start(start), count(values.size()), values(values)
    {
    }
    static Request range(QModbusDataUnit::RegisterType type, int start, int count);
    QModbusDataUnit unit() const;

    QModbusDataUnit::RegisterType type = QModbusDataUnit::Invalid;
    int start = 0;
    int count = 0;
    QVector<quint16> values;
};
Q_DECLARE_METATYPE(Request)

// Names for failure messages and readable test rows.
QString resultName(ModbusSession::SendResult result);
QString resultName(ReplyOutcome::Result result);

QModbusDataUnit holding(int start, const QVector<quint16> &values);
QModbusDataUnit holdingRange(int start, int count);
// 1, 2, ... count.
QVector<quint16> counting(int count);

// Base of the session suites: a simulated sensor per test, the line settings the session
// opens it with, and what the session reported of its requests. The suites add test slots.
class SessionSuite : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

protected:
    struct Sent
    {
        RequestKind kind;
        QModbusDataUnit unit;
        int server;
    };

    // The simulator's line at 115200 8N1, no retry, and a timeout short enough for requests
    // the device leaves unanswered.
    LineSettings line(int timeoutMs = 1000) const;
    // Starts the simulator with `simArgs` and opens `session` on its line, recording it.
    bool openOnSimulator(ModbusSession &session, const QStringList &simArgs, int timeoutMs = 1000);
    // Records requestSent() and requestRefused() into m_sent and m_refused (a QSignalSpy
    // cannot: RequestKind is no metatype).
    void record(ModbusSession &session);
    static ReplyOutcome outcomeAt(const QSignalSpy &spy, int index);

    std::unique_ptr<SimFixture> m_sim;
    QList<Sent> m_sent;
    QList<QPair<RequestKind, QString>> m_refused;
};

#endif // SESSIONSUITE_H
