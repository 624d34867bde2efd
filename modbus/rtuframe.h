#ifndef RTUFRAME_H
#define RTUFRAME_H

#include <QByteArray>
#include <QModbusDataUnit>
#include <QString>

// Modbus RTU frames as they travel on the line: server address, function code, data and the
// CRC, low byte first. Pure functions, shared by the frame capture and its texts.
namespace rtu {

// CRC-16/MODBUS (polynomial 0xA001 reflected, initial value 0xFFFF) of `size` bytes.
quint16 crc16(const char *data, int size);
// The frame with its CRC appended, low byte first.
QByteArray withCrc(const QByteArray &frame);
// True when the last two bytes are the CRC of the bytes before them (at least 4 bytes).
bool hasValidCrc(const QByteArray &frame);
// The CRC a frame carries, as its two bytes arrive (low byte first), and the one it should carry.
quint16 carriedCrc(const QByteArray &frame);
quint16 computedCrc(const QByteArray &frame);

// The request frame for reading `unit`, or for writing it (a single value with function 5 or
// 6, several with 15 or 16, as the Modbus client chooses). Empty when the area cannot be read
// or written that way.
QByteArray readRequest(const QModbusDataUnit &unit, int serverAddress);
QByteArray writeRequest(const QModbusDataUnit &unit, int serverAddress);

// Length of the reply frame that `bytes` begins with, judged from its function code and, where
// the reply carries one, its byte count: the length, or NeedMore while the bytes do not yet
// tell, or Unknown for a function whose replies this code cannot measure.
enum { NeedMore = -1, Unknown = -2 };
int replyLength(const QByteArray &bytes);

// Fields of a request frame (no CRC check): function code, start address, the count (or,
// for functions 5 and 6, the value written); -1 when the frame is too short to hold them.
int functionOf(const QByteArray &frame);
int serverOf(const QByteArray &frame);
int wordAt(const QByteArray &frame, int offset);

// "读保持寄存器" ... for the public function codes; "功能码 0x41" for others.
QString functionName(int function);
// "非法功能" ... for the standard exception codes; "未知异常" for others.
QString exceptionName(int code);

// "01 03 00 00 00 03 05 CB".
QString hexText(const QByteArray &bytes);
// "0A": one byte as two upper-case hexadecimal digits.
QString hexByte(int value);

} // namespace rtu

#endif // RTUFRAME_H
