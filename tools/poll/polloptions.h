#ifndef POLLOPTIONS_H
#define POLLOPTIONS_H

#include <QString>
#include <QStringList>

// The command line of rurodur-poll, checked.
struct PollOptions
{
    QString port;
    // --tcp HOST[:PORT]: Modbus TCP instead of the serial port (IPv6 addresses without brackets).
    bool tcp = false;
    QString tcpHost;
    int tcpPort = 502;
    int baudRate = 115200;
    int parity = 0;   // a QSerialPort::Parity value (LineOptions::parities())
    int stopBits = 1; // a QSerialPort::StopBits value (LineOptions::stopBits())
    int device = 0;
    QString workbook;
    QString sheet;
    int start = 0;
    int count = -1;     // -1: the sheet's rows from start, at most the function's limit
    int periodMs = 1000;
    qint64 polls = -1;  // -1: no limit
    qint64 seconds = -1; // -1: no limit; at most maxSeconds
    QString csv;        // empty: standard output

    static constexpr qint64 maxSeconds = 31536000; // a year
};

// The exit statuses, as --help and the README give them.
namespace PollStatus {
constexpr int read = 0;        // the run ended and read at least once
constexpr int cannotUse = 1;   // the port, the workbook, the sheet or the CSV, or the port was lost
constexpr int badArguments = 2;
constexpr int nothingRead = 3; // the run ended without one normal reply
} // namespace PollStatus

enum class PollCommand {
    Run,
    Help,
    BadArguments, // the reason is in `error`; print it with the usage
};

// Reads the arguments after the program name.
PollCommand parsePollArguments(const QStringList &arguments, PollOptions *options, QString *error);

// "HOST", "HOST:PORT", "[IPV6]" or "[IPV6]:PORT" (an address with several colons and no
// brackets is all host); the port 1..65535, 502 when not given. False for anything else.
bool parseTcpAddress(const QString &text, QString *host, int *port);

// The synopsis, printed after a bad argument.
QString pollUsage();
// --help: every option, the defaults and the exit status.
QString pollHelp();

#endif // POLLOPTIONS_H
