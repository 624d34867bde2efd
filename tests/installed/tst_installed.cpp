#include "testfiles.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// The program as a package installs it: `cmake --install` into a temporary DESTDIR, started
// from there with a home and user folders of its own, ended by a signal. The settings, the
// geometry and the program directory must be in the user's folders, nothing new elsewhere.
class tst_Installed : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void signalEndsAsClosing_data();
    void signalEndsAsClosing();

private:
    QTemporaryDir m_dest;
};

static QStringList treeOf(const QString &dir)
{
    QStringList entries;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << it.next().mid(dir.size());
    entries.sort();
    return entries;
}

// Starts `program` in `home` and sends it `signalNumber` once it runs; true when it then
// ended normally, with status 0.
static bool runUntilSignal(const QString &program, const QString &home, int signalNumber)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("XDG_DATA_HOME", home + "/data");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    // The settings file's line is logged after the signal handlers are in place.
    env.insert("QT_LOGGING_RULES", "rurodur.settings.debug=true");
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(home);
    process.start(program, QStringList());
    QByteArray output;
    QElapsedTimer timer;
    timer.start();
    while (!output.contains("rurodur.settings:") && process.state() != QProcess::NotRunning
           && timer.elapsed() < 30000) {
        process.waitForReadyRead(200);
        output += process.readAllStandardError();
    }
    ::kill(pid_t(process.processId()), signalNumber);
    const bool ended = process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    if (!ended)
        qWarning().noquote() << "did not end normally:" << output + process.readAllStandardError();
    return ended;
}

void tst_Installed::initTestCase()
{
    // A background job of a script starts with SIGINT ignored, and the program leaves an ignored
    // signal ignored: its children here start from the default actions.
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGHUP, SIG_DFL);
    QVERIFY(m_dest.isValid());
    QProcess install;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DESTDIR", m_dest.path());
    install.setProcessEnvironment(env);
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(RURODUR_CMAKE, { "--install", RURODUR_BINARY_DIR, "--prefix", "/usr" });
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAll().constData());
}

void tst_Installed::signalEndsAsClosing_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void tst_Installed::signalEndsAsClosing()
{
    QFETCH(int, signalNumber);
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QStringList installed = treeOf(m_dest.path());
    const QString program = m_dest.filePath("usr/bin/rurodur");
    const QString settings = home.filePath("config/rurodur/rurodur.json");

    // First start: the sample workbook is copied into the program directory and opens from
    // there (its first sheet becomes the stored area).
    QVERIFY(runUntilSignal(program, home.path(), signalNumber));
    QCOMPARE(fileDigest(home.filePath("data/rurodur/ProtocolFile/modbus.xlsx")),
             fileDigest(m_dest.filePath("usr/share/rurodur/ProtocolFile/modbus.xlsx")));
    QJsonObject top = QJsonDocument::fromJson(fileData(settings)).object();
    QJsonObject display = top.value("modbusDisplay").toObject();
    QCOMPARE(display.value("regsType").toString(), QStringLiteral("保持寄存器"));

    // The second start reads what the first wrote, and writes it back.
    display.insert("period", 250);
    top.insert("modbusDisplay", display);
    QFile file(settings);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(top).toJson()) > 0);
    file.close();
    QVERIFY(runUntilSignal(program, home.path(), signalNumber));
    top = QJsonDocument::fromJson(fileData(settings)).object();
    QCOMPARE(top.value("modbusDisplay").toObject().value("period").toInt(), 250);

    QCOMPARE(treeOf(home.path()), (QStringList{ "/config", "/config/Velk", "/config/Velk/rurodur.conf",
                                                "/config/rurodur", "/config/rurodur/rurodur.json", "/data",
                                                "/data/rurodur", "/data/rurodur/ProtocolFile",
                                                "/data/rurodur/ProtocolFile/modbus.xlsx" }));
    QCOMPARE(treeOf(m_dest.path()), installed);
}

QTEST_GUILESS_MAIN(tst_Installed)
#include "tst_installed.moc"
