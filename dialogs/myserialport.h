#ifndef MYSERIALPORT_H
#define MYSERIALPORT_H
#include <QDialog>
// PLACEHOLDER: to be written.
class MySerialPort : public QDialog
{
    Q_OBJECT
public:
    explicit MySerialPort(QWidget *parent = nullptr) : QDialog(parent) {}
};
#endif
