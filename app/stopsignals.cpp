#include "stopsignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int handled[] = { SIGTERM, SIGINT, SIGHUP };
const int handledCount = int(sizeof handled / sizeof handled[0]);

int pipeEnds[2] = { -1, -1 };
struct sigaction previous[handledCount];
bool installed[handledCount] = {};
volatile sig_atomic_t received = 0;

// Only async-signal-safe calls: write(), signal() and raise().
extern "C" void onStopSignal(int signalNumber)
{
    if (received) {
        ::signal(signalNumber, SIG_DFL);
        ::raise(signalNumber);
        return;
    }
    received = signalNumber;
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a request; nothing is lost by dropping this byte.
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = savedErrno;
}

bool setFlags(int fd)
{
    return ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0
            && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
}

} // namespace

StopSignals::StopSignals(QObject *parent)
    : QObject(parent)
{
    // The ends are closed on exec: the tools the program starts do not inherit them.
    if (pipeEnds[0] >= 0 || ::pipe(pipeEnds) != 0)
        return;
    if (!setFlags(pipeEnds[0]) || !setFlags(pipeEnds[1])) {
        for (int &end : pipeEnds) {
            ::close(end);
            end = -1;
        }
        return;
    }
    received = 0;
    m_notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::readPipe);

    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < handledCount; ++i) {
        struct sigaction old = {};
        // A signal ignored at start (nohup, a background job) stays ignored.
        if (::sigaction(handled[i], nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
            continue;
        installed[i] = ::sigaction(handled[i], &action, &previous[i]) == 0;
    }
}

StopSignals::~StopSignals()
{
    // Another object's pipe and handlers are not this one's to undo.
    if (!m_notifier)
        return;
    for (int i = 0; i < handledCount; ++i) {
        if (installed[i])
            ::sigaction(handled[i], &previous[i], nullptr);
        installed[i] = false;
    }
    delete m_notifier;
    for (int &end : pipeEnds) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

void StopSignals::readPipe()
{
    unsigned char byte = 0;
    int signalNumber = 0;
    // Drained whole: one request, however many bytes.
    while (::read(pipeEnds[0], &byte, 1) == 1)
        signalNumber = byte;
    if (signalNumber)
        emit stopRequested(signalNumber);
}

#else

StopSignals::StopSignals(QObject *parent)
    : QObject(parent)
{
}

StopSignals::~StopSignals() = default;

void StopSignals::readPipe()
{
}

#endif
