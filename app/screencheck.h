#ifndef SCREENCHECK_H
#define SCREENCHECK_H

#include <QList>
#include <QPoint>
#include <QRect>

// The stored window position checked against the screens' full geometries: each coordinate
// independently must lie strictly inside some screen (edges count as outside); one that does
// not is moved to the first screen's edge plus 10.
QPoint checkedWindowPosition(const QPoint &stored, const QList<QRect> &screens);

#endif // SCREENCHECK_H
