#ifndef SENSORSIM_SERVER_H
#define SENSORSIM_SERVER_H

#include "frame.h"
#include "handles.h"
#include "options.h"
#include "sensormodel.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sensorsim {

// The Modbus server of the simulated sensor: builds the register image, opens the log, the
// device (RTU) or the listening socket (TCP) and the ready file, then frames requests, injects
// faults, logs and replies until a stop signal arrives or the line fails. Over TCP one client
// is served at a time; when it leaves, the next is accepted. Everything it opens is released by its members'
// destructors.
class Server
{
public:
    enum class Result {
        Ready,        // open() succeeded: run() may start
        Stopped,      // run() ended on SIGTERM, SIGINT or SIGHUP
        DeviceFailed, // the device could not be opened, or vanished while served
        OutputFailed, // the log or the ready file could not be written
        SystemFailed, // no signal handlers, no memory for the register image
    };

    explicit Server(const Options &options);

    Result open();
    Result run();
    // Why open() or run() failed, without the program name.
    const std::string &errorString() const { return m_error; }

private:
    using Clock = std::chrono::steady_clock;
    // The longest frame of each transport; buffers hold the longer of the two.
    static constexpr int kMaxRtuFrame = MODBUS_RTU_MAX_ADU_LENGTH;
    static constexpr int kMaxTcpFrame = MODBUS_TCP_MAX_ADU_LENGTH;
    static constexpr int kMaxFrame = kMaxTcpFrame > kMaxRtuFrame ? kMaxTcpFrame : kMaxRtuFrame;
    enum class ReadResult { Frame, Discard, Stop, LineGone };

    bool isTcp() const { return m_options.tcpPort >= 0; }
    // The transport's own part of open(); `serving` names what is served, for --verbose.
    Result openRtu(std::string *serving);
    Result openTcp(std::string *serving);
    Result runTcp();
    ReadResult acceptClient();
    ReadResult readTcpFrame(uint8_t *frame, int *length, Clock::time_point *received);
    void dropClient(const char *why);

    Result fail(Result result, const std::string &message);
    void buildImage();
    bool writeReadyFile();
    ReadResult readFrame(uint8_t *frame, int *length, Clock::time_point *received);
    void drainLine();
    bool sleepUntil(Clock::time_point deadline); // false when a stop signal came
    bool handle(const uint8_t *request, int length, Clock::time_point received);
    std::vector<uint8_t> executeRequest(const uint8_t *request, int length);
    bool sendFrame(const std::vector<uint8_t> &frame);
    void logRequest(const RequestInfo &info, const std::string &outcome, int code);

    const Options m_options;
    // Declared in the order they are acquired, so they are released in reverse.
    ModbusMapping m_map;
    Stream m_log;
    ModbusContext m_ctx;
    FileDescriptor m_listen; // TCP only
    std::optional<SensorModel> m_model;

    Clock::time_point m_start;
    int m_fd = -1; // the device or the client's socket, owned by m_ctx
    int m_port = 0; // the TCP port listened on
    int m_silenceMs = 20;
    unsigned long m_seq = 0;
    unsigned long m_replies = 0;
    std::string m_error;
};

} // namespace sensorsim

#endif // SENSORSIM_SERVER_H
