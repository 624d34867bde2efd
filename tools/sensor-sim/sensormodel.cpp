#include "sensormodel.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

namespace sensorsim {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kTemperaturePeriod = 300.0; // s
constexpr double kDistancePeriod = 30.0;     // s

// A 32-bit value over two registers, as the wire carries them: each register high byte first.
void putHighWordFirst(uint16_t *table, int address, uint32_t value)
{
    table[address] = static_cast<uint16_t>(value >> 16);
    table[address + 1] = static_cast<uint16_t>(value & 0xFFFF);
}

void putLowWordFirst(uint16_t *table, int address, uint32_t value)
{
    table[address] = static_cast<uint16_t>(value & 0xFFFF);
    table[address + 1] = static_cast<uint16_t>(value >> 16);
}

uint32_t floatBits(float value)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}
} // namespace

double speedOfSound(double celsius)
{
    return 331.3 + 0.606 * celsius;
}

int flightTimeFor(int distanceTenthMm, int celsius)
{
    // 2 * d[m] / c[m/s] in us, with d[m] = distance / 10000.
    return static_cast<int>(std::lround(200.0 * distanceTenthMm / speedOfSound(celsius)));
}

uint32_t flightTimeNsFor(int distanceTenthMm, int celsius)
{
    return static_cast<uint32_t>(std::llround(2.0e5 * distanceTenthMm / speedOfSound(celsius)));
}

Measurement measurementAt(double seconds)
{
    Measurement m;
    m.temperature = static_cast<int>(
        std::lround(25.0 + 5.0 * std::sin(2.0 * kPi * seconds / kTemperaturePeriod)));
    const double millimetres = 900.0 + 600.0 * std::sin(2.0 * kPi * seconds / kDistancePeriod);
    m.distance = static_cast<int>(std::lround(millimetres * 10.0));
    // From the rounded register values, so a client can check the relation exactly.
    m.flightTime = flightTimeFor(m.distance, m.temperature);
    m.flightTimeNs = flightTimeNsFor(m.distance, m.temperature);
    return m;
}

SensorModel::SensorModel(modbus_mapping_t *map, int serverAddress, int baud)
    : m_map(map), m_serverAddress(serverAddress), m_baud(baud)
{
}

void SensorModel::reset()
{
    uint16_t *hr = m_map->tab_registers;
    hr[reg::ServerAddress] = static_cast<uint16_t>(m_serverAddress);
    hr[reg::BaudDiv100] = static_cast<uint16_t>(m_baud / 100);
    hr[reg::Firmware] = 0x0102;
    hr[reg::Hardware] = 0x0100;
    hr[reg::Counter] = 0;
    hr[reg::LowerLimit] = 500;
    hr[reg::UpperLimit] = 1200;
    hr[reg::FilterDepth] = 4;
    hr[reg::PeriodMs] = 100;
    hr[reg::BlindZone] = 250;
    hr[reg::Farthest] = 2000;

    uint8_t *coils = m_map->tab_bits;
    coils[coil::Measuring] = 1;
    coils[coil::TempCompensation] = 1;
    coils[coil::LowerRelay] = 0;
    coils[coil::UpperRelay] = 0;
    coils[coil::Filter] = 1;

    writeMeasurement(measurementAt(0.0));
    refreshStatus();
}

void SensorModel::update(double seconds)
{
    if (m_map->tab_bits[coil::Measuring]) {
        writeMeasurement(measurementAt(seconds));
        ++m_map->tab_registers[reg::Counter];
    }
    refreshStatus();
}

void SensorModel::writeMeasurement(const Measurement &m)
{
    const uint16_t values[3] = {static_cast<uint16_t>(m.flightTime),
                                static_cast<uint16_t>(static_cast<int16_t>(m.temperature)),
                                static_cast<uint16_t>(m.distance)};
    // The distance in metres from the register value, so a client finds hr2 / 10000 exactly
    // as a float would hold it.
    const uint32_t metres = floatBits(static_cast<float>(m.distance / 10000.0));
    for (uint16_t *table : {m_map->tab_registers, m_map->tab_input_registers}) {
        for (int i = 0; i < 3; ++i)
            table[reg::FlightTime + i] = values[i];
        putHighWordFirst(table, reg::DistanceMetres, metres);
        putLowWordFirst(table, reg::FlightTimeNs, m.flightTimeNs);
    }
}

void SensorModel::refreshStatus()
{
    const uint16_t *hr = m_map->tab_registers;
    const double millimetres = hr[reg::Distance] / 10.0;
    const bool measuring = m_map->tab_bits[coil::Measuring] != 0;
    const bool below = millimetres < hr[reg::LowerLimit];
    const bool above = millimetres > hr[reg::UpperLimit];
    const bool blind = millimetres < hr[reg::BlindZone];
    const bool outOfRange = millimetres > hr[reg::Farthest];
    const bool valid = measuring && !blind && !outOfRange;

    uint16_t word = 0;
    if (valid)
        word |= status::EchoValid;
    if (below)
        word |= status::BelowLower;
    if (above)
        word |= status::AboveUpper;
    if (blind)
        word |= status::InBlindZone;
    if (outOfRange)
        word |= status::OutOfRange;
    if (!measuring)
        word |= status::Stopped;
    m_map->tab_registers[reg::Status] = word;
    m_map->tab_input_registers[reg::Status] = word;

    uint8_t *di = m_map->tab_input_bits;
    di[0] = valid;
    di[1] = below;
    di[2] = above;
    di[3] = blind;
    di[4] = outOfRange;
    di[5] = 1; // temperature probe present
    di[6] = 1; // supply good
    di[7] = 0;
}

} // namespace sensorsim
