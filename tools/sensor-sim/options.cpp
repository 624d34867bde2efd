#include "options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <getopt.h>

namespace sensorsim {

namespace {

std::string trimmed(const std::string &text)
{
    const char *space = " \t\r\n";
    const auto first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return std::string();
    const auto last = text.find_last_not_of(space);
    return text.substr(first, last - first + 1);
}

// Decimal (with an optional '-') or hexadecimal with a 0x prefix; the whole text must convert.
bool parseInteger(const std::string &text, long long minimum, long long maximum, long long *value)
{
    const std::string t = trimmed(text);
    if (t.empty())
        return false;
    bool negative = false;
    std::string digits = t;
    if (digits[0] == '-') {
        negative = true;
        digits = digits.substr(1);
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits = digits.substr(2);
    }
    if (digits.empty() || digits.size() > 12)
        return false;
    for (char c : digits) {
        const bool ok = base == 16 ? std::isxdigit(static_cast<unsigned char>(c))
                                   : std::isdigit(static_cast<unsigned char>(c));
        if (!ok)
            return false;
    }
    long long result = std::strtoll(digits.c_str(), nullptr, base);
    if (negative)
        result = -result;
    if (result < minimum || result > maximum)
        return false;
    *value = result;
    return true;
}

bool parseIntOption(const char *name, const char *text, long long minimum, long long maximum,
                    int *out, std::string *error)
{
    long long value = 0;
    if (!parseInteger(text, minimum, maximum, &value)) {
        *error = std::string("--") + name + ": '" + text + "' is not a number from "
                 + std::to_string(minimum) + " to " + std::to_string(maximum);
        return false;
    }
    *out = static_cast<int>(value);
    return true;
}

// libmodbus maps only the termios rates; any other rate would silently become 9600.
bool isSupportedBaud(int baud)
{
    static const int rates[] = {110,    300,    600,     1200,    2400,    4800,    9600,
                                19200,  38400,  57600,   115200,  230400,  460800,  500000,
                                576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000,
                                3000000, 3500000, 4000000};
    for (int rate : rates) {
        if (rate == baud)
            return true;
    }
    return false;
}

bool parseArea(const std::string &text, Area *area)
{
    if (text == "coil")
        *area = Area::Coil;
    else if (text == "di")
        *area = Area::DiscreteInput;
    else if (text == "ir")
        *area = Area::InputRegister;
    else if (text == "hr")
        *area = Area::HoldingRegister;
    else
        return false;
    return true;
}

bool parseException(const std::string &text, InjectedException *out, std::string *error)
{
    const auto colon = text.find(':');
    long long address = 0;
    long long code = 0;
    if (colon == std::string::npos || !parseInteger(text.substr(0, colon), 0, 65535, &address)
        || !parseInteger(text.substr(colon + 1), 1, 255, &code)) {
        *error = "--exception: '" + text + "' is not ADDR:CODE (ADDR 0..65535, CODE 1..255)";
        return false;
    }
    out->address = static_cast<int>(address);
    out->code = static_cast<int>(code);
    return true;
}

} // namespace

bool parseAssignment(const std::string &text, Assignment *out, std::string *error)
{
    const auto colon = text.find(':');
    const auto equals = text.find('=');
    if (colon == std::string::npos || equals == std::string::npos || equals < colon) {
        *error = "'" + text + "' is not AREA:ADDR=VALUE";
        return false;
    }
    Assignment result;
    if (!parseArea(trimmed(text.substr(0, colon)), &result.area)) {
        *error = "'" + text + "': area must be coil, di, ir or hr";
        return false;
    }
    long long address = 0;
    if (!parseInteger(text.substr(colon + 1, equals - colon - 1), 0, kImageSize - 1, &address)) {
        *error = "'" + text + "': address must be 0.." + std::to_string(kImageSize - 1);
        return false;
    }
    result.address = static_cast<int>(address);

    const bool isBit = result.area == Area::Coil || result.area == Area::DiscreteInput;
    std::string rest = text.substr(equals + 1);
    size_t start = 0;
    while (true) {
        const auto comma = rest.find(',', start);
        const std::string item = rest.substr(start, comma == std::string::npos ? std::string::npos
                                                                                 : comma - start);
        long long value = 0;
        const bool ok = isBit ? parseInteger(item, 0, 1, &value)
                              : parseInteger(item, -32768, 65535, &value);
        if (!ok) {
            *error = "'" + text + "': value '" + trimmed(item) + "' must be "
                     + (isBit ? "0 or 1" : "-32768..65535 (decimal or 0x hex)");
            return false;
        }
        result.values.push_back(static_cast<uint16_t>(value & 0xFFFF));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (result.address + static_cast<int>(result.values.size()) > kImageSize) {
        *error = "'" + text + "': the values run past address " + std::to_string(kImageSize - 1);
        return false;
    }
    *out = result;
    return true;
}

bool loadImageFile(const std::string &path, std::vector<Assignment> *out, std::string *error)
{
    std::ifstream file(path);
    if (!file) {
        *error = "--image: cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    int lineNumber = 0;
    while (std::getline(file, line)) {
        ++lineNumber;
        const auto hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        line = trimmed(line);
        if (line.empty())
            continue;
        Assignment assignment;
        std::string why;
        if (!parseAssignment(line, &assignment, &why)) {
            *error = "--image: " + path + ":" + std::to_string(lineNumber) + ": " + why;
            return false;
        }
        out->push_back(assignment);
    }
    if (file.bad()) {
        *error = "--image: error reading " + path;
        return false;
    }
    return true;
}

std::string usageText()
{
    return "Usage: sensor-sim [options] DEVICE\n"
           "       sensor-sim [options] --tcp PORT\n"
           "Simulated ultrasonic distance sensor: a Modbus RTU server on the serial device DEVICE,\n"
           "or a Modbus TCP server on PORT.\n"
           "\n"
           "Line:\n"
           "  -b, --baud N              baud rate (default 115200; standard rates only)\n"
           "  -p, --parity N|E|O        parity (default N)\n"
           "  -d, --data-bits 7|8       data bits (default 8)\n"
           "  -s, --stop-bits 1|2       stop bits (default 1)\n"
           "  -a, --address N           server address 1..247 (default 1); requests for other\n"
           "                            addresses get no answer, address 0 (broadcast) writes\n"
           "                            are executed without a reply\n"
           "      --device PATH         the serial device, instead of the DEVICE argument\n"
           "      --tcp PORT            serve Modbus TCP on PORT (0: any free port, named in\n"
           "                            the ready file) instead of a serial device; clients\n"
           "                            are served one after another; unit identifiers 0 and\n"
           "                            255 are answered as well as --address\n"
           "      --host ADDR           the address to listen on with --tcp (default\n"
           "                            127.0.0.1; ::1 for IPv6)\n"
           "\n"
           "Register image (coil, di, ir, hr: 1024 addresses each, 0..1023):\n"
           "      --static              freeze the sensor: values change only by writes\n"
           "      --set AREA:ADDR=V[,V...]  set values at ADDR, ADDR+1, ... (repeatable);\n"
           "                            AREA is coil, di, ir or hr; V decimal or 0x hex,\n"
           "                            registers -32768..65535, coils and inputs 0 or 1\n"
           "      --image FILE          read --set assignments from FILE, one per line\n"
           "                            ('#' starts a comment)\n"
           "\n"
           "Faults and timing:\n"
           "      --delay-ms N          wait N ms before each reply\n"
           "      --drop-every N        ignore every Nth request (not executed, no reply)\n"
           "      --exception ADDR:CODE answer any request that covers ADDR with exception\n"
           "                            CODE (1..255), without executing it (repeatable)\n"
           "      --corrupt-crc-every N send every Nth reply with a broken CRC (the request\n"
           "                            is still executed)\n"
           "      --emulate-line        hold each reply back by the time request and reply\n"
           "                            frames take on a real line at the configured settings\n"
           "\n"
           "Output:\n"
           "      --log FILE            one line per request served ('-' for standard output):\n"
           "                            seq=N slave=A fc=F [addr=X count=C] outcome=O [...]\n"
           "                            O is reply, exception, drop, corrupt or broadcast\n"
           "      --ready-file FILE     created (holding the process id) once DEVICE is open;\n"
           "                            with --tcp a second line holds the port listened on\n"
           "  -v, --verbose             report each request on standard error\n"
           "  -h, --help                show this text\n"
           "\n"
           "SIGTERM or SIGINT stops the server: the device is closed, the log flushed, exit 0.\n"
           "Exit status 2 means bad options, 1 that the device could not be opened or vanished.\n";
}

ParseResult parseOptions(int argc, char **argv, Options *options, std::string *error)
{
    enum {
        OptDevice = 256,
        OptStatic,
        OptSet,
        OptImage,
        OptDelay,
        OptDrop,
        OptException,
        OptCorrupt,
        OptEmulate,
        OptLog,
        OptReady,
        OptTcp,
        OptHost
    };
    static const option longOptions[] = {
        {"baud", required_argument, nullptr, 'b'},
        {"parity", required_argument, nullptr, 'p'},
        {"data-bits", required_argument, nullptr, 'd'},
        {"stop-bits", required_argument, nullptr, 's'},
        {"address", required_argument, nullptr, 'a'},
        {"device", required_argument, nullptr, OptDevice},
        {"static", no_argument, nullptr, OptStatic},
        {"set", required_argument, nullptr, OptSet},
        {"image", required_argument, nullptr, OptImage},
        {"delay-ms", required_argument, nullptr, OptDelay},
        {"drop-every", required_argument, nullptr, OptDrop},
        {"exception", required_argument, nullptr, OptException},
        {"corrupt-crc-every", required_argument, nullptr, OptCorrupt},
        {"emulate-line", no_argument, nullptr, OptEmulate},
        {"log", required_argument, nullptr, OptLog},
        {"ready-file", required_argument, nullptr, OptReady},
        {"tcp", required_argument, nullptr, OptTcp},
        {"host", required_argument, nullptr, OptHost},
        {"verbose", no_argument, nullptr, 'v'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };

    Options result;
    opterr = 0;
    optind = 1;
    int c = 0;
    while ((c = getopt_long(argc, argv, ":b:p:d:s:a:vh", longOptions, nullptr)) != -1) {
        switch (c) {
        case 'b':
            if (!parseIntOption("baud", optarg, 1, 4000000, &result.baud, error))
                return ParseResult::Error;
            if (!isSupportedBaud(result.baud)) {
                *error = std::string("--baud: ") + optarg + " is not a standard baud rate";
                return ParseResult::Error;
            }
            break;
        case 'p': {
            const std::string p = optarg;
            if (p == "N" || p == "n" || p == "none")
                result.parity = 'N';
            else if (p == "E" || p == "e" || p == "even")
                result.parity = 'E';
            else if (p == "O" || p == "o" || p == "odd")
                result.parity = 'O';
            else {
                *error = "--parity: '" + p + "' is not N, E or O";
                return ParseResult::Error;
            }
            break;
        }
        case 'd':
            if (!parseIntOption("data-bits", optarg, 7, 8, &result.dataBits, error))
                return ParseResult::Error;
            break;
        case 's':
            if (!parseIntOption("stop-bits", optarg, 1, 2, &result.stopBits, error))
                return ParseResult::Error;
            break;
        case 'a':
            if (!parseIntOption("address", optarg, 1, 247, &result.serverAddress, error))
                return ParseResult::Error;
            break;
        case OptDevice:
            result.device = optarg;
            break;
        case OptStatic:
            result.frozen = true;
            break;
        case OptSet: {
            Assignment assignment;
            std::string why;
            if (!parseAssignment(optarg, &assignment, &why)) {
                *error = "--set: " + why;
                return ParseResult::Error;
            }
            result.assignments.push_back(assignment);
            break;
        }
        case OptImage:
            if (!loadImageFile(optarg, &result.assignments, error))
                return ParseResult::Error;
            break;
        case OptDelay:
            if (!parseIntOption("delay-ms", optarg, 0, 600000, &result.delayMs, error))
                return ParseResult::Error;
            break;
        case OptDrop:
            if (!parseIntOption("drop-every", optarg, 0, 1000000, &result.dropEvery, error))
                return ParseResult::Error;
            break;
        case OptException: {
            InjectedException injected;
            if (!parseException(optarg, &injected, error))
                return ParseResult::Error;
            result.exceptions.push_back(injected);
            break;
        }
        case OptCorrupt:
            if (!parseIntOption("corrupt-crc-every", optarg, 0, 1000000, &result.corruptCrcEvery,
                                error))
                return ParseResult::Error;
            break;
        case OptEmulate:
            result.emulateLine = true;
            break;
        case OptLog:
            result.logPath = optarg;
            break;
        case OptReady:
            result.readyFile = optarg;
            break;
        case OptTcp:
            if (!parseIntOption("tcp", optarg, 0, 65535, &result.tcpPort, error))
                return ParseResult::Error;
            break;
        case OptHost:
            result.tcpHost = trimmed(optarg);
            if (result.tcpHost.empty()) {
                *error = "--host: no address given";
                return ParseResult::Error;
            }
            break;
        case 'v':
            result.verbose = true;
            break;
        case 'h':
            return ParseResult::Help;
        case ':':
            *error = std::string("option ") + argv[optind - 1] + " needs a value";
            return ParseResult::Error;
        default:
            *error = std::string("unknown option ") + argv[optind - 1];
            return ParseResult::Error;
        }
    }

    if (optind < argc) {
        if (!result.device.empty() || argc - optind > 1) {
            *error = std::string("unexpected argument ") + argv[argc - 1];
            return ParseResult::Error;
        }
        result.device = argv[optind];
    }
    if (result.tcpPort >= 0) {
        if (!result.device.empty()) {
            *error = "--tcp: a serial device (" + result.device + ") is given as well";
            return ParseResult::Error;
        }
        // A TCP reply has no CRC to break.
        if (result.corruptCrcEvery > 0) {
            *error = "--corrupt-crc-every: Modbus TCP frames carry no CRC";
            return ParseResult::Error;
        }
    } else if (result.device.empty()) {
        *error = "no serial device given";
        return ParseResult::Error;
    }
    *options = result;
    return ParseResult::Run;
}

} // namespace sensorsim
