#ifndef MODALCATCHER_H
#define MODALCATCHER_H

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// Answers the modal message boxes a test provokes: while it lives, it looks for the active
// modal widget every few milliseconds, records its title and text, and accepts it.
class ModalCatcher : public QObject
{
    Q_OBJECT
public:
    explicit ModalCatcher(QObject *parent = nullptr);

    struct Box
    {
        QString title;
        QString text;
    };

    QList<Box> boxes() const { return m_boxes; }
    int count() const { return m_boxes.size(); }
    Box last() const { return m_boxes.isEmpty() ? Box() : m_boxes.last(); }
    void clear() { m_boxes.clear(); }

private:
    void poll();

    QTimer m_timer;
    QList<Box> m_boxes;
};

#endif // MODALCATCHER_H
