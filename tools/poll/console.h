#ifndef CONSOLE_H
#define CONSOLE_H

#include <QObject>

// What rurodur-poll needs from the console, per platform: whether standard error is a
// terminal, and a signal when the user asks the program to stop (Ctrl-C, SIGTERM; on Windows
// Ctrl-C, Ctrl-Break and closing the console).
bool standardErrorIsTerminal();

class StopRequests : public QObject
{
    Q_OBJECT
public:
    explicit StopRequests(QObject *parent = nullptr);
    ~StopRequests() override;

signals:
    // Delivered on the thread that made the object, from its event loop.
    void stopRequested();
};

#endif // CONSOLE_H
