#ifndef MYSERIALPORT_H
#define MYSERIALPORT_H

#include <QDialog>

namespace Ui {
class MySerialPort;
}

// Edits the four serial line settings (port, baud rate, parity, stop bits) in MyConfig. Only
// OK stores what it shows; Cancel, the close button and its destruction leave the stored
// settings as they were, so merely looking at it never changes them. It neither opens nor
// tests a port.
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
