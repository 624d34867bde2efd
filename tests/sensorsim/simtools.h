#ifndef SIMTOOLS_H
#define SIMTOOLS_H

// Helpers shared by the suites that drive the simulated sensor from outside: one mbpoll run
// (an independent Modbus master) with its output parsed, the outcome field of a request log
// line, and one sensor-sim run on its own for option checks.

#include <QList>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace simtools {

using Values = QList<quint32>;

const QString kSimPath = QStringLiteral(SENSOR_SIM_PATH);

struct MbpollResult
{
    int exitCode = -1;
    QString output;           // standard output and error
    QMap<int, quint32> values; // reference -> value, for reads
    QMap<int, double> numbers; // reference -> value as printed, floats too
};

// One mbpoll run against `device`: PDU addressing (-0), one poll (-1), 8N1 at 115200.
inline MbpollResult mbpoll(const QString &device, const QStringList &args, int serverAddress = 1,
                           const QString &timeoutSeconds = QStringLiteral("0.5"))
{
    MbpollResult result;
    QStringList all = {QStringLiteral("-m"), QStringLiteral("rtu"),
                       QStringLiteral("-a"), QString::number(serverAddress),
                       QStringLiteral("-b"), QStringLiteral("115200"),
                       QStringLiteral("-P"), QStringLiteral("none"),
                       QStringLiteral("-0"), QStringLiteral("-1"),
                       QStringLiteral("-o"), timeoutSeconds};
    // mbpoll takes the write values after the device.
    const int split = args.indexOf(QStringLiteral("WRITE"));
    all += args.mid(0, split < 0 ? args.size() : split);
    all << device;
    if (split >= 0)
        all += args.mid(split + 1);

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("mbpoll"), all);
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished(3000);
        result.output = QStringLiteral("mbpoll did not finish");
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromLocal8Bit(process.readAll());
    static const QRegularExpression line(QStringLiteral("^\\[(\\d+)\\]:\\s+(\\d+)"),
                                         QRegularExpression::MultilineOption);
    auto it = line.globalMatch(result.output);
    while (it.hasNext()) {
        const auto m = it.next();
        result.values.insert(m.captured(1).toInt(), m.captured(2).toUInt());
    }
    static const QRegularExpression number(QStringLiteral("^\\[(\\d+)\\]:\\s+(\\S+)"),
                                           QRegularExpression::MultilineOption);
    it = number.globalMatch(result.output);
    while (it.hasNext()) {
        const auto m = it.next();
        result.numbers.insert(m.captured(1).toInt(), m.captured(2).toDouble());
    }
    return result;
}

inline QList<quint32> valuesFrom(const MbpollResult &r, int start, int count)
{
    QList<quint32> list;
    for (int i = 0; i < count; ++i)
        list << r.values.value(start + i, 0xFFFFFFFFu);
    return list;
}

inline QString outcomeOf(const QString &logLine)
{
    static const QRegularExpression re(QStringLiteral("outcome=(\\w+)"));
    return re.match(logLine).captured(1);
}

struct SimRun
{
    int exitCode = -1;
    QString output;
};

inline SimRun runSim(const QStringList &args)
{
    SimRun run;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(kSimPath, args);
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(3000);
        run.output = QStringLiteral("sensor-sim did not finish");
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = QString::fromLocal8Bit(process.readAll());
    return run;
}

} // namespace simtools

#endif // SIMTOOLS_H
