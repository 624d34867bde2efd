#ifndef AUTOSIZEHOLD_H
#define AUTOSIZEHOLD_H

#include <QHeaderView>
#include <QList>

// While it lives, the header's resize-to-contents sections are held at their width. A shown
// table re-measures such a section over all its rows on every change of one of its cells, which
// makes a bulk update of a full table take seconds; under this guard each section sizes itself
// once, when the guard ends.
class AutoSizeHold
{
public:
    explicit AutoSizeHold(QHeaderView *header)
        : m_header(header)
    {
        for (int section = 0; section < header->count(); ++section) {
            if (header->sectionResizeMode(section) == QHeaderView::ResizeToContents) {
                m_sections.append(section);
                header->setSectionResizeMode(section, QHeaderView::Interactive);
            }
        }
    }

    ~AutoSizeHold()
    {
        for (int section : qAsConst(m_sections))
            m_header->setSectionResizeMode(section, QHeaderView::ResizeToContents);
    }

    AutoSizeHold(const AutoSizeHold &) = delete;
    AutoSizeHold &operator=(const AutoSizeHold &) = delete;

private:
    QHeaderView *m_header;
    QList<int> m_sections;
};

#endif // AUTOSIZEHOLD_H
