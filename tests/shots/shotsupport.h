#ifndef SHOTSUPPORT_H
#define SHOTSUPPORT_H

// What the screenshot programs share: a program directory with the sample workbook and settings
// for the simulated line, event-loop waits, and finding the auxiliary windows.

#include "myconfig.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <QWidget>

namespace shots {

inline void waitFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

inline int fail(const char *program, const QString &message)
{
    QTextStream(stderr) << program << ": " << message << '\n';
    return 1;
}

// Makes `directory` the program directory, with the sample workbook in ProtocolFile/ and the
// settings of the demo: the simulated line at 115200 8N1, repeated reads every 200 ms.
inline void prepareProgramDirectory(const QString &directory, const QString &port)
{
    QDir::setCurrent(directory);
    QDir().mkpath(QStringLiteral("ProtocolFile"));
    QFile::copy(QStringLiteral(SAMPLE_WORKBOOK), QStringLiteral("ProtocolFile/modbus.xlsx"));
    MyConfig::programName = QStringLiteral("rurodur");
    MyConfig::serialName = port;
    MyConfig::serialBaudrate = 115200;
    MyConfig::serialParity = QStringLiteral("None");
    MyConfig::serialStopbits = QStringLiteral("1");
    MyConfig::isRepeat = true;
    MyConfig::period = 200;
}

// The shown top-level window of that object name, if any.
inline QWidget *shownWindow(const char *objectName)
{
    const QList<QWidget *> tops = QApplication::topLevelWidgets();
    for (QWidget *top : tops) {
        if (top->objectName() == QLatin1String(objectName) && top->isVisible())
            return top;
    }
    return nullptr;
}

} // namespace shots

#endif // SHOTSUPPORT_H
