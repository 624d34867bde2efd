#ifndef BENCH_WINDOWCYCLE_H
#define BENCH_WINDOWCYCLE_H

// The main window's own read cycle, driven through its widgets as a user drives it: what the
// benchmarks that measure the window share.

#include "mainwindow.h"
#include "modbussession.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

namespace bench {

// The status message of every normal reply: the window's replies are counted by it.
inline const QString normalReplyText = QStringLiteral("通讯：数据回复，正常");

// Types a field's text and confirms it, so the field's handler runs.
inline void finishField(MainWindow &window, const char *name, const QString &text)
{
    auto *edit = window.findChild<QLineEdit *>(QLatin1String(name));
    edit->setText(text);
    emit edit->editingFinished();
}

// Registers 0 .. registers - 1, period 0, repeat ticked, the link opened (a TCP link within 3 s);
// false when the link did not open.
inline bool prepareCycle(MainWindow &window, int registers)
{
    finishField(window, "lineEdit_regsAddrRead", QStringLiteral("0"));
    finishField(window, "lineEdit_regsLenRead", QString::number(registers));
    finishField(window, "lineEdit_period", QStringLiteral("0"));
    window.findChild<QCheckBox *>(QStringLiteral("checkBox_repeat"))->setChecked(true);
    window.findChild<QPushButton *>(QStringLiteral("pushButton_connect"))->setChecked(true);
    const auto *session = window.findChild<ModbusSession *>(QStringLiteral("modbusSession"));
    QElapsedTimer waited;
    waited.start();
    while (!session->isConnected() && waited.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return session->isConnected();
}

// Replies per second of the prepared cycle over `ms`, the event loop blocking as a program's does.
inline double cycleRate(MainWindow &window, int ms)
{
    auto *read = window.findChild<QPushButton *>(QStringLiteral("pushButton_read"));
    int replies = 0;
    const auto counter = QObject::connect(window.statusBar(), &QStatusBar::messageChanged,
                                          [&](const QString &text) { replies += text == normalReplyText; });
    QElapsedTimer timer;
    timer.start();
    read->setChecked(true);
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    read->setChecked(false);
    const double rate = replies * 1000.0 / timer.elapsed();
    QObject::disconnect(counter);
    return rate;
}

} // namespace bench

#endif // BENCH_WINDOWCYCLE_H
