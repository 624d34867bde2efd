#ifndef STOPSIGNALS_H
#define STOPSIGNALS_H

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP as a request to end the program, delivered by the event loop:
// the handler only writes to a pipe whose reading end a socket notifier watches, and
// stopRequested() is emitted from there, so the program can close as its window would. A
// second signal, while the first is being handled, ends the process at once with that
// signal's default action. A signal ignored when the object is made (nohup) stays ignored.
// One object at a time; its destructor restores the previous handlers. Under Windows it
// does nothing.
class StopSignals : public QObject
{
    Q_OBJECT
public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

signals:
    void stopRequested(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};

#endif // STOPSIGNALS_H
