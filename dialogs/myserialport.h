#ifndef MYSERIALPORT_H
#define MYSERIALPORT_H

#include <QDialog>

namespace Ui {
class MySerialPort;
}

// Edits the four serial line settings (port, baud rate, parity, stop bits) in MyConfig. It
// stores them whenever it is confirmed and again when it is destroyed, so every way of closing
// it keeps what it shows; it neither opens nor tests a port.
class MySerialPort : public QDialog
{
    Q_OBJECT

public:
    explicit MySerialPort(QWidget *parent = nullptr);
    ~MySerialPort() override;

private slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();

private:
    void storeSelections();

    Ui::MySerialPort *ui;
};

#endif // MYSERIALPORT_H
