#include "modalcatcher.h"

#include <QApplication>
#include <QMessageBox>

ModalCatcher::ModalCatcher(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, &ModalCatcher::poll);
    m_timer.start();
}

void ModalCatcher::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    Box box;
    box.title = modal->windowTitle();
    if (auto *messageBox = qobject_cast<QMessageBox *>(modal)) {
        box.text = messageBox->text();
        m_boxes.append(box);
        messageBox->accept();
        return;
    }
    m_boxes.append(box);
    modal->close();
}
