// sensor-sim: a simulated ultrasonic distance sensor, served as a Modbus RTU server by
// libmodbus on a serial device (typically one end of a socat pty pair).

#include "frame.h"
#include "options.h"
#include "sensormodel.h"

#include <modbus.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace sensorsim;

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    const ssize_t ignored = write(g_signalPipe[1], &byte, 1);
    (void)ignored;
}

bool installSignalHandlers()
{
    if (pipe2(g_signalPipe, O_NONBLOCK | O_CLOEXEC) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        if (sigaction(sig, &action, nullptr) != 0)
            return false;
    }
    signal(SIGPIPE, SIG_IGN);
    return true;
}

using Clock = std::chrono::steady_clock;

class Server
{
public:
    Server(const Options &options, modbus_t *ctx, modbus_mapping_t *map, FILE *log)
        : m_options(options), m_ctx(ctx), m_map(map), m_log(log),
          m_model(map, options.serverAddress, options.baud), m_start(Clock::now())
    {
        m_fd = modbus_get_socket(ctx);
        // A frame ends after 3.5 characters of silence; ptys and USB adapters deliver in
        // bursts, so never cut a frame on less than 20 ms.
        const double gap = frameSeconds(0, options.baud, options.dataBits, options.parity,
                                        options.stopBits);
        m_silenceMs = std::max(20, static_cast<int>(gap * 1000.0) + 1);
    }

    // Returns the exit status: 0 after a stop signal, 1 when the line failed.
    int run();

private:
    static constexpr int kMaxFrame = MODBUS_RTU_MAX_ADU_LENGTH;
    enum class ReadResult { Frame, Discard, Stop, LineGone };
    ReadResult readFrame(uint8_t *frame, int *length, Clock::time_point *received);
    void drainLine();
    bool sleepUntil(Clock::time_point deadline); // false when a stop signal came
    bool handle(const uint8_t *request, int length, Clock::time_point received);
    std::vector<uint8_t> executeRequest(const uint8_t *request, int length);
    bool sendFrame(const std::vector<uint8_t> &frame);
    void logRequest(const RequestInfo &info, const std::string &outcome, int code);

    const Options &m_options;
    modbus_t *m_ctx;
    modbus_mapping_t *m_map;
    FILE *m_log;
    SensorModel m_model;
    Clock::time_point m_start;
    int m_fd = -1;
    int m_silenceMs = 20;
    unsigned long m_seq = 0;
    unsigned long m_replies = 0;

};

// Frames are cut by their length as the header tells it, and by the silence after them.
// libmodbus's own receive assumes another server shares the line and swallows the message
// after a request for a different address as that server's answer; on a line where this is
// the only server, that would lose the master's next request.
Server::ReadResult Server::readFrame(uint8_t *frame, int *length, Clock::time_point *received)
{
    int have = 0;
    while (true) {
        int target = requestLength(frame, have);
        if (target == kNeedMore)
            target = have < 2 ? 2 : (frame[1] == 23 ? 11 : 7);
        else if (target == kUnknownLength)
            target = kMaxFrame;
        if (target > kMaxFrame) {
            drainLine();
            return ReadResult::Discard;
        }
        if (have >= target)
            break;

        pollfd fds[2] = {{m_fd, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}};
        const int rc = poll(fds, 2, have == 0 ? -1 : m_silenceMs);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            return ReadResult::LineGone;
        }
        if (fds[1].revents)
            return ReadResult::Stop;
        if (rc == 0) {
            if (requestLength(frame, have) == kUnknownLength && have >= 4)
                break;
            if (m_options.verbose)
                std::fprintf(stderr, "sensor-sim: incomplete frame of %d bytes dropped\n", have);
            return ReadResult::Discard;
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
            const ssize_t n = read(m_fd, frame + have, static_cast<size_t>(target - have));
            if (n > 0) {
                if (have == 0)
                    *received = Clock::now();
                have += static_cast<int>(n);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                return ReadResult::LineGone;
            }
        }
    }
    *length = have;
    return ReadResult::Frame;
}

void Server::drainLine()
{
    uint8_t scrap[256];
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    while (Clock::now() < deadline) {
        pollfd fd = {m_fd, POLLIN, 0};
        if (poll(&fd, 1, m_silenceMs) <= 0 || read(m_fd, scrap, sizeof scrap) <= 0)
            return;
    }
}

bool Server::sleepUntil(Clock::time_point deadline)
{
    while (true) {
        const auto now = Clock::now();
        if (now >= deadline)
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
        timespec ts;
        ts.tv_sec = static_cast<time_t>(left.count() / 1000000000);
        ts.tv_nsec = static_cast<long>(left.count() % 1000000000);
        pollfd fd = {g_signalPipe[0], POLLIN, 0};
        const int rc = ppoll(&fd, 1, &ts, nullptr);
        if (rc > 0)
            return false;
    }
}

// libmodbus writes its reply straight to the context's descriptor. Pointing the context at a
// pipe for the duration of modbus_reply lets us execute the request exactly as libmodbus does
// and still decide afterwards whether, when and how the reply goes out.
std::vector<uint8_t> Server::executeRequest(const uint8_t *request, int length)
{
    std::vector<uint8_t> frame;
    int capture[2];
    if (pipe2(capture, O_NONBLOCK | O_CLOEXEC) != 0)
        return frame;
    modbus_set_socket(m_ctx, capture[1]);
    modbus_reply(m_ctx, request, length, m_map);
    modbus_set_socket(m_ctx, m_fd);
    uint8_t buffer[MODBUS_RTU_MAX_ADU_LENGTH * 2];
    ssize_t n = 0;
    while ((n = read(capture[0], buffer, sizeof buffer)) > 0)
        frame.insert(frame.end(), buffer, buffer + n);
    close(capture[0]);
    close(capture[1]);
    return frame;
}

bool Server::sendFrame(const std::vector<uint8_t> &frame)
{
    size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (done < frame.size()) {
        const ssize_t n = write(m_fd, frame.data() + done, frame.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (Clock::now() > deadline)
            return false;
        pollfd fd = {m_fd, POLLOUT, 0};
        poll(&fd, 1, 50);
    }
    return true;
}

void Server::logRequest(const RequestInfo &info, const std::string &outcome, int code)
{
    const std::string line = logLine(m_seq, info, outcome, code);
    if (m_log) {
        std::fprintf(m_log, "%s\n", line.c_str());
        std::fflush(m_log);
    }
    if (m_options.verbose)
        std::fprintf(stderr, "sensor-sim: %s\n", line.c_str());
}

bool Server::handle(const uint8_t *request, int length, Clock::time_point received)
{
    ++m_seq;
    const RequestInfo info = describeRequest(request, length);
    const bool broadcast = info.slave == 0;

    if (!m_options.frozen)
        m_model.update(std::chrono::duration<double>(received - m_start).count());

    if (m_options.dropEvery > 0 && m_seq % static_cast<unsigned long>(m_options.dropEvery) == 0) {
        logRequest(info, "drop", 0);
        return true;
    }

    int injected = 0;
    for (const InjectedException &e : m_options.exceptions) {
        if (requestCovers(info, e.address)) {
            injected = e.code;
            break;
        }
    }

    std::vector<uint8_t> reply;
    if (injected) {
        if (broadcast) {
            logRequest(info, "exception", injected);
            return true;
        }
        reply = exceptionFrame(info.slave, info.function, injected);
    } else {
        reply = executeRequest(request, length);
        if (broadcast) {
            // libmodbus executes a broadcast but never answers it.
            logRequest(info, "broadcast", 0);
            return true;
        }
        if (reply.size() < 4) {
            logRequest(info, "drop", 0);
            return true;
        }
    }

    const bool isException = (reply[1] & 0x80) != 0;
    const int code = isException ? reply[2] : 0;
    std::string outcome = isException ? "exception" : "reply";
    ++m_replies;
    if (m_options.corruptCrcEvery > 0
        && m_replies % static_cast<unsigned long>(m_options.corruptCrcEvery) == 0) {
        reply[reply.size() - 2] ^= 0xFF;
        reply[reply.size() - 1] ^= 0x5A;
        outcome = "corrupt";
    }

    auto deadline = received + std::chrono::milliseconds(m_options.delayMs);
    if (m_options.emulateLine) {
        const double seconds =
            frameSeconds(length, m_options.baud, m_options.dataBits, m_options.parity,
                         m_options.stopBits)
            + frameSeconds(static_cast<int>(reply.size()), m_options.baud, m_options.dataBits,
                           m_options.parity, m_options.stopBits);
        deadline += std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(seconds));
    }
    // Logged before the reply leaves, so a client that has its answer finds the line.
    logRequest(info, outcome, outcome == "corrupt" ? 0 : code);
    if (!sleepUntil(deadline))
        return false;
    if (!sendFrame(reply)) {
        std::fprintf(stderr, "sensor-sim: %s: write failed: %s\n", m_options.device.c_str(),
                     std::strerror(errno));
    }
    return true;
}

int Server::run()
{
    uint8_t request[kMaxFrame];
    while (true) {
        int length = 0;
        Clock::time_point received;
        switch (readFrame(request, &length, &received)) {
        case ReadResult::Stop:
            return 0;
        case ReadResult::LineGone:
            std::fprintf(stderr, "sensor-sim: %s: the line is gone\n", m_options.device.c_str());
            return 1;
        case ReadResult::Discard:
            continue;
        case ReadResult::Frame:
            break;
        }
        const uint16_t crc = crc16(request, static_cast<size_t>(length - 2));
        if (request[length - 2] != (crc & 0xFF) || request[length - 1] != (crc >> 8)) {
            if (m_options.verbose)
                std::fprintf(stderr, "sensor-sim: frame with a bad CRC dropped\n");
            drainLine();
            continue;
        }
        if (request[0] != m_options.serverAddress && request[0] != 0)
            continue;
        if (!handle(request, length, received))
            return 0;
    }
}

bool writeReadyFile(const std::string &path)
{
    const std::string temporary = path + ".tmp";
    FILE *f = std::fopen(temporary.c_str(), "w");
    if (!f)
        return false;
    std::fprintf(f, "%d\n", static_cast<int>(getpid()));
    const bool ok = std::fclose(f) == 0;
    return ok && std::rename(temporary.c_str(), path.c_str()) == 0;
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

    if (!installSignalHandlers()) {
        std::fprintf(stderr, "sensor-sim: cannot install signal handlers: %s\n",
                     std::strerror(errno));
        return 1;
    }

    modbus_mapping_t *map = modbus_mapping_new(kImageSize, kImageSize, kImageSize, kImageSize);
    if (!map) {
        std::fprintf(stderr, "sensor-sim: out of memory\n");
        return 1;
    }
    SensorModel(map, options.serverAddress, options.baud).reset();
    for (const Assignment &a : options.assignments) {
        for (size_t i = 0; i < a.values.size(); ++i) {
            const int address = a.address + static_cast<int>(i);
            const uint16_t v = a.values[i];
            switch (a.area) {
            case Area::Coil: map->tab_bits[address] = v ? 1 : 0; break;
            case Area::DiscreteInput: map->tab_input_bits[address] = v ? 1 : 0; break;
            case Area::InputRegister: map->tab_input_registers[address] = v; break;
            case Area::HoldingRegister: map->tab_registers[address] = v; break;
            }
        }
    }

    FILE *log = nullptr;
    if (options.logPath == "-") {
        log = stdout;
    } else if (!options.logPath.empty()) {
        log = std::fopen(options.logPath.c_str(), "w");
        if (!log) {
            std::fprintf(stderr, "sensor-sim: --log: cannot write %s: %s\n",
                         options.logPath.c_str(), std::strerror(errno));
            modbus_mapping_free(map);
            return 2;
        }
    }

    modbus_t *ctx = modbus_new_rtu(options.device.c_str(), options.baud, options.parity,
                                   options.dataBits, options.stopBits);
    if (!ctx || modbus_set_slave(ctx, options.serverAddress) != 0 || modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "sensor-sim: cannot open %s: %s\n", options.device.c_str(),
                     modbus_strerror(errno));
        if (ctx)
            modbus_free(ctx);
        if (log && log != stdout)
            std::fclose(log);
        modbus_mapping_free(map);
        return 1;
    }
    // A server never waits for responses; libmodbus only sleeps this long before flushing
    // the line after a request with an illegal value count.
    modbus_set_response_timeout(ctx, 0, 50000);

    if (!options.readyFile.empty() && !writeReadyFile(options.readyFile)) {
        std::fprintf(stderr, "sensor-sim: --ready-file: cannot write %s: %s\n",
                     options.readyFile.c_str(), std::strerror(errno));
        modbus_close(ctx);
        modbus_free(ctx);
        if (log && log != stdout)
            std::fclose(log);
        modbus_mapping_free(map);
        return 2;
    }
    if (options.verbose) {
        std::fprintf(stderr, "sensor-sim: serving %s at %d %d%c%d, address %d\n",
                     options.device.c_str(), options.baud, options.dataBits, options.parity,
                     options.stopBits, options.serverAddress);
    }

    Server server(options, ctx, map, log);
    const int status = server.run();

    modbus_close(ctx);
    modbus_free(ctx);
    if (log) {
        std::fflush(log);
        if (log != stdout)
            std::fclose(log);
    }
    modbus_mapping_free(map);
    return status;
}
