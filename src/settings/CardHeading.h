#pragma once

#include <QString>

class QHBoxLayout;
class QVBoxLayout;
class QWidget;
class VoskBadge;
class VoskLabel;

// The upper part of a tool's card or row in the Settings window: the title and what the tool is, over
// a line of what it has and a badge for its state. The card adds its buttons at the end of `row` and
// its other parts below it in `column`.
struct CardHeading {
    QVBoxLayout* column; // the card's own layout, with the heading's row in it
    QHBoxLayout* row;    // the text, then the card's buttons
    VoskLabel* title;
    VoskLabel* explanation;
    VoskLabel* size; // empty and hidden until the card fills it
    VoskBadge* badge;

    // Lays `card` out with the heading; `prefix` names the size label and the badge
    // ("builder" gives "builderSizeLabel" and "builderBadge").
    static CardHeading build(QWidget* card, const QString& title, const QString& explanation,
                             const QString& prefix);
};
