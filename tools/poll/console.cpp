#include "console.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>
#else
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

bool standardErrorIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

bool standardOutputIsErrorTerminal()
{
#ifdef Q_OS_WIN
    // A process has one console: both on it is both on the same screen.
    return _isatty(_fileno(stdout)) != 0 && _isatty(_fileno(stderr)) != 0;
#else
    struct stat out = {};
    struct stat err = {};
    return isatty(STDOUT_FILENO) && isatty(STDERR_FILENO) && fstat(STDOUT_FILENO, &out) == 0
            && fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
#endif
}

int standardOutputDescriptor()
{
#ifdef Q_OS_WIN
    const int fd = _fileno(stdout);
    _setmode(fd, _O_BINARY);
    return fd;
#else
    return STDOUT_FILENO;
#endif
}

bool isSameFile(const QString &a, const QString &b)
{
    const QString first = QFileInfo(a).canonicalFilePath();
    if (first.isEmpty())
        return false;
    if (first == QFileInfo(b).canonicalFilePath())
        return true;
#ifdef Q_OS_WIN
    return false;
#else
    struct stat one = {};
    struct stat other = {};
    return ::stat(QFile::encodeName(a).constData(), &one) == 0
            && ::stat(QFile::encodeName(b).constData(), &other) == 0 && one.st_dev == other.st_dev
            && one.st_ino == other.st_ino;
#endif
}

namespace {
QPointer<StopRequests> instance;
}

#ifdef Q_OS_WIN

namespace {
BOOL WINAPI consoleHandler(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT)
        return FALSE;
    // Runs on a thread of its own: the signal is queued to the object's thread.
    if (instance)
        QMetaObject::invokeMethod(instance.data(), "stopRequested", Qt::QueuedConnection);
    return TRUE;
}
} // namespace

StopRequests::StopRequests(QObject *parent)
    : QObject(parent)
{
    instance = this;
    SetConsoleCtrlHandler(consoleHandler, TRUE);
}

StopRequests::~StopRequests()
{
    SetConsoleCtrlHandler(consoleHandler, FALSE);
}

#else

namespace {
int signalPipe[2] = { -1, -1 };

void signalHandler(int)
{
    // Only async-signal-safe calls here: one byte to the event loop.
    const char byte = 1;
    const ssize_t written = ::write(signalPipe[1], &byte, 1);
    (void)written;
}
} // namespace

StopRequests::StopRequests(QObject *parent)
    : QObject(parent)
{
    instance = this;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this]() {
        char byte = 0;
        const ssize_t got = ::read(signalPipe[0], &byte, 1);
        (void)got;
        emit stopRequested();
    });
    struct sigaction action = {};
    action.sa_handler = signalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // The terminal closed (an ssh session ended): stop as on Ctrl-C, lines complete.
    sigaction(SIGHUP, &action, nullptr);
    // A closed standard output (a pipe whose reader left) is a write error, not a silent death.
    signal(SIGPIPE, SIG_IGN);
}

StopRequests::~StopRequests()
{
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
}

#endif
