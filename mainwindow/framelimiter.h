#ifndef FRAMELIMITER_H
#define FRAMELIMITER_H

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>

// Paints a top-level window at most once per frame period, however often its widgets ask. A fast
// read cycle changes the status bar and the status field's colour twice per exchange, hundreds of
// times a second; each change would otherwise repaint the window before the next request goes
// out. Held back, the window's paint requests wait for the rest of the frame and become one.
class FrameLimiter : public QObject
{
public:
    FrameLimiter(QWidget *window, int periodMs)
        : QObject(window)
        , m_window(window)
        , m_periodMs(periodMs)
    {
        m_elapsed.start();
        m_later.setSingleShot(true);
        QObject::connect(&m_later, &QTimer::timeout, this, [this] {
            QCoreApplication::postEvent(m_window, new QEvent(QEvent::UpdateRequest),
                                        Qt::LowEventPriority);
        });
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_window || event->type() != QEvent::UpdateRequest)
            return false;
        const qint64 wait = m_periodMs - m_elapsed.elapsed();
        if (wait > 0) {
            // The window stays marked for painting and asks no more until this request comes.
            if (!m_later.isActive())
                m_later.start(int(wait));
            return true;
        }
        m_elapsed.start();
        return false;
    }

private:
    QWidget *m_window;
    int m_periodMs;
    QElapsedTimer m_elapsed;
    QTimer m_later;
};

#endif // FRAMELIMITER_H
