#include "diagnostics/shot/ShotPng.h"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

TEST(ShotPng, DecodesToTheSamePixelsWhateverTheChannel)
{
    // Odd width, so rows are not a multiple of anything convenient; every channel distinct.
    QImage image(7, 3, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y, QColor(x * 30, y * 80, 255 - x * 20));
    const std::optional<QByteArray> data = ShotPng::encode(image);
    ASSERT_TRUE(data);
    QImage decoded;
    ASSERT_TRUE(decoded.loadFromData(*data, "PNG"));
    EXPECT_FALSE(decoded.hasAlphaChannel());
    EXPECT_EQ(decoded.convertToFormat(QImage::Format_RGB32), image);

    // Other formats are taken too, without their alpha.
    const std::optional<QByteArray> fromAlpha = ShotPng::encode(image.convertToFormat(QImage::Format_ARGB32));
    ASSERT_TRUE(fromAlpha);
    EXPECT_EQ(*fromAlpha, *data);
    EXPECT_FALSE(ShotPng::encode(QImage()));
}
