#ifndef CONSOLE_H
#define CONSOLE_H

#include <QObject>

// What rurodur-poll needs from the console, per platform: whether standard error is a
// terminal, standard output as a file descriptor, and a signal when the user asks the program
// to stop (Ctrl-C, SIGTERM, SIGHUP; on Windows Ctrl-C, Ctrl-Break and closing the console).
bool standardErrorIsTerminal();
// True when standard output is that same terminal: a progress line there would land between
// the CSV lines on screen.
bool standardOutputIsErrorTerminal();
// The descriptor of standard output, for writes that reach it at once (no stdio buffer); in
// binary mode on Windows, so CR LF stays CR LF.
int standardOutputDescriptor();

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
