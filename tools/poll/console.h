#ifndef CONSOLE_H
#define CONSOLE_H

#include <QObject>
#include <QString>

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

// True when both names lead to one existing file: after symbolic links, and on POSIX systems
// also as hard links of one another.
bool isSameFile(const QString &a, const QString &b);

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
