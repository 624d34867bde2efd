#include "frame.h"

namespace sensorsim {

namespace {
int word(const uint8_t *p)
{
    return (p[0] << 8) | p[1];
}
} // namespace

RequestInfo describeRequest(const uint8_t *frame, int length)
{
    RequestInfo info;
    if (length < 2)
        return info;
    info.slave = frame[0];
    info.function = frame[1];
    const int pduEnd = length - 2; // CRC excluded
    const uint8_t *p = frame + 2;
    const int avail = pduEnd - 2;  // bytes after the function code

    switch (info.function) {
    case 1: case 2: case 3: case 4:
        if (avail >= 4) {
            info.hasRange = true;
            info.address = word(p);
            info.count = word(p + 2);
        }
        break;
    case 5:
    case 6:
        info.isWrite = true;
        if (avail >= 4) {
            info.hasRange = true;
            info.address = word(p);
            info.count = 1;
            const int value = word(p + 2);
            if (info.function == 5)
                info.values.push_back(value == 0xFF00 ? 1u : value == 0 ? 0u : unsigned(value));
            else
                info.values.push_back(unsigned(value));
        }
        break;
    case 15:
    case 16:
        info.isWrite = true;
        if (avail >= 5) {
            info.hasRange = true;
            info.address = word(p);
            info.count = word(p + 2);
            const int bytes = p[4];
            const uint8_t *data = p + 5;
            const int dataAvail = avail - 5;
            if (info.function == 15) {
                for (int i = 0; i < info.count && i / 8 < bytes && i / 8 < dataAvail; ++i)
                    info.values.push_back((data[i / 8] >> (i % 8)) & 1u);
            } else {
                for (int i = 0; i < info.count && 2 * i + 1 < bytes && 2 * i + 1 < dataAvail; ++i)
                    info.values.push_back(unsigned(word(data + 2 * i)));
            }
        }
        break;
    case 22:
        info.isWrite = true;
        if (avail >= 6) {
            info.hasRange = true;
            info.address = word(p);
            info.count = 1;
            info.values.push_back(unsigned(word(p + 2))); // AND mask
            info.values.push_back(unsigned(word(p + 4))); // OR mask
        }
        break;
    case 23:
        info.isWrite = true;
        if (avail >= 9) {
            info.hasRange = true;
            info.address = word(p);
            info.count = word(p + 2);
            info.hasWriteRange = true;
            info.writeAddress = word(p + 4);
            info.writeCount = word(p + 6);
            const int bytes = p[8];
            const uint8_t *data = p + 9;
            const int dataAvail = avail - 9;
            for (int i = 0; i < info.writeCount && 2 * i + 1 < bytes && 2 * i + 1 < dataAvail; ++i)
                info.values.push_back(unsigned(word(data + 2 * i)));
        }
        break;
    default:
        break;
    }
    return info;
}

int requestLength(const uint8_t *frame, int have)
{
    if (have < 2)
        return kNeedMore;
    // Bytes after the function code and before the data of the write functions.
    switch (frame[1]) {
    case 1: case 2: case 3: case 4: case 5: case 6:
        return 2 + 4 + 2;
    case 7: case 11: case 12: case 17:
        return 2 + 2;
    case 22:
        return 2 + 6 + 2;
    case 15:
    case 16:
        return have < 7 ? kNeedMore : 2 + 5 + frame[6] + 2;
    case 23:
        return have < 11 ? kNeedMore : 2 + 9 + frame[10] + 2;
    default:
        return kUnknownLength;
    }
}

bool requestCovers(const RequestInfo &info, int address)
{
    // A zero count still names its start address.
    const auto inRange = [address](int start, int count) {
        return address >= start && address < start + (count > 0 ? count : 1);
    };
    return (info.hasRange && inRange(info.address, info.count))
           || (info.hasWriteRange && inRange(info.writeAddress, info.writeCount));
}

uint16_t crc16(const uint8_t *data, size_t length)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

std::vector<uint8_t> exceptionFrame(int slave, int function, int code)
{
    std::vector<uint8_t> frame = {static_cast<uint8_t>(slave),
                                  static_cast<uint8_t>((function | 0x80) & 0xFF),
                                  static_cast<uint8_t>(code)};
    const uint16_t crc = crc16(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

std::vector<uint8_t> rtuViewOfTcp(const uint8_t *adu, int length)
{
    std::vector<uint8_t> frame;
    if (length > kMbapLength - 1)
        frame.assign(adu + kMbapLength - 1, adu + length);
    frame.push_back(0);
    frame.push_back(0);
    return frame;
}

std::vector<uint8_t> tcpExceptionFrame(const uint8_t *adu, int code)
{
    return {adu[0], adu[1], 0, 0, 0, 3, adu[6], static_cast<uint8_t>((adu[7] | 0x80) & 0xFF),
            static_cast<uint8_t>(code)};
}

std::string logLine(unsigned long seq, const RequestInfo &info, const std::string &outcome,
                    int exceptionCode)
{
    std::string line = "seq=" + std::to_string(seq) + " slave=" + std::to_string(info.slave)
                       + " fc=" + std::to_string(info.function);
    if (info.hasRange)
        line += " addr=" + std::to_string(info.address) + " count=" + std::to_string(info.count);
    if (info.hasWriteRange)
        line += " waddr=" + std::to_string(info.writeAddress)
                + " wcount=" + std::to_string(info.writeCount);
    line += " outcome=" + outcome;
    if (exceptionCode > 0)
        line += " code=" + std::to_string(exceptionCode);
    if (info.isWrite && !info.values.empty()) {
        line += " values=";
        for (size_t i = 0; i < info.values.size(); ++i) {
            if (i > 0)
                line += ',';
            line += std::to_string(info.values[i]);
        }
    }
    return line;
}

double frameSeconds(int bytes, int baud, int dataBits, char parity, int stopBits)
{
    const int bitsPerChar = 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits;
    return (bytes + 3.5) * bitsPerChar / static_cast<double>(baud);
}

} // namespace sensorsim
