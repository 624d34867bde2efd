// sensor-sim: a simulated ultrasonic distance sensor, served by libmodbus as a Modbus RTU
// server on a serial device (typically one end of a socat pty pair) or as a Modbus TCP server.

#include "options.h"
#include "server.h"

#include <cstdio>

using namespace sensorsim;

namespace {

// 0 after a stop signal, 1 when the device failed (or the system did), 2 for bad options
// and outputs that cannot be written.
int exitStatus(Server::Result result)
{
    switch (result) {
    case Server::Result::Ready:
    case Server::Result::Stopped:
        return 0;
    case Server::Result::DeviceFailed:
    case Server::Result::SystemFailed:
        return 1;
    case Server::Result::OutputFailed:
        return 2;
    }
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    std::string error;
    switch (parseOptions(argc, argv, &options, &error)) {
    case ParseResult::Help:
        std::fputs(usageText().c_str(), stdout);
        return 0;
    case ParseResult::Error:
        std::fprintf(stderr, "sensor-sim: %s\nTry 'sensor-sim --help'.\n", error.c_str());
        return 2;
    case ParseResult::Run:
        break;
    }

    Server server(options);
    Server::Result result = server.open();
    if (result == Server::Result::Ready)
        result = server.run();
    if (result != Server::Result::Stopped)
        std::fprintf(stderr, "sensor-sim: %s\n", server.errorString().c_str());
    return exitStatus(result);
}
