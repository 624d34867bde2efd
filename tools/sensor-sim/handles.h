#ifndef SENSORSIM_HANDLES_H
#define SENSORSIM_HANDLES_H

// Owning handles for what the server holds. Each releases its resource in its destructor, so
// an error path only has to return.

#include <modbus.h>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace sensorsim {

struct ModbusContextDeleter
{
    void operator()(modbus_t *ctx) const
    {
        // A connected context restores the line settings and closes the device first.
        if (modbus_get_socket(ctx) != -1)
            modbus_close(ctx);
        modbus_free(ctx);
    }
};
using ModbusContext = std::unique_ptr<modbus_t, ModbusContextDeleter>;

struct ModbusMappingDeleter
{
    void operator()(modbus_mapping_t *map) const { modbus_mapping_free(map); }
};
using ModbusMapping = std::unique_ptr<modbus_mapping_t, ModbusMappingDeleter>;

// A stream of our own is closed; standard output is only flushed.
struct StreamCloser
{
    void operator()(std::FILE *stream) const
    {
        if (stream == stdout)
            std::fflush(stream);
        else
            std::fclose(stream);
    }
};
using Stream = std::unique_ptr<std::FILE, StreamCloser>;

class FileDescriptor
{
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor &&other) noexcept : m_fd(other.release()) {}
    FileDescriptor &operator=(FileDescriptor &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

} // namespace sensorsim

#endif // SENSORSIM_HANDLES_H
