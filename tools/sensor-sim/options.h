#ifndef SENSORSIM_OPTIONS_H
#define SENSORSIM_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

namespace sensorsim {

// Every area holds this many addresses (0..1023); requests beyond it get exception 2.
constexpr int kImageSize = 1024;

enum class Area { Coil, DiscreteInput, InputRegister, HoldingRegister };

// One "AREA:ADDR=VALUE[,VALUE...]" assignment; the values go to consecutive addresses.
struct Assignment
{
    Area area = Area::HoldingRegister;
    int address = 0;
    std::vector<uint16_t> values;
};

struct InjectedException
{
    int address = 0;
    int code = 0;
};

struct Options
{
    std::string device;
    // Served as Modbus TCP instead of on a device when tcpPort is 0 or more; 0 lets the
    // system choose the port, which the ready file then names.
    int tcpPort = -1;
    std::string tcpHost = "127.0.0.1";
    int baud = 115200;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    int serverAddress = 1;

    bool frozen = false;
    std::vector<Assignment> assignments; // in command-line order, image files expanded in place

    int delayMs = 0;
    int dropEvery = 0;
    int corruptCrcEvery = 0;
    std::vector<InjectedException> exceptions;
    bool emulateLine = false;

    std::string logPath;
    std::string readyFile;
    bool verbose = false;
};

enum class ParseResult { Run, Help, Error };

ParseResult parseOptions(int argc, char **argv, Options *options, std::string *error);
std::string usageText();

// Parses one assignment; "-" values are allowed for registers (two's complement).
bool parseAssignment(const std::string &text, Assignment *out, std::string *error);
// Reads assignments from a file, one per line; blank lines and '#' comments are skipped.
bool loadImageFile(const std::string &path, std::vector<Assignment> *out, std::string *error);

} // namespace sensorsim

#endif // SENSORSIM_OPTIONS_H
