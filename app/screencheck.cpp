#include "screencheck.h"

QPoint checkedWindowPosition(const QPoint &stored, const QList<QRect> &screens)
{
    if (screens.isEmpty())
        return stored;

    bool xAccepted = false;
    bool yAccepted = false;
    for (const QRect &screen : screens) {
        // QRect::right() and bottom() are left + width - 1 and top + height - 1.
        if (screen.left() < stored.x() && stored.x() < screen.right())
            xAccepted = true;
        if (screen.top() < stored.y() && stored.y() < screen.bottom())
            yAccepted = true;
    }

    QPoint result = stored;
    if (!xAccepted)
        result.setX(screens.first().left() + 10);
    if (!yAccepted)
        result.setY(screens.first().top() + 10);
    return result;
}
