// rurodur-poll: polls one Modbus RTU device without a window and writes the decoded registers
// as CSV; the same session, decoding and recording as the window.
#include "console.h"
#include "poller.h"
#include "polloptions.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    // The client reports every dropped frame as a warning, and the workbook reader its
    // failures as debug lines; here the frames are counted in the summary and a failure is
    // one line of its own. QT_LOGGING_RULES still overrides this.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.modbus*=false\ndefault.debug=false"));

    PollOptions options;
    QString error;
    switch (parsePollArguments(application.arguments().mid(1), &options, &error)) {
    case PollCommand::Help:
        std::fputs(pollHelp().toLocal8Bit().constData(), stdout);
        return 0;
    case PollCommand::BadArguments:
        std::fprintf(stderr, "rurodur-poll: %s\n%s", error.toLocal8Bit().constData(),
                     pollUsage().toLocal8Bit().constData());
        return PollStatus::badArguments;
    case PollCommand::Run:
        break;
    }

    Poller poller(options);
    int status = PollStatus::read;
    if (!poller.prepare(&error, &status)) {
        std::fprintf(stderr, "rurodur-poll: %s\n", error.toLocal8Bit().constData());
        if (status == PollStatus::badArguments)
            std::fputs(pollUsage().toLocal8Bit().constData(), stderr);
        return status;
    }
    StopRequests stopRequests;
    QObject::connect(&stopRequests, &StopRequests::stopRequested, &poller, &Poller::stop);
    QObject::connect(&poller, &Poller::finished, &application, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    poller.start();
    return application.exec();
}
