#ifndef FRAMETEXT_H
#define FRAMETEXT_H

#include "framecapture.h"

#include <QString>

// The texts of one captured frame as the traffic monitor shows and saves them.

// "发送", "接收", or "—" for an outcome without a frame.
QString frameDirectionText(const CapturedFrame &frame);
// "12:34:56.789", or with the date in front ("2024-05-01 12:34:56.789"); local time.
QString frameTimeText(qint64 msecsSinceEpoch, bool withDate = false);
// What the frame says: the function with its address and count (or value), the exception and
// its name, that the frame is damaged, or that the request timed out after its retries.
QString frameSummary(const CapturedFrame &frame);
// The request a frame belongs to, as "读保持寄存器 地址 0 数量 3" (empty for none).
QString requestSummary(const QByteArray &request);
// One line of a saved log: date and time, direction, the frame in hex, the summary, separated
// by tabs.
QString frameLine(const CapturedFrame &frame);

#endif // FRAMETEXT_H
