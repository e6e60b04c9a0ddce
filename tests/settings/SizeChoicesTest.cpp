#include "settings/SizeChoices.h"

#include "support/TestSupport.h"

#include <cmath>
#include <limits>

using SizeChoices::Entry;

TEST(SizeChoices, ProcessorsAndMemoryFitTheMachine)
{
    EXPECT_EQ(SizeChoices::processors(8), (QList<int>{2, 4, 6, 8}));
    EXPECT_EQ(SizeChoices::processors(10), (QList<int>{2, 4, 6, 8, 10}));
    EXPECT_EQ(SizeChoices::processors(7.9), (QList<int>{2, 4, 6}));
    // Even a machine that reports one processor, or nothing sensible, offers 2.
    for (const double odd : {1.0, 0.0, -3.0, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_EQ(SizeChoices::processors(odd), (QList<int>{2})) << odd;

    const quint64 gib = quint64(1) << 30;
    EXPECT_EQ(SizeChoices::memory(16 * gib), (QList<int>{2, 4, 8, 16}));
    EXPECT_EQ(SizeChoices::memory(16 * gib - 1), (QList<int>{2, 4, 8}));
    EXPECT_EQ(SizeChoices::memory(512 * gib), (QList<int>{2, 4, 8, 16, 32, 64}));
    EXPECT_EQ(SizeChoices::memory(gib), QList<int>{});
}

TEST(SizeChoices, AStoredSizeOutsideTheChoicesIsShownMarked)
{
    const QList<int> memory{2, 4, 8, 16};
    const QList<Entry> plain{{0, "Default", false},
                             {2, "2 GB", false},
                             {4, "4 GB", false},
                             {8, "8 GB", false},
                             {16, "16 GB", false}};
    EXPECT_EQ(SizeChoices::entries(memory, "Default", "GB", 0), plain);
    EXPECT_EQ(SizeChoices::entries(memory, "Default", "GB", 8), plain);
    // Zero and below are the tool's own size, never an entry of their own.
    EXPECT_EQ(SizeChoices::entries(memory, "Default", "GB", -4), plain);

    QList<Entry> larger = plain;
    larger.append({64, "64 GB (saved)", true});
    EXPECT_EQ(SizeChoices::entries(memory, "Default", "GB", 64), larger);

    // In order of size, and processors have no unit.
    const QList<Entry> odd{{0, "As it is", false}, {2, "2", false}, {3, "3 (saved)", true}, {4, "4", false}};
    EXPECT_EQ(SizeChoices::entries({2, 4}, "As it is", "", 3), odd);
}
