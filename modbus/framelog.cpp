#include "framelog.h"

#include "frametext.h"
#include "rtuframe.h"

#include <QSaveFile>

FrameLog::FrameLog(QObject *parent, int capacity)
    : QAbstractTableModel(parent)
    , m_capacity(qMax(1, capacity))
{
    m_batchTimer.setSingleShot(true);
    m_batchTimer.setInterval(batchMs);
    connect(&m_batchTimer, &QTimer::timeout, this, &FrameLog::flush);
}

void FrameLog::append(const CapturedFrame &frame)
{
    m_batch.append(frame);
    // Only the latest capacity() frames of a batch can be shown; dropping the older half now
    // and then keeps a long pause bounded.
    if (m_batch.size() >= 2 * m_capacity)
        m_batch.remove(0, m_batch.size() - m_capacity);
    if (!m_paused && !m_batchTimer.isActive())
        m_batchTimer.start();
}

void FrameLog::flush()
{
    m_batchTimer.stop();
    if (m_paused || m_batch.isEmpty())
        return;
    QVector<CapturedFrame> batch;
    batch.swap(m_batch);
    const int skipped = qMax(0, batch.size() - m_capacity);
    const int incoming = batch.size() - skipped;
    const int overflow = m_count + incoming - m_capacity;

    if (overflow >= m_count && m_count > 0) {
        // Every row goes: one reset is cheaper for a view than removing them all.
        beginResetModel();
        m_rows.clear();
        m_first = 0;
        for (int i = skipped; i < batch.size(); ++i)
            m_rows.append(batch.at(i));
        m_count = incoming;
        endResetModel();
        return;
    }
    if (overflow > 0) {
        beginRemoveRows(QModelIndex(), 0, overflow - 1);
        for (int i = 0; i < overflow; ++i)
            m_rows[(m_first + i) % m_capacity] = CapturedFrame(); // release the bytes now
        m_first = (m_first + overflow) % m_capacity;
        m_count -= overflow;
        endRemoveRows();
    }
    beginInsertRows(QModelIndex(), m_count, m_count + incoming - 1);
    for (int i = skipped; i < batch.size(); ++i) {
        const int slot = (m_first + m_count) % m_capacity;
        if (slot == m_rows.size())
            m_rows.append(batch.at(i));
        else
            m_rows[slot] = batch.at(i);
        ++m_count;
    }
    endInsertRows();
}

void FrameLog::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    if (!paused)
        flush();
}

void FrameLog::clear()
{
    m_batchTimer.stop();
    m_batch.clear();
    beginResetModel();
    m_rows.clear();
    m_rows.squeeze();
    m_first = 0;
    m_count = 0;
    endResetModel();
}

const CapturedFrame &FrameLog::frame(int row) const
{
    return m_rows.at((m_first + row) % m_capacity);
}

bool FrameLog::save(const QString &path, QString *errorString) const
{
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly);
    for (int row = 0; ok && row < m_count; ++row) {
        const QByteArray line = frameLine(frame(row)).toUtf8() + '\n';
        ok = file.write(line) == line.size();
    }
    ok = ok && file.commit();
    if (!ok) {
        if (errorString)
            *errorString = QStringLiteral("%1: %2").arg(path, file.errorString());
        file.cancelWriting();
    }
    return ok;
}

int FrameLog::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_count;
}

int FrameLog::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FrameLog::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_count)
        return QVariant();
    const CapturedFrame &f = frame(index.row());
    if (role == KindRole)
        return int(f.kind);
    if (role == Qt::ToolTipRole && index.column() == TimeColumn)
        return frameTimeText(f.time, true);
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case TimeColumn: return frameTimeText(f.time);
    case DirectionColumn: return frameDirectionText(f);
    case FrameColumn: return rtu::hexText(f.bytes);
    case SummaryColumn: return frameSummary(f);
    default: return QVariant();
    }
}

QVariant FrameLog::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    switch (section) {
    case TimeColumn: return QStringLiteral("时间");
    case DirectionColumn: return QStringLiteral("方向");
    case FrameColumn: return QStringLiteral("报文");
    case SummaryColumn: return QStringLiteral("说明");
    default: return QVariant();
    }
}
