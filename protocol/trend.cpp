#include "trend.h"

#include "protocoltable.h"

#include <algorithm>
#include <cmath>

namespace {

qint64 columnOf(qint64 timeMs, qint64 columnMs)
{
    // Rounded down for times before 0 as well, so every column is equally wide.
    const qint64 q = timeMs / columnMs;
    return (timeMs % columnMs != 0 && timeMs < 0) ? q - 1 : q;
}

void thinRange(const TrendPoint *begin, const TrendPoint *end, qint64 columnMs,
               QVector<TrendPoint> &out)
{
    if (columnMs < 1) {
        for (const TrendPoint *p = begin; p != end; ++p)
            out.append(*p);
        return;
    }
    const TrendPoint *p = begin;
    while (p != end) {
        const qint64 column = columnOf(p->timeMs, columnMs);
        const TrendPoint *lowest = nullptr;
        const TrendPoint *highest = nullptr;
        const TrendPoint *gap = nullptr;
        for (; p != end && columnOf(p->timeMs, columnMs) == column; ++p) {
            if (p->isGap()) {
                if (!gap)
                    gap = p;
                continue;
            }
            if (!lowest || p->value < lowest->value)
                lowest = p;
            if (!highest || p->value > highest->value)
                highest = p;
        }
        // The kept points in the order they came; pointers into one array compare by time.
        const TrendPoint *kept[3] = { lowest, highest, gap };
        std::sort(std::begin(kept), std::end(kept), [](const TrendPoint *a, const TrendPoint *b) {
            if (!a || !b)
                return a != nullptr && b == nullptr;
            return a < b;
        });
        const TrendPoint *previous = nullptr;
        for (const TrendPoint *k : kept) {
            if (k && k != previous)
                out.append(*k);
            previous = k;
        }
    }
}

} // namespace

QVector<TrendPoint> thinTrendPoints(const QVector<TrendPoint> &points, qint64 columnMs)
{
    QVector<TrendPoint> out;
    out.reserve(columnMs < 1 ? points.size() : qMin(points.size(), 1024));
    thinRange(points.constData(), points.constData() + points.size(), columnMs, out);
    return out;
}

TrendAxisRange niceTrendRange(double low, double high, int ticks)
{
    if (!(low <= high) || !std::isfinite(low) || !std::isfinite(high))
        return TrendAxisRange();
    double bottom = low;
    double top = high;
    if (low == high) {
        const double half = low == 0 ? 0.5 : std::abs(low) * 0.05;
        bottom -= half;
        top += half;
    } else {
        const double margin = (high - low) / 20;
        bottom = low > 0 ? qMax(0.0, low - margin) : low - margin;
        top = high < 0 ? qMin(0.0, high + margin) : high + margin;
    }
    const int intervals = qMax(1, ticks - 1);
    const double rough = (top - bottom) / intervals;
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    double step = magnitude * 10;
    for (double factor : { 1.0, 2.0, 2.5, 5.0 }) {
        if (rough <= factor * magnitude) {
            step = factor * magnitude;
            break;
        }
    }
    TrendAxisRange range;
    range.low = std::floor(bottom / step) * step;
    range.high = std::ceil(top / step) * step;
    range.ticks = int(std::lround((range.high - range.low) / step)) + 1;
    return range;
}

void TrendSeries::setResolution(qint64 shownSpanMs, int columns, qint64 keptMs)
{
    m_shownSpanMs = qMax<qint64>(1, shownSpanMs);
    m_columns = qMax(1, columns);
    m_keptMs = qMax(m_shownSpanMs, keptMs);
}

void TrendSeries::append(qint64 timeMs, double value)
{
    if (!m_points.isEmpty())
        timeMs = qMax(timeMs, m_points.constLast().timeMs);
    m_points.append(TrendPoint{ timeMs, value });
    if (m_points.size() >= m_compactAt)
        compact();
}

void TrendSeries::compact()
{
    const qint64 newest = m_points.constLast().timeMs;
    const auto byTime = [](const TrendPoint &p, qint64 t) { return p.timeMs < t; };
    const TrendPoint *begin = m_points.constData();
    const TrendPoint *end = begin + m_points.size();
    const TrendPoint *kept = std::lower_bound(begin, end, newest - m_keptMs, byTime);
    const TrendPoint *recent = std::lower_bound(kept, end, newest - m_shownSpanMs, byTime);

    QVector<TrendPoint> thinned;
    thinned.reserve(6 * m_columns + 8);
    thinRange(kept, recent, m_keptMs / m_columns, thinned);
    thinRange(recent, end, m_shownSpanMs / m_columns, thinned);
    m_points = thinned;
    m_compactAt = qMax(minCompactSize, 2 * m_points.size());
}

QVector<TrendPoint> TrendSeries::pointsBetween(qint64 fromMs, qint64 toMs) const
{
    const auto before = [](const TrendPoint &p, qint64 t) { return p.timeMs < t; };
    const auto after = [](qint64 t, const TrendPoint &p) { return t < p.timeMs; };
    const TrendPoint *begin = m_points.constData();
    const TrendPoint *end = begin + m_points.size();
    const TrendPoint *first = std::lower_bound(begin, end, fromMs, before);
    const TrendPoint *last = std::upper_bound(first, end, toMs, after);
    if (first != begin)
        --first;
    if (last != end)
        ++last;
    QVector<TrendPoint> points;
    points.reserve(int(last - first));
    for (const TrendPoint *p = first; p != last; ++p)
        points.append(*p);
    return points;
}

bool TrendRecorder::addTrace(QModbusDataUnit::RegisterType area, int address, const QString &name)
{
    if (indexOf(area, address) >= 0)
        return false;
    Trace trace;
    trace.area = area;
    trace.address = address;
    trace.name = name;
    trace.series.setResolution(m_shownSpanMs, m_columns, m_keptMs);
    m_traces.append(trace);
    return true;
}

void TrendRecorder::removeTrace(QModbusDataUnit::RegisterType area, int address)
{
    const int index = indexOf(area, address);
    if (index >= 0)
        m_traces.remove(index);
}

int TrendRecorder::indexOf(QModbusDataUnit::RegisterType area, int address) const
{
    for (int i = 0; i < m_traces.size(); ++i) {
        if (m_traces.at(i).area == area && m_traces.at(i).address == address)
            return i;
    }
    return -1;
}

void TrendRecorder::feed(const DecodedReply &reply, qint64 timeMs)
{
    for (Trace &trace : m_traces) {
        if (trace.area != reply.area)
            continue;
        const DecodedRegister *decoded = reply.find(trace.address);
        if (decoded && decoded->inTable)
            trace.series.append(timeMs, decoded->number.value_or(trendGap));
    }
}

void TrendRecorder::setResolution(qint64 shownSpanMs, int columns, qint64 keptMs)
{
    m_shownSpanMs = shownSpanMs;
    m_columns = columns;
    m_keptMs = keptMs;
    for (Trace &trace : m_traces)
        trace.series.setResolution(shownSpanMs, columns, keptMs);
}

int TrendRecorder::pointCount() const
{
    int count = 0;
    for (const Trace &trace : m_traces)
        count += trace.series.points().size();
    return count;
}
