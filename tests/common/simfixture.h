#ifndef SIMFIXTURE_H
#define SIMFIXTURE_H

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A virtual serial line with the simulated sensor on one end: a socat pty pair in a
// temporary directory, sensor-sim serving DIR/sim, and DIR/client left for the program
// under test. Every wait is bounded; stop() (also run by the destructor) tears both down.
class SimFixture : public QObject
{
    Q_OBJECT
public:
    // The simulator built with the tests, unless `simPath` names another.
    explicit SimFixture(const QString &simPath = defaultSimPath(), QObject *parent = nullptr);
    ~SimFixture() override;

    // Starts socat and sensor-sim with `simArgs` (the fixture adds --log, --ready-file and
    // the device). False, with errorString() saying why, if either fails within 5 s.
    bool start(const QStringList &simArgs = {});
    // Starts sensor-sim as a Modbus TCP server on `host` at a port of its choosing, tcpPort().
    bool startTcp(const QStringList &simArgs = {},
                  const QString &host = QStringLiteral("127.0.0.1"));
    int tcpPort() const { return m_tcpPort; }
    void stop();
    // Ends socat only: both pty ends vanish, as when an adapter is unplugged.
    void killLine();

    QString clientPort() const;
    QString simPort() const;
    QString directory() const;
    QString logPath() const;
    // The simulator's log so far, one served request per entry.
    QStringList requests() const;
    // The log lines holding every one of `tokens` as a whole word ("fc=6", "outcome=drop").
    QStringList requestsWith(const QStringList &tokens) const;
    // Waits (bounded) until the log holds at least `count` lines.
    bool waitForRequests(int count, int timeoutMs = 3000) const;
    // Waits (bounded) for the simulator to end by itself.
    bool waitForSimExit(int timeoutMs = 3000);
    // The simulator's exit code once it has ended normally, otherwise -1.
    int simExitCode() const;
    QString simOutput() const;
    bool isRunning() const;
    QString errorString() const { return m_error; }

    static QString defaultSimPath();

private:
    bool fail(const QString &message);
    bool launchSim(const QStringList &simArgs);
    static void endProcess(QProcess *process);

    QString m_simPath;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_socat;
    std::unique_ptr<QProcess> m_sim;
    QString m_error;
    int m_tcpPort = 0;
};

#endif // SIMFIXTURE_H
