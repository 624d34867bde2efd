#ifndef SONICDISPLAY_H
#define SONICDISPLAY_H
#include <QDialog>
// PLACEHOLDER: to be written.
class SonicDisplay : public QDialog
{
    Q_OBJECT
public:
    explicit SonicDisplay(QWidget *parent = nullptr) : QDialog(parent) {}
};
#endif
