#include "simfixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>

namespace {
constexpr int kStartTimeoutMs = 5000;
constexpr int kStopTimeoutMs = 3000;

QString readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readAll()).trimmed();
}
} // namespace

QString SimFixture::defaultSimPath()
{
#ifdef RURODUR_SENSOR_SIM
    return QStringLiteral(RURODUR_SENSOR_SIM);
#else
    return QString();
#endif
}

SimFixture::SimFixture(const QString &simPath, QObject *parent)
    : QObject(parent), m_simPath(simPath)
{
}

SimFixture::~SimFixture()
{
    stop();
}

bool SimFixture::fail(const QString &message)
{
    m_error = message;
    stop();
    return false;
}

bool SimFixture::start(const QStringList &simArgs)
{
    stop();
    m_error.clear();
    m_tcpPort = 0;

    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty())
        return fail(tr("socat not found in PATH"));
    if (!QFileInfo(m_simPath).isExecutable())
        return fail(tr("sensor-sim not found or not executable: %1").arg(m_simPath));

    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/simline-XXXXXX"));
    if (!m_dir->isValid())
        return fail(tr("cannot create a temporary directory: %1").arg(m_dir->errorString()));
    // socat splits its address arguments at these characters.
    for (const QChar c : QStringLiteral(",:!'\"\\ ")) {
        if (m_dir->path().contains(c))
            return fail(tr("temporary directory %1 has a character socat cannot take")
                            .arg(m_dir->path()));
    }

    m_socat = std::make_unique<QProcess>();
    m_socat->setProcessChannelMode(QProcess::MergedChannels);
    m_socat->setStandardOutputFile(directory() + QStringLiteral("/socat.out"));
    m_socat->start(socat, {QStringLiteral("pty,raw,echo=0,link=") + simPort(),
                           QStringLiteral("pty,raw,echo=0,link=") + clientPort()});
    if (!m_socat->waitForStarted(kStartTimeoutMs))
        return fail(tr("socat did not start: %1").arg(m_socat->errorString()));

    QDeadlineTimer deadline(kStartTimeoutMs);
    while (!(QFileInfo::exists(simPort()) && QFileInfo::exists(clientPort()))) {
        if (m_socat->waitForFinished(10))
            return fail(tr("socat ended: %1").arg(readText(directory() + "/socat.out")));
        if (deadline.hasExpired())
            return fail(tr("socat made no pty pair within %1 ms").arg(kStartTimeoutMs));
    }

    return launchSim(simArgs + QStringList{QStringLiteral("--"), simPort()});
}

bool SimFixture::startTcp(const QStringList &simArgs, const QString &host)
{
    stop();
    m_error.clear();
    m_tcpPort = 0;
    if (!QFileInfo(m_simPath).isExecutable())
        return fail(tr("sensor-sim not found or not executable: %1").arg(m_simPath));
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/simtcp-XXXXXX"));
    if (!m_dir->isValid())
        return fail(tr("cannot create a temporary directory: %1").arg(m_dir->errorString()));
    // Port 0: the simulator takes a free port and names it in its ready file.
    if (!launchSim(simArgs + QStringList{QStringLiteral("--tcp"), QStringLiteral("0"),
                                         QStringLiteral("--host"), host}))
        return false;
    const QString ready = readText(directory() + QStringLiteral("/ready"));
    m_tcpPort = ready.section(QLatin1Char('\n'), 1).toInt();
    return m_tcpPort > 0 || fail(tr("sensor-sim named no port in its ready file"));
}

bool SimFixture::launchSim(const QStringList &simArgs)
{
    const QString readyFile = directory() + QStringLiteral("/ready");
    QStringList args = {QStringLiteral("--log"), logPath(), QStringLiteral("--ready-file"),
                        readyFile};
    args += simArgs;
    m_sim = std::make_unique<QProcess>();
    m_sim->setProcessChannelMode(QProcess::MergedChannels);
    m_sim->setStandardOutputFile(directory() + QStringLiteral("/sim.out"));
    m_sim->start(m_simPath, args);
    if (!m_sim->waitForStarted(kStartTimeoutMs))
        return fail(tr("sensor-sim did not start: %1").arg(m_sim->errorString()));

    QDeadlineTimer deadline(kStartTimeoutMs);
    while (!QFileInfo::exists(readyFile)) {
        if (m_sim->waitForFinished(10)) {
            return fail(tr("sensor-sim ended with code %1: %2")
                            .arg(m_sim->exitCode())
                            .arg(simOutput()));
        }
        if (deadline.hasExpired())
            return fail(tr("sensor-sim was not ready within %1 ms").arg(kStartTimeoutMs));
    }
    return true;
}

void SimFixture::endProcess(QProcess *process)
{
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(kStopTimeoutMs)) {
        process->kill();
        process->waitForFinished(kStopTimeoutMs);
    }
}

void SimFixture::stop()
{
    // The simulator first, so it closes its end and flushes its log while the line is up.
    endProcess(m_sim.get());
    endProcess(m_socat.get());
}

void SimFixture::killLine()
{
    endProcess(m_socat.get());
}

QString SimFixture::directory() const
{
    return m_dir ? m_dir->path() : QString();
}

QString SimFixture::clientPort() const
{
    return m_dir ? m_dir->filePath(QStringLiteral("client")) : QString();
}

QString SimFixture::simPort() const
{
    return m_dir ? m_dir->filePath(QStringLiteral("sim")) : QString();
}

QString SimFixture::logPath() const
{
    return m_dir ? m_dir->filePath(QStringLiteral("sim.log")) : QString();
}

QStringList SimFixture::requests() const
{
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Only whole lines: the simulator may be half-way through writing the last one.
    QStringList lines;
    const QByteArray data = file.readAll();
    const int end = data.lastIndexOf('\n');
    if (end < 0)
        return {};
    for (const QByteArray &line : data.left(end).split('\n')) {
        if (!line.trimmed().isEmpty())
            lines << QString::fromUtf8(line.trimmed());
    }
    return lines;
}

QStringList SimFixture::requestsWith(const QStringList &tokens) const
{
    QStringList found;
    const QStringList lines = requests();
    for (const QString &line : lines) {
        const QStringList words = line.split(QLatin1Char(' '));
        const bool all = std::all_of(tokens.begin(), tokens.end(),
                                     [&](const QString &token) { return words.contains(token); });
        if (all)
            found.append(line);
    }
    return found;
}

bool SimFixture::waitForRequests(int count, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    while (requests().size() < count) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

bool SimFixture::waitForSimExit(int timeoutMs)
{
    return !m_sim || m_sim->state() == QProcess::NotRunning || m_sim->waitForFinished(timeoutMs);
}

int SimFixture::simExitCode() const
{
    if (!m_sim || m_sim->state() != QProcess::NotRunning
        || m_sim->exitStatus() != QProcess::NormalExit)
        return -1;
    return m_sim->exitCode();
}

QString SimFixture::simOutput() const
{
    return readText(directory() + QStringLiteral("/sim.out"));
}

bool SimFixture::isRunning() const
{
    const bool lineUp = m_tcpPort > 0 || (m_socat && m_socat->state() != QProcess::NotRunning);
    return m_sim && m_sim->state() != QProcess::NotRunning && lineUp;
}
