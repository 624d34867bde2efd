#include "polloptions.h"

#include "lineoptions.h"
#include "mytool.h"
#include "readplan.h"

#include <QCommandLineParser>

namespace {

// The window's rule for numbers (MyTool: base 16 with "0x", else base 10); the whole text must
// convert and lie in min..max.
bool parseInteger(const QString &text, qint64 minimum, qint64 maximum, qint64 *value)
{
    qint64 v = 0;
    if (!MyTool::textToInteger(text, &v) || v < minimum || v > maximum)
        return false;
    *value = v;
    return true;
}

struct NumberOption
{
    const char *name;
    qint64 minimum;
    qint64 maximum;
};

// "none, even, odd, space or mark": the options' texts as the command line takes them.
QString optionList(const QVector<LineOptions::Option> &options)
{
    QStringList texts;
    for (const LineOptions::Option &option : options)
        texts << option.text.toLower();
    const QString last = texts.takeLast();
    return texts.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

} // namespace

bool parseTcpAddress(const QString &text, QString *host, int *port)
{
    QString rest = text.trimmed();
    QString name;
    QString portText;
    if (rest.startsWith(QLatin1Char('['))) {
        const int close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        name = rest.mid(1, close - 1);
        rest = rest.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return false;
        portText = rest.mid(1);
        if (rest == QLatin1String(":"))
            return false;
    } else if (rest.count(QLatin1Char(':')) == 1) {
        name = rest.section(QLatin1Char(':'), 0, 0);
        portText = rest.section(QLatin1Char(':'), 1);
        if (portText.isEmpty())
            return false;
    } else {
        name = rest;
    }
    qint64 value = 502;
    if (name.isEmpty() || (!portText.isEmpty() && !parseInteger(portText, 1, 65535, &value)))
        return false;
    *host = name;
    *port = int(value);
    return true;
}

PollCommand parsePollArguments(const QStringList &arguments, PollOptions *options, QString *error)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QStringList valued = { "port", "tcp", "baud", "parity", "stop", "device", "workbook", "sheet",
                                 "start", "count", "period", "polls", "seconds", "csv" };
    for (const QString &name : valued)
        parser.addOption(QCommandLineOption(name, QString(), QStringLiteral("value")));
    parser.addOption(QCommandLineOption(QStringList{ QStringLiteral("h"), QStringLiteral("help") }));

    if (!parser.parse(QStringList{ QStringLiteral("rurodur-poll") } + arguments)) {
        *error = parser.errorText();
        return PollCommand::BadArguments;
    }
    if (parser.isSet(QStringLiteral("help")))
        return PollCommand::Help;
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return PollCommand::BadArguments;
    }
    // The TCP link takes the place of the serial port and its line options.
    const bool tcp = parser.isSet(QStringLiteral("tcp"));
    if (tcp) {
        for (const char *serial : { "port", "baud", "parity", "stop" }) {
            if (parser.isSet(QLatin1String(serial))) {
                *error = QStringLiteral("--%1 does not go with --tcp").arg(QLatin1String(serial));
                return PollCommand::BadArguments;
            }
        }
    }
    for (const char *required : { tcp ? "tcp" : "port", "device", "workbook", "sheet" }) {
        if (!parser.isSet(QLatin1String(required)) || parser.value(QLatin1String(required)).isEmpty()) {
            *error = QStringLiteral("--%1 is required").arg(QLatin1String(required));
            return PollCommand::BadArguments;
        }
    }
    if (parser.isSet(QStringLiteral("polls")) && parser.isSet(QStringLiteral("seconds"))) {
        *error = QStringLiteral("give --polls or --seconds, not both");
        return PollCommand::BadArguments;
    }
    // Standard output is the CSV's place without --csv; an empty name is a mistake, not that.
    if (parser.isSet(QStringLiteral("csv")) && parser.value(QStringLiteral("csv")).isEmpty()) {
        *error = QStringLiteral("--csv needs a file name (without --csv the CSV goes to standard output)");
        return PollCommand::BadArguments;
    }

    PollOptions result;
    result.port = parser.value(QStringLiteral("port"));
    result.tcp = tcp;
    if (tcp && !parseTcpAddress(parser.value(QStringLiteral("tcp")), &result.tcpHost, &result.tcpPort)) {
        *error = QStringLiteral("--tcp: '%1' is not HOST, HOST:PORT or [IPV6]:PORT (port 1 to 65535)")
                         .arg(parser.value(QStringLiteral("tcp")));
        return PollCommand::BadArguments;
    }
    result.workbook = parser.value(QStringLiteral("workbook"));
    result.sheet = parser.value(QStringLiteral("sheet"));
    result.csv = parser.value(QStringLiteral("csv"));

    // The serial dialog's options, any letter case; "Idle no used" is no option.
    if (parser.isSet(QStringLiteral("parity"))) {
        const QString text = parser.value(QStringLiteral("parity"));
        result.parity = parityValueOf(text, Qt::CaseInsensitive);
        if (parityTextOf(result.parity).isEmpty()) {
            *error = QStringLiteral("--parity: '%1' is not %2")
                             .arg(text, optionList(LineOptions::parities()));
            return PollCommand::BadArguments;
        }
    }
    if (parser.isSet(QStringLiteral("stop"))) {
        const QString text = parser.value(QStringLiteral("stop"));
        result.stopBits = stopBitsValueOf(text.trimmed());
        if (stopBitsTextOf(result.stopBits).isEmpty()) {
            *error = QStringLiteral("--stop: '%1' is not %2")
                             .arg(text, optionList(LineOptions::stopBits()));
            return PollCommand::BadArguments;
        }
    }

    const NumberOption numbers[] = {
        { "baud", 1, 4000000 },
        { "device", tcp ? 0 : 1, ReadPlan::maxServerFor(tcp ? LinkType::Tcp : LinkType::Serial) },
        { "start", 0, ReadPlan::addressSpace - 1 },
        { "count", 1, ReadPlan::addressSpace },
        { "period", 0, 86400000 },
        { "polls", 1, Q_INT64_C(1) << 40 },
        { "seconds", 1, PollOptions::maxSeconds },
    };
    for (const NumberOption &number : numbers) {
        const QString name = QLatin1String(number.name);
        if (!parser.isSet(name))
            continue;
        qint64 value = 0;
        if (!parseInteger(parser.value(name), number.minimum, number.maximum, &value)) {
            *error = QStringLiteral("--%1: '%2' is not a number from %3 to %4")
                             .arg(name, parser.value(name))
                             .arg(number.minimum)
                             .arg(number.maximum);
            return PollCommand::BadArguments;
        }
        if (name == QLatin1String("baud"))
            result.baudRate = int(value);
        else if (name == QLatin1String("device"))
            result.device = int(value);
        else if (name == QLatin1String("start"))
            result.start = int(value);
        else if (name == QLatin1String("count"))
            result.count = int(value);
        else if (name == QLatin1String("period"))
            result.periodMs = int(value);
        else if (name == QLatin1String("polls"))
            result.polls = value;
        else
            result.seconds = value;
    }
    *options = result;
    return PollCommand::Run;
}

QString pollUsage()
{
    return QStringLiteral(
            "usage: rurodur-poll --port PORT [--baud 115200] [--parity none|even|odd|space|mark]\n"
            "                    [--stop 1|1.5|2] | --tcp HOST[:PORT]\n"
            "                    --device N --workbook FILE.xlsx --sheet NAME [--start A] [--count C]\n"
            "                    [--period MS] [--polls N | --seconds S] [--csv FILE]\n"
            "       rurodur-poll --help\n");
}

QString pollHelp()
{
    return pollUsage() + QStringLiteral(
            "\n"
            "Polls one Modbus RTU device without a window and writes every successful read as a\n"
            "CSV line: the local time with milliseconds, then each register's text as the sheet's\n"
            "decoding rules give it (the same file as the window's recording).\n"
            "\n"
            "  --port PORT        serial port (COM3, /dev/ttyUSB0, ...)\n"
            "  --baud N           baud rate, default 115200\n"
            "  --parity P         none, even, odd, space or mark; default none (8 data bits always)\n"
            "  --stop N           stop bits, 1, 1.5 or 2; default 1\n"
            "  --tcp HOST[:PORT]  Modbus TCP to HOST instead of a serial port; PORT default 502,\n"
            "                     IPv6 addresses in brackets ([::1]:1502)\n"
            "  --device N         server address, 1..247; over TCP the unit id, 0..255\n"
            "  --workbook FILE    the protocol workbook (.xlsx)\n"
            "  --sheet NAME       the sheet to decode with; its name selects the register area as\n"
            "                     in the window (coil/线圈, disc/离散, hold/保持, input/输入)\n"
            "  --start A          first register, default 0\n"
            "  --count C          registers per read: at most 125 for holding and input registers\n"
            "                     (functions 3 and 4), 2000 for coils and discrete inputs (1 and 2);\n"
            "                     default the sheet's rows from A, at most that limit\n"
            "  --period MS        time between reads, default 1000; 0 reads again as soon as a\n"
            "                     reply is in\n"
            "  --polls N          stop after N reads\n"
            "  --seconds S        stop after S seconds, at most 31536000 (a year)\n"
            "  --csv FILE         write the CSV to FILE (replaced; never the workbook) instead of\n"
            "                     standard output\n"
            "  -h, --help         this text\n"
            "\n"
            "Numbers are decimal, or hexadecimal with 0x, as in the window's fields.\n"
            "\n"
            "Without --polls or --seconds it runs until Ctrl-C, SIGTERM or SIGHUP. Each line is\n"
            "written out as its reply comes in, also to a pipe; it stops with every line written\n"
            "complete and prints a summary of the line statistics on standard error. When standard\n"
            "error is a terminal that does not also show the CSV, it shows a progress line too.\n"
            "\n"
            "The response timeout is 2000 ms with 1 retry, as in the window. The CSV is UTF-8 with\n"
            "a byte-order mark (on standard output too) and CR LF line ends; its header names each\n"
            "column by address and, where the sheet has a column titled 名称, by the register's name.\n"
            "\n"
            "Exit status:\n"
            "  0  the run read: at least one normal reply (timeouts and exception replies as well)\n"
            "  1  the workbook, the sheet, the port, the host or the CSV cannot be used, a CSV line\n"
            "     could not be written, or the port or the connection was lost\n"
            "  2  bad arguments\n"
            "  3  nothing was read: the run ended without one normal reply (no device at that\n"
            "     address, other line settings)\n");
}
