#include "app/design/AdaptiveGrid.h"

#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

TEST(AdaptiveGrid, FitsAsManyColumnsOfTheMinimumAsTheWidthHolds)
{
    // Three columns of 280 with two gaps of 14 need exactly 868.
    EXPECT_EQ(AdaptiveGrid::columns(867, 280, 14), 2);
    EXPECT_EQ(AdaptiveGrid::columns(868, 280, 14), 3);
    EXPECT_EQ(AdaptiveGrid::columns(100, 280, 14), 1);
    EXPECT_EQ(AdaptiveGrid::columns(0, 280, 14), 1);
}

// A card of a fixed natural height that may stretch.
QWidget* card(QWidget* parent, int height)
{
    auto* widget = new QWidget(parent);
    widget->setMinimumHeight(height);
    widget->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    return widget;
}

TEST(AdaptiveGrid, RowsAreAsTallAsTheirTallestCardAndInsertedCardsTakeTheirPlace)
{
    QWidget host;
    auto* grid = new AdaptiveGrid(100, 10, &host);
    QWidget* a = card(&host, 40);
    QWidget* b = card(&host, 60);
    QWidget* c = card(&host, 30);
    grid->addWidget(a);
    grid->addWidget(c);
    grid->insertWidget(1, b);
    grid->setGeometry(QRect(0, 0, 210, 1000));

    EXPECT_EQ(grid->columnCount(), 2);
    EXPECT_EQ(a->geometry(), QRect(0, 0, 100, 60));
    EXPECT_EQ(b->geometry(), QRect(110, 0, 100, 60));
    EXPECT_EQ(c->geometry(), QRect(0, 70, 100, 30));
    EXPECT_EQ(grid->heightForWidth(210), 100);
}

} // namespace
