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
    int parity = 0;   // a QSerialPort::Parity value: none 0, even 2, odd 3
    int stopBits = 1; // a QSerialPort::StopBits value: 1 or 2
    int device = 0;
    QString workbook;
    QString sheet;
    int start = 0;
    int count = -1;     // -1: the sheet's rows from start, at most 127
    int periodMs = 1000;
    qint64 polls = -1;  // -1: no limit
    int seconds = -1;   // -1: no limit
    QString csv;        // empty: standard output
};

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
