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
#include "stopsignals.h"

#include <csignal>
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
#ifdef Q_OS_WIN
    const QString first = QFileInfo(a).canonicalFilePath();
    return !first.isEmpty() && first == QFileInfo(b).canonicalFilePath();
#else
    // stat() follows symbolic links; one device and inode is one file, under any of its names.
    struct stat one = {};
    struct stat other = {};
    return ::stat(QFile::encodeName(a).constData(), &one) == 0
            && ::stat(QFile::encodeName(b).constData(), &other) == 0 && one.st_dev == other.st_dev
            && one.st_ino == other.st_ino;
#endif
}

#ifdef Q_OS_WIN

namespace {
QPointer<StopRequests> instance;

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

StopRequests::StopRequests(QObject *parent)
    : QObject(parent)
{
    // SIGINT, SIGTERM and SIGHUP (the terminal closed, an ssh session ended) stop the run as the
    // window's program is stopped: lines complete, a second signal ends it at once, and a signal
    // ignored at start (nohup) stays ignored.
    auto *stopSignals = new StopSignals(this);
    connect(stopSignals, &StopSignals::stopRequested, this, &StopRequests::stopRequested);
    // A closed standard output (a pipe whose reader left) is a write error, not a silent death.
    ::signal(SIGPIPE, SIG_IGN);
}

StopRequests::~StopRequests() = default;

#endif
