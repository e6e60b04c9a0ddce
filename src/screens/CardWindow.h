#pragma once

// Which cards of a long grid exist: the rows that meet the part of the grid on screen and as many rows
// again above and below it, at least `least` cards in all. The rows before and after stand as room of
// the height they would take, so the grid keeps its length and the scroll bar its place, while the
// widgets made stay bounded whatever the number of cards.
struct CardWindow {
    int first = 0; // the first card made
    int count = 0; // how many are made, from `first`
    int above = 0; // room for the rows before, in pixels, spacing included
    int below = 0; // room for the rows after

    // `total` cards in rows of `columns`, each row `rowHeight` tall and `spacing` apart; the part on
    // screen runs from `shownTop` to `shownBottom` in the grid's own coordinates.
    static CardWindow of(int total, int columns, double rowHeight, double spacing, int shownTop,
                         int shownBottom, int least);
    // The same cards, with the room before and after them for rows `rowHeight` tall.
    CardWindow withRowHeight(int total, int columns, double rowHeight, double spacing) const;

    bool operator==(const CardWindow&) const = default;
};
