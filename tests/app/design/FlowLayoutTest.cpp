#include "app/design/FlowLayout.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr double unbounded = std::numeric_limits<double>::infinity();

struct FlowRow {
    const char* what;
    QList<QSizeF> sizes;
    double maxWidth;
    double spacing;
    QSizeF size;
    QList<QPointF> origins;
};

// Names the row in test listings instead of dumping its bytes.
void PrintTo(const FlowRow& row, std::ostream* out)
{
    *out << row.what;
}

class Arrangements : public testing::TestWithParam<FlowRow> {};

TEST_P(Arrangements, PlaceChildrenLikeWordsInAParagraph)
{
    const FlowRow& row = GetParam();
    const FlowLayout::Arrangement arranged = FlowLayout::arrange(row.sizes, row.maxWidth, row.spacing);
    EXPECT_EQ(arranged.size, row.size) << row.what;
    EXPECT_EQ(arranged.origins, row.origins) << row.what;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Arrangements,
    testing::Values(
        FlowRow{"three chips in 100 with gaps of 6",
                {{40, 20}, {40, 20}, {40, 20}},
                100,
                6,
                {86, 46},
                {{0, 0}, {46, 0}, {0, 26}}},
        FlowRow{"no children", {}, 100, 6, {0, 0}, {}},
        FlowRow{"one child wider than the width sits alone", {{150, 20}}, 100, 6, {150, 20}, {{0, 0}}},
        FlowRow{"a wide child after others starts a row, the next another",
                {{30, 10}, {150, 20}, {30, 10}},
                100,
                6,
                {150, 52},
                {{0, 0}, {0, 16}, {0, 42}}},
        FlowRow{"an exact fit stays on one row", {{47, 10}, {47, 10}}, 100, 6, {100, 10}, {{0, 0}, {53, 0}}},
        FlowRow{"unbounded width is one row",
                {{40, 20}, {10, 30}, {25, 5}},
                unbounded,
                6,
                {87, 30},
                {{0, 0}, {46, 0}, {62, 0}}},
        FlowRow{"rows of different heights",
                {{60, 10}, {30, 24}, {50, 8}},
                100,
                4,
                {94, 36},
                {{0, 0}, {64, 0}, {0, 28}}},
        FlowRow{"no spacing: children and rows touch",
                {{50, 10}, {50, 10}, {50, 10}},
                100,
                0,
                {100, 20},
                {{0, 0}, {50, 0}, {0, 10}}},
        FlowRow{"a zero width still takes the first child of each row",
                {{10, 10}, {10, 10}},
                0,
                2,
                {10, 22},
                {{0, 0}, {0, 12}}}),
    [](const testing::TestParamInfo<FlowRow>& info) { return "case" + std::to_string(info.index); });

// A fixed-size child, so the layout sees exactly the sizes of the worked example.
QWidget* chip(QWidget* parent, int width, int height)
{
    auto* widget = new QWidget(parent);
    widget->setFixedSize(width, height);
    return widget;
}

TEST(FlowLayoutPlacement, ChildrenGoAtTheirIdealSizeOffsetByTheBounds)
{
    QWidget host;
    auto* layout = new FlowLayout(6, &host);
    QWidget* chips[] = {chip(&host, 40, 20), chip(&host, 40, 20), chip(&host, 40, 20)};
    for (QWidget* c : chips)
        layout->addWidget(c);

    layout->setGeometry(QRect(10, 5, 100, 200));
    EXPECT_EQ(chips[0]->geometry(), QRect(10, 5, 40, 20));
    EXPECT_EQ(chips[1]->geometry(), QRect(56, 5, 40, 20));
    EXPECT_EQ(chips[2]->geometry(), QRect(10, 31, 40, 20));

    EXPECT_TRUE(layout->hasHeightForWidth());
    EXPECT_EQ(layout->heightForWidth(100), 46);
    EXPECT_EQ(layout->heightForWidth(200), 20);
    EXPECT_EQ(layout->sizeHint(), QSize(132, 20)); // everything on one row
    EXPECT_EQ(layout->minimumSize(), QSize(40, 20));
}

TEST(FlowLayoutPlacement, HiddenChildrenTakeNoPlace)
{
    QWidget host;
    auto* layout = new FlowLayout(6, &host);
    QWidget* first = chip(&host, 40, 20);
    QWidget* hidden = chip(&host, 40, 20);
    QWidget* last = chip(&host, 40, 20);
    layout->addWidget(first);
    layout->addWidget(hidden);
    layout->addWidget(last);
    hidden->hide();
    layout->setGeometry(QRect(0, 0, 100, 100));
    EXPECT_EQ(last->geometry(), QRect(46, 0, 40, 20));
    EXPECT_EQ(layout->heightForWidth(100), 20);
}

TEST(FlowLayoutPlacement, TakingAChildOutGivesItBack)
{
    QWidget host;
    auto* layout = new FlowLayout(4, &host);
    layout->addWidget(chip(&host, 10, 10));
    EXPECT_EQ(layout->count(), 1);
    QLayoutItem* item = layout->takeAt(0);
    ASSERT_NE(item, nullptr);
    delete item;
    EXPECT_EQ(layout->count(), 0);
    EXPECT_EQ(layout->takeAt(3), nullptr);
    EXPECT_EQ(layout->itemAt(-1), nullptr);
}

} // namespace
