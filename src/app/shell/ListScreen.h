#pragma once

#include "app/parts/Category.h"

#include <QWidget>

class AppStore;
class EmptyState;
class QHBoxLayout;
class QVBoxLayout;
class VoskCard;

// The frame of a list section (the images, the volumes): in a scroll view, a bar across the top, then
// either the rows on one card or, when there is nothing to list, the section's empty state.
class ListScreen : public QWidget {
    Q_OBJECT

protected:
    // `cardName` names the card of rows, for tests.
    ListScreen(AppStore& store, Category category, const QString& cardName, QWidget* parent);

    // Where the bar's controls go, and what they belong to.
    QHBoxLayout* topBar() const { return m_bar; }
    QWidget* content() const { return m_content; }
    // The card's column of rows.
    QVBoxLayout* rows() const { return m_rows; }
    QWidget* card() const;
    // The empty state instead of the card, or the card again.
    void showEmpty(bool empty);

private:
    QWidget* m_content;
    QHBoxLayout* m_bar;
    EmptyState* m_empty;
    VoskCard* m_card;
    QVBoxLayout* m_rows;
};
