#ifndef SENSORSIM_FRAME_H
#define SENSORSIM_FRAME_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sensorsim {

// What a request asks for, as far as logging and fault injection need to know.
struct RequestInfo
{
    int slave = 0;
    int function = 0;
    bool hasRange = false; // address/count describe the area read or written
    int address = 0;
    int count = 0;
    bool hasWriteRange = false; // function 23 writes a second range
    int writeAddress = 0;
    int writeCount = 0;
    bool isWrite = false;
    std::vector<unsigned> values; // written values; coils as 0/1
};

// `frame` is a whole RTU request (address, PDU, CRC) of `length` bytes. Fields that the
// frame is too short to hold are left out rather than read past its end.
RequestInfo describeRequest(const uint8_t *frame, int length);

// The whole length of an RTU request (address, PDU, CRC) judged from its first `have` bytes:
// the length, kNeedMore when the header is not complete yet, kUnknownLength for functions
// whose length the header does not tell (they are framed by the silence that follows).
constexpr int kNeedMore = 0;
constexpr int kUnknownLength = -1;
int requestLength(const uint8_t *frame, int have);

bool requestCovers(const RequestInfo &info, int address);

// Modbus CRC-16 (polynomial 0xA001 reflected, initial 0xFFFF); sent low byte first.
uint16_t crc16(const uint8_t *data, size_t length);

std::vector<uint8_t> exceptionFrame(int slave, int function, int code);

// Modbus TCP: the MBAP header (transaction, protocol, length, unit) is 7 bytes; its length
// counts the unit identifier and the PDU.
constexpr int kMbapLength = 7;
// The RTU frame with the unit, the PDU and a blank CRC of a TCP request, so that the RTU
// helpers above describe it.
std::vector<uint8_t> rtuViewOfTcp(const uint8_t *adu, int length);
// The exception reply to the TCP request `adu`, with its transaction identifier.
std::vector<uint8_t> tcpExceptionFrame(const uint8_t *adu, int code);

std::string logLine(unsigned long seq, const RequestInfo &info, const std::string &outcome,
                    int exceptionCode);

// Seconds a frame of `bytes` characters occupies on the line, including the 3.5-character
// silence that ends it.
double frameSeconds(int bytes, int baud, int dataBits, char parity, int stopBits);

} // namespace sensorsim

#endif // SENSORSIM_FRAME_H
