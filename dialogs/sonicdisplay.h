#ifndef SONICDISPLAY_H
#define SONICDISPLAY_H

#include "sensorregisters.h"

#include <QDialog>

QT_BEGIN_NAMESPACE
namespace Ui {
class SonicDisplay;
}
QT_END_NAMESPACE

// Live readings of an ultrasonic distance sensor on seven-segment displays. It asks for nothing
// itself: the main window hands it the register values its ordinary reads bring back.
class SonicDisplay : public QDialog
{
    Q_OBJECT

public:
    explicit SonicDisplay(QWidget *parent = nullptr);
    ~SonicDisplay() override;

    // The sensor's fields a reply brought; each changes only its own display.
    void showReadings(const QVector<SensorRegisters::Reading> &readings);

    // Each takes one raw register value and changes only its own display.
    void setDistance(quint16 value);
    void setFlightTime(quint16 value);
    void setTemperature(quint16 value);
    void setMinDistance(quint16 value);
    void setBotDistance(quint16 value);
    void setTopDistance(quint16 value);
    void setMaxDistance(quint16 value);

private:
    Ui::SonicDisplay *ui;
};

#endif // SONICDISPLAY_H
