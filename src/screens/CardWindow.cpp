#include "screens/CardWindow.h"

#include <algorithm>
#include <cmath>

CardWindow CardWindow::of(int total, int columns, double rowHeight, double spacing, int shownTop,
                          int shownBottom, int least)
{
    CardWindow window;
    if (total <= 0)
        return window;
    columns = std::max(1, columns);
    const int rows = (total + columns - 1) / columns;
    const double pitch = std::max(1.0, rowHeight + std::max(0.0, spacing));
    const int span = std::max(0, shownBottom - shownTop);
    // A screen's worth on either side: a flick of the wheel finds its cards made already.
    const double top = double(shownTop) - span;
    const double bottom = double(shownBottom) + span;
    int firstRow = std::clamp(int(std::floor(top / pitch)), 0, rows);
    int endRow = std::clamp(int(std::ceil(bottom / pitch)), firstRow, rows);
    const int leastRows = std::min(rows, (std::max(0, least) + columns - 1) / columns);
    while (endRow - firstRow < leastRows) {
        if (endRow < rows)
            ++endRow;
        else
            --firstRow;
    }
    window.first = firstRow * columns;
    window.count = std::min(total, endRow * columns) - window.first;
    return window.withRowHeight(total, columns, rowHeight, spacing);
}

CardWindow CardWindow::withRowHeight(int total, int columns, double rowHeight, double spacing) const
{
    CardWindow window = *this;
    columns = std::max(1, columns);
    const int rows = (std::max(0, total) + columns - 1) / columns;
    const int firstRow = first / columns;
    const int endRow = std::min(rows, (first + count + columns - 1) / columns);
    const double pitch = std::max(1.0, rowHeight + std::max(0.0, spacing));
    window.above = int(std::lround(firstRow * pitch));
    window.below = int(std::lround(std::max(0, rows - endRow) * pitch));
    return window;
}
