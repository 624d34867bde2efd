#ifndef FRAMELOG_H
#define FRAMELOG_H

#include "framecapture.h"

#include <QAbstractTableModel>
#include <QTimer>
#include <QVector>

// The latest captured frames as a table (time, direction, frame, summary), at most capacity()
// rows: the oldest go when new ones come. Frames are taken in batches, at most every
// batchMs, so a view stays responsive however fast the line runs. While paused, the rows stay
// as they are and new frames wait (the latest capacity() of them); resuming takes them in.
class FrameLog : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { TimeColumn, DirectionColumn, FrameColumn, SummaryColumn, ColumnCount };
    // The CapturedFrame::Kind of a row, as an int.
    static constexpr int KindRole = Qt::UserRole + 1;
    static constexpr int defaultCapacity = 10000;
    static constexpr int batchMs = 100;

    explicit FrameLog(QObject *parent = nullptr, int capacity = defaultCapacity);

    int capacity() const { return m_capacity; }
    void append(const CapturedFrame &frame);
    // Takes the waiting frames in now (the batch timer does this by itself).
    void flush();
    void setPaused(bool paused);
    bool isPaused() const { return m_paused; }
    // Removes every row and every waiting frame.
    void clear();
    // Frames waiting for the next batch.
    int waiting() const { return m_batch.size(); }

    const CapturedFrame &frame(int row) const;
    // Writes every row, one line each, as UTF-8 text; atomically (QSaveFile). False with
    // `errorString` naming the file and the cause.
    bool save(const QString &path, QString *errorString = nullptr) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    int m_capacity;
    // A ring: row r is m_rows[(m_first + r) % m_capacity].
    QVector<CapturedFrame> m_rows;
    int m_first = 0;
    int m_count = 0;
    QVector<CapturedFrame> m_batch;
    QTimer m_batchTimer;
    bool m_paused = false;
};

#endif // FRAMELOG_H
