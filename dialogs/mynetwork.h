#ifndef MYNETWORK_H
#define MYNETWORK_H

#include <QDialog>

namespace Ui {
class MyNetwork;
}

// Chooses the link the connect button opens, the serial line or Modbus TCP, and the TCP host
// and port, in MyConfig. As with the serial port dialog, only OK stores what it shows; Cancel,
// the close button and its destruction leave the stored settings as they were.
class MyNetwork : public QDialog
{
    Q_OBJECT

public:
    explicit MyNetwork(QWidget *parent = nullptr);
    ~MyNetwork() override;

private slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();

private:
    void showLinkFields();

    Ui::MyNetwork *ui;
};

#endif // MYNETWORK_H
