#ifndef SINGLEWINDOW_H
#define SINGLEWINDOW_H

#include <QPoint>
#include <QPointer>
#include <QString>
#include <QWidget>

// The auxiliary windows: one instance each, a top-level window of its own that deletes itself
// when closed, placed 30 pixels right of and below the main window. An open one is only shown
// again, where it is. True when the window was created now.
template<typename Window>
bool showSingleWindow(QPointer<Window> &window, QWidget *owner, const QString &title)
{
    if (window) {
        window->show();
        return false;
    }
    window = new Window(owner);
    window->setWindowTitle(title);
    window->setWindowFlags(Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->move(owner->pos() + QPoint(30, 30));
    window->show();
    return true;
}

#endif // SINGLEWINDOW_H
