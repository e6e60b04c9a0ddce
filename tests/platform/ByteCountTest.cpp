#include "platform/ByteCount.h"

#include "support/TestSupport.h"

#include <limits>

using Platform::ByteCountStyle;

namespace {

struct Row {
    qint64 bytes;
    ByteCountStyle style;
    const char* text;
};

} // namespace

TEST(ByteCount, WritesUnitsAndFractionDigitsAsTheDesktopDoes)
{
    const Row rows[] = {
        {0, ByteCountStyle::File, "Zero KB"},
        {0, ByteCountStyle::Memory, "Zero KB"},
        {1, ByteCountStyle::File, "1 byte"},
        {2, ByteCountStyle::File, "2 bytes"},
        {999, ByteCountStyle::File, "999 bytes"},
        {1000, ByteCountStyle::File, "1 KB"},
        {1499, ByteCountStyle::File, "1 KB"},
        {1500, ByteCountStyle::File, "2 KB"},
        {300000, ByteCountStyle::File, "300 KB"},
        // Rounding that reaches the next unit is written in that unit.
        {999499, ByteCountStyle::File, "999 KB"},
        {999500, ByteCountStyle::File, "1 MB"},
        {1000000, ByteCountStyle::File, "1 MB"},
        {1500000, ByteCountStyle::File, "1.5 MB"},
        {2364000, ByteCountStyle::File, "2.4 MB"},
        {1234567890, ByteCountStyle::File, "1.23 GB"},
        {1200000000, ByteCountStyle::File, "1.2 GB"},
        {3000000000000, ByteCountStyle::File, "3 TB"},
        // Memory counts in 1,024s under the same unit names; bytes below a kilobyte are grouped.
        {1023, ByteCountStyle::Memory, "1,023 bytes"},
        {1024, ByteCountStyle::Memory, "1 KB"},
        {692224, ByteCountStyle::Memory, "676 KB"},
        {1048575, ByteCountStyle::Memory, "1 MB"},
        {1572864, ByteCountStyle::Memory, "1.5 MB"},
        {17179869184, ByteCountStyle::Memory, "16 GB"},
        {25275658240, ByteCountStyle::Memory, "23.54 GB"},
        {-1500000, ByteCountStyle::File, "-1.5 MB"},
        {-1, ByteCountStyle::File, "-1 byte"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Platform::byteCount(row.bytes, row.style), QString::fromUtf8(row.text)) << row.bytes;
}

TEST(ByteCount, TheExtremesOfTheRangeStillReadAsSizes)
{
    EXPECT_EQ(Platform::fileSize(std::numeric_limits<qint64>::max()), "9.22 EB");
    EXPECT_EQ(Platform::fileSize(std::numeric_limits<qint64>::min()), "-9.22 EB");
    EXPECT_EQ(Platform::memorySize(std::numeric_limits<qint64>::max()), "8 EB");
}
