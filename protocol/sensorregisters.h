#ifndef SENSORREGISTERS_H
#define SENSORREGISTERS_H

#include <QVector>

struct DecodedReply;

// The register map of the ultrasonic distance sensor that the distance display shows. The
// sensor mirrors its measurement (registers 0 to 2) in both the input and the holding registers;
// its limits (10, 11, 20, 21) it keeps only in holding registers.
namespace SensorRegisters {

enum class Field { FlightTime, Temperature, Distance, BottomLimit, TopLimit, MinDistance, MaxDistance };

struct Reading
{
    Field field;
    quint16 value;
};

// The sensor's fields among the registers of a decoded reply, in address order.
QVector<Reading> readingsOf(const DecodedReply &reply);

} // namespace SensorRegisters

#endif // SENSORREGISTERS_H
