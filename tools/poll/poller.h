#ifndef POLLER_H
#define POLLER_H

#include "csvrecorder.h"
#include "linestatistics.h"
#include "modbussession.h"
#include "polloptions.h"
#include "protocoltable.h"
#include "readplan.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

class FrameCapture;

// rurodur-poll's run: the sheet's rules, the session reading one window of registers, the
// CSV recorder, the line statistics, the progress line and the summary.
class Poller : public QObject
{
    Q_OBJECT
public:
    explicit Poller(const PollOptions &options, QObject *parent = nullptr);
    ~Poller() override;

    // Reads the sheet, opens the port and the CSV. False with a one-line reason and the exit
    // status to end with (PollStatus).
    bool prepare(QString *reason, int *exitStatus);
    void start();
    // Ends the run now: the CSV keeps every line written, the summary goes to standard error.
    // The status is PollStatus::read, or nothingRead when no read was answered normally.
    void stop();

signals:
    void finished(int exitStatus);

private:
    void pollOnce();
    // The --seconds deadline: a chain of timers, each within a QTimer's int milliseconds.
    void armDeadline();
    void onReply(const ReplyOutcome &outcome);
    void finish(int exitStatus, const QString &reason = QString());
    void showProgress();
    QString summary() const;
    bool connectTcp(QString *reason);
    static constexpr int connectTimeoutMs = 5000;

    PollOptions m_options;
    LineSettings m_line; // the link the options name
    ModbusSession m_session;
    ProtocolTable m_table;
    FrameCapture *m_capture = nullptr;
    LineStatistics m_statistics;
    CsvRecorder m_recorder;
    QFile m_standardOutput;
    ReadPlan m_plan;
    QTimer m_progress;
    QTimer m_deadline;
    QDeadlineTimer m_end;
    qint64 m_polls = 0;
    bool m_running = false;
    bool m_progressShown = false;
};

#endif // POLLER_H
