#include "server.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sensorsim {

namespace {

// Written by the signal handler, read by the request loop. It stays open until the process
// ends, because a signal may arrive at any moment until then.
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    const ssize_t ignored = write(g_signalPipe[1], &byte, 1);
    (void)ignored;
}

bool installSignalHandlers()
{
    if (g_signalPipe[0] != -1)
        return true;
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

std::string systemError()
{
    return std::strerror(errno);
}

enum class Wait { Readable, Stop, Timeout, Failed };

// Waits until `fd` has something to read (or has hung up), a stop signal came, or `timeoutMs`
// (-1: no limit) went by; an interrupted wait goes on.
Wait waitReadable(int fd, int timeoutMs)
{
    while (true) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}};
        const int rc = poll(fds, 2, timeoutMs);
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc < 0)
            return Wait::Failed;
        if (fds[1].revents)
            return Wait::Stop;
        return rc == 0 ? Wait::Timeout : Wait::Readable;
    }
}

} // namespace

Server::Server(const Options &options) : m_options(options)
{
    // A frame ends after 3.5 characters of silence; ptys and USB adapters deliver in
    // bursts, so never cut a frame on less than 20 ms.
    const double gap = frameSeconds(0, options.baud, options.dataBits, options.parity,
                                    options.stopBits);
    m_silenceMs = std::max(20, static_cast<int>(gap * 1000.0) + 1);
}

Server::Result Server::fail(Result result, const std::string &message)
{
    m_error = message;
    return result;
}

Server::Result Server::open()
{
    if (!installSignalHandlers())
        return fail(Result::SystemFailed, "cannot install signal handlers: " + systemError());

    m_map.reset(modbus_mapping_new(kImageSize, kImageSize, kImageSize, kImageSize));
    if (!m_map)
        return fail(Result::SystemFailed, "out of memory");
    buildImage();

    if (m_options.logPath == "-") {
        m_log.reset(stdout);
    } else if (!m_options.logPath.empty()) {
        m_log.reset(std::fopen(m_options.logPath.c_str(), "w"));
        if (!m_log) {
            return fail(Result::OutputFailed,
                        "--log: cannot write " + m_options.logPath + ": " + systemError());
        }
    }

    std::string serving;
    const Result opened = isTcp() ? openTcp(&serving) : openRtu(&serving);
    if (opened != Result::Ready)
        return opened;
    // A server never waits for responses; libmodbus only sleeps this long before flushing
    // the line after a request with an illegal value count.
    modbus_set_response_timeout(m_ctx.get(), 0, 50000);

    if (!m_options.readyFile.empty() && !writeReadyFile())
        return Result::OutputFailed;
    if (m_options.verbose) {
        std::fprintf(stderr, "sensor-sim: serving %s, address %d\n", serving.c_str(),
                     m_options.serverAddress);
    }
    m_start = Clock::now();
    return Result::Ready;
}

Server::Result Server::openRtu(std::string *serving)
{
    m_ctx.reset(modbus_new_rtu(m_options.device.c_str(), m_options.baud, m_options.parity,
                               m_options.dataBits, m_options.stopBits));
    if (!m_ctx || modbus_set_slave(m_ctx.get(), m_options.serverAddress) != 0
        || modbus_connect(m_ctx.get()) != 0) {
        return fail(Result::DeviceFailed,
                    "cannot open " + m_options.device + ": " + modbus_strerror(errno));
    }
    m_fd = modbus_get_socket(m_ctx.get());
    *serving = m_options.device + " at " + std::to_string(m_options.baud) + ' '
            + std::to_string(m_options.dataBits) + m_options.parity + std::to_string(m_options.stopBits);
    return Result::Ready;
}

// The protocol-independent libmodbus calls take node and service texts, so an IPv6 address
// listens as well as an IPv4 one.
Server::Result Server::openTcp(std::string *serving)
{
    const std::string where = m_options.tcpHost + " port " + std::to_string(m_options.tcpPort);
    m_ctx.reset(modbus_new_tcp_pi(m_options.tcpHost.c_str(),
                                  std::to_string(m_options.tcpPort).c_str()));
    if (!m_ctx)
        return fail(Result::DeviceFailed, "cannot listen on " + where + ": " + systemError());
    m_listen.reset(modbus_tcp_pi_listen(m_ctx.get(), 1));
    if (m_listen.get() < 0) {
        return fail(Result::DeviceFailed,
                    "cannot listen on " + where + ": " + modbus_strerror(errno));
    }
    sockaddr_storage bound = {};
    socklen_t size = sizeof bound;
    if (getsockname(m_listen.get(), reinterpret_cast<sockaddr *>(&bound), &size) != 0)
        return fail(Result::DeviceFailed, "cannot listen on " + where + ": " + systemError());
    m_port = ntohs(bound.ss_family == AF_INET6
                       ? reinterpret_cast<const sockaddr_in6 *>(&bound)->sin6_port
                       : reinterpret_cast<const sockaddr_in *>(&bound)->sin_port);
    *serving = "Modbus TCP on " + m_options.tcpHost + " port " + std::to_string(m_port);
    return Result::Ready;
}

// The factory image, then the assignments in command-line order.
void Server::buildImage()
{
    m_model.emplace(m_map.get(), m_options.serverAddress, m_options.baud);
    m_model->reset();
    for (const Assignment &a : m_options.assignments) {
        for (size_t i = 0; i < a.values.size(); ++i) {
            const int address = a.address + static_cast<int>(i);
            const uint16_t v = a.values[i];
            switch (a.area) {
            case Area::Coil: m_map->tab_bits[address] = v ? 1 : 0; break;
            case Area::DiscreteInput: m_map->tab_input_bits[address] = v ? 1 : 0; break;
            case Area::InputRegister: m_map->tab_input_registers[address] = v; break;
            case Area::HoldingRegister: m_map->tab_registers[address] = v; break;
            }
        }
    }
}

// Written under a temporary name and renamed, so a watcher never reads half a file; the
// temporary file is removed when anything fails. Sets the error string on failure.
bool Server::writeReadyFile()
{
    const std::string &path = m_options.readyFile;
    const std::string temporary = path + ".tmp";
    Stream file(std::fopen(temporary.c_str(), "w"));
    bool ok = file != nullptr;
    if (ok) {
        std::fprintf(file.get(), "%d\n", static_cast<int>(getpid()));
        if (isTcp())
            std::fprintf(file.get(), "%d\n", m_port);
        ok = std::fclose(file.release()) == 0 && std::rename(temporary.c_str(), path.c_str()) == 0;
    }
    if (!ok) {
        m_error = "--ready-file: cannot write " + path + ": " + systemError();
        std::remove(temporary.c_str());
    }
    return ok;
}

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
            target = kMaxRtuFrame;
        if (target > kMaxRtuFrame) {
            drainLine();
            return ReadResult::Discard;
        }
        if (have >= target)
            break;

        const Wait wait = waitReadable(m_fd, have == 0 ? -1 : m_silenceMs);
        if (wait == Wait::Failed)
            return ReadResult::LineGone;
        if (wait == Wait::Stop)
            return ReadResult::Stop;
        if (wait == Wait::Timeout) {
            if (requestLength(frame, have) == kUnknownLength && have >= 4)
                break;
            if (m_options.verbose)
                std::fprintf(stderr, "sensor-sim: incomplete frame of %d bytes dropped\n", have);
            return ReadResult::Discard;
        }
        const ssize_t n = read(m_fd, frame + have, static_cast<size_t>(target - have));
        if (n > 0) {
            if (have == 0)
                *received = Clock::now();
            have += static_cast<int>(n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return ReadResult::LineGone;
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

// libmodbus writes its reply straight to the context's descriptor (with send() over TCP, so
// a socket pair rather than a pipe). Pointing the context at it for the duration of modbus_reply lets us execute the request exactly as libmodbus does
// and still decide afterwards whether, when and how the reply goes out.
std::vector<uint8_t> Server::executeRequest(const uint8_t *request, int length)
{
    std::vector<uint8_t> frame;
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0)
        return frame;
    const FileDescriptor readEnd(ends[0]);
    const FileDescriptor writeEnd(ends[1]);
    modbus_set_socket(m_ctx.get(), writeEnd.get());
    modbus_reply(m_ctx.get(), request, length, m_map.get());
    modbus_set_socket(m_ctx.get(), m_fd);
    uint8_t buffer[kMaxFrame * 2];
    ssize_t n = 0;
    while ((n = read(readEnd.get(), buffer, sizeof buffer)) > 0)
        frame.insert(frame.end(), buffer, buffer + n);
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
        std::fprintf(m_log.get(), "%s\n", line.c_str());
        std::fflush(m_log.get());
    }
    if (m_options.verbose)
        std::fprintf(stderr, "sensor-sim: %s\n", line.c_str());
}

bool Server::handle(const uint8_t *request, int length, Clock::time_point received)
{
    ++m_seq;
    const RequestInfo info = isTcp() ? [&] {
        const std::vector<uint8_t> view = rtuViewOfTcp(request, length);
        return describeRequest(view.data(), static_cast<int>(view.size()));
    }() : describeRequest(request, length);
    // Over TCP every request is answered, unit 0 included.
    const bool broadcast = info.slave == 0 && !isTcp();

    if (!m_options.frozen)
        m_model->update(std::chrono::duration<double>(received - m_start).count());

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
        reply = isTcp() ? tcpExceptionFrame(request, injected)
                        : exceptionFrame(info.slave, info.function, injected);
    } else {
        reply = executeRequest(request, length);
        if (broadcast) {
            // libmodbus executes a broadcast but never answers it.
            logRequest(info, "broadcast", 0);
            return true;
        }
        if (reply.size() < (isTcp() ? kMbapLength + 2u : 4u)) {
            logRequest(info, "drop", 0);
            return true;
        }
    }

    const size_t function = isTcp() ? kMbapLength : 1;
    const bool isException = (reply[function] & 0x80) != 0;
    const int code = isException ? reply[function + 1] : 0;
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
        std::fprintf(stderr, "sensor-sim: %s: write failed: %s\n",
                     isTcp() ? "client" : m_options.device.c_str(),
                     std::strerror(errno));
    }
    return true;
}

Server::Result Server::run()
{
    if (isTcp())
        return runTcp();
    uint8_t request[kMaxFrame];
    while (true) {
        int length = 0;
        Clock::time_point received;
        switch (readFrame(request, &length, &received)) {
        case ReadResult::Stop:
            return Result::Stopped;
        case ReadResult::LineGone:
            return fail(Result::DeviceFailed, m_options.device + ": the line is gone");
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
            return Result::Stopped;
    }
}

} // namespace sensorsim

namespace sensorsim {

// Waits for the next client; its socket becomes the context's.
Server::ReadResult Server::acceptClient()
{
    while (true) {
        const Wait wait = waitReadable(m_listen.get(), -1);
        if (wait == Wait::Failed)
            return ReadResult::LineGone;
        if (wait == Wait::Stop)
            return ReadResult::Stop;
        int listening = m_listen.get();
        m_fd = modbus_tcp_pi_accept(m_ctx.get(), &listening);
        if (m_fd >= 0) {
            if (m_options.verbose)
                std::fprintf(stderr, "sensor-sim: client connected\n");
            return ReadResult::Frame;
        }
        // A client that gave up before it was accepted leaves nothing to serve.
        if (errno != ECONNABORTED && errno != EINTR && errno != EAGAIN)
            return ReadResult::LineGone;
    }
}

void Server::dropClient(const char *why)
{
    if (m_options.verbose)
        std::fprintf(stderr, "sensor-sim: client %s\n", why);
    modbus_close(m_ctx.get());
    m_fd = -1;
}

// A TCP request is framed by the length in its MBAP header. A header that cannot be a Modbus
// request, or a frame that stops half-way for a second, leaves the stream without frame
// boundaries: the client is dropped.
Server::ReadResult Server::readTcpFrame(uint8_t *frame, int *length, Clock::time_point *received)
{
    int have = 0;
    int target = kMbapLength;
    while (have < target) {
        const Wait wait = waitReadable(m_fd, have == 0 ? -1 : 1000);
        if (wait == Wait::Failed)
            return ReadResult::LineGone;
        if (wait == Wait::Stop)
            return ReadResult::Stop;
        if (wait == Wait::Timeout)
            return ReadResult::Discard;
        const ssize_t n = read(m_fd, frame + have, static_cast<size_t>(target - have));
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return ReadResult::LineGone;
        if (n < 0)
            continue;
        if (have == 0)
            *received = Clock::now();
        have += static_cast<int>(n);
        if (have == kMbapLength) {
            const int follows = (frame[4] << 8) | frame[5];
            if (frame[2] != 0 || frame[3] != 0 || follows < 2
                || kMbapLength - 1 + follows > kMaxTcpFrame)
                return ReadResult::Discard;
            target = kMbapLength - 1 + follows;
        }
    }
    *length = have;
    return ReadResult::Frame;
}

Server::Result Server::runTcp()
{
    uint8_t request[kMaxFrame];
    while (true) {
        if (m_fd < 0) {
            switch (acceptClient()) {
            case ReadResult::Stop:
                return Result::Stopped;
            case ReadResult::LineGone:
                return fail(Result::DeviceFailed, "cannot accept a client: " + systemError());
            default:
                break;
            }
            continue;
        }
        int length = 0;
        Clock::time_point received;
        switch (readTcpFrame(request, &length, &received)) {
        case ReadResult::Stop:
            return Result::Stopped;
        case ReadResult::LineGone:
            dropClient("closed the connection");
            continue;
        case ReadResult::Discard:
            dropClient("sent a broken frame");
            continue;
        case ReadResult::Frame:
            break;
        }
        const int unit = request[kMbapLength - 1];
        if (unit != m_options.serverAddress && unit != 0 && unit != 255)
            continue;
        if (!handle(request, length, received))
            return Result::Stopped;
    }
}

} // namespace sensorsim
