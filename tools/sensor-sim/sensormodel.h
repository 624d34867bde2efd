#ifndef SENSORSIM_SENSORMODEL_H
#define SENSORSIM_SENSORMODEL_H

#include <modbus.h>

#include <cstdint>

namespace sensorsim {

// Register addresses of the ultrasonic sensor (holding registers; input registers 0..3 and
// 14..17 mirror the holding registers).
namespace reg {
constexpr int FlightTime = 0;   // us, echo round trip
constexpr int Temperature = 1;  // signed whole degrees Celsius
constexpr int Distance = 2;     // 0.1 mm
constexpr int Status = 3;       // bit flags, see StatusBit
constexpr int ServerAddress = 4;
constexpr int BaudDiv100 = 5;
constexpr int Firmware = 6;     // BCD, 0x0102 = 1.02
constexpr int Hardware = 7;     // BCD
constexpr int Counter = 8;      // measurements taken, wraps at 65535
constexpr int LowerLimit = 10;  // mm
constexpr int UpperLimit = 11;  // mm
constexpr int FilterDepth = 12;
constexpr int PeriodMs = 13;
constexpr int DistanceMetres = 14; // IEEE 754 float in metres, high word first (ABCD)
constexpr int FlightTimeNs = 16;   // unsigned 32-bit ns, low word first (CDAB)
constexpr int BlindZone = 20;   // mm
constexpr int Farthest = 21;    // mm
} // namespace reg

namespace status {
constexpr uint16_t EchoValid = 0x0001;
constexpr uint16_t BelowLower = 0x0002;
constexpr uint16_t AboveUpper = 0x0004;
constexpr uint16_t InBlindZone = 0x0008;
constexpr uint16_t OutOfRange = 0x0010;
constexpr uint16_t Stopped = 0x0020;
} // namespace status

namespace coil {
constexpr int Measuring = 0;   // off: the measurement registers keep their last values
constexpr int TempCompensation = 1;
constexpr int LowerRelay = 2;
constexpr int UpperRelay = 3;
constexpr int Filter = 4;
} // namespace coil

struct Measurement
{
    int temperature = 0;     // whole degrees Celsius
    int distance = 0;        // 0.1 mm
    int flightTime = 0;      // us
    uint32_t flightTimeNs = 0;
};

// The speed of sound in air at the given temperature, m/s.
double speedOfSound(double celsius);
// Round-trip time in microseconds for a distance in 0.1 mm at the given temperature.
int flightTimeFor(int distanceTenthMm, int celsius);
// The same in nanoseconds: the microsecond value before it is rounded.
uint32_t flightTimeNsFor(int distanceTenthMm, int celsius);
// The sensor's reading at `seconds` after start: temperature drifting 20..30 degrees over
// minutes, the target moving smoothly between 300.0 and 1500.0 mm.
Measurement measurementAt(double seconds);

class SensorModel
{
public:
    SensorModel(modbus_mapping_t *map, int serverAddress, int baud);

    // Factory image: the reading at time 0, limits, identity, coils and inputs.
    void reset();
    // Brings measurement, status word and inputs up to `seconds` after start.
    void update(double seconds);

private:
    void writeMeasurement(const Measurement &m);
    void refreshStatus();

    modbus_mapping_t *m_map;
    int m_serverAddress;
    int m_baud;
};

} // namespace sensorsim

#endif // SENSORSIM_SENSORMODEL_H
