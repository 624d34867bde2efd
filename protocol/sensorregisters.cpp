#include "sensorregisters.h"

#include "protocoltable.h"

namespace SensorRegisters {

QVector<Reading> readingsOf(const DecodedReply &reply)
{
    struct Mapping
    {
        int address;
        bool holdingOnly;
        Field field;
    };
    static const Mapping map[] = {
        { 0, false, Field::FlightTime },  { 1, false, Field::Temperature },
        { 2, false, Field::Distance },    { 10, true, Field::BottomLimit },
        { 11, true, Field::TopLimit },    { 20, true, Field::MinDistance },
        { 21, true, Field::MaxDistance },
    };

    QVector<Reading> readings;
    if (reply.area != QModbusDataUnit::InputRegisters
        && reply.area != QModbusDataUnit::HoldingRegisters)
        return readings;
    // Looking up the few mapped addresses keeps the work bounded whatever a reply holds.
    for (const Mapping &mapping : map) {
        if (mapping.holdingOnly && reply.area != QModbusDataUnit::HoldingRegisters)
            continue;
        if (const DecodedRegister *decoded = reply.find(mapping.address))
            readings.append(Reading{ mapping.field, decoded->value });
    }
    return readings;
}

} // namespace SensorRegisters
