#include "app/design/Fonts.h"
#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"

#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

class BundledFonts : public testing::Test {
protected:
    static void SetUpTestSuite() { registerBundledFonts(); }
};

// Registered files must outlive every later font lookup of the process, so the folders the rule is
// tried on stay until it ends, and go with the process's static objects.
QTemporaryDir& keptDir()
{
    static std::vector<std::unique_ptr<QTemporaryDir>> dirs;
    return *dirs.emplace_back(std::make_unique<QTemporaryDir>());
}

TEST(FontFileRule, OnlyLowerCaseTtfAndTtcFilesAreRegistered)
{
    QTemporaryDir& dir = keptDir();
    ASSERT_TRUE(dir.isValid());
    // Real font data under every name, so only the rule decides.
    for (const char* name : {"alpha.ttf", "beta.TTF", "gamma.otf", "delta.ttc", ".ttf", "notes.txt"})
        ASSERT_TRUE(QFile::copy(bundledFontsFolder() + "/Inter-Regular.ttf", dir.filePath(name))) << name;
    ASSERT_TRUE(QDir(dir.path()).mkdir("nested"));
    ASSERT_TRUE(QFile::copy(bundledFontsFolder() + "/Inter-Regular.ttf", dir.filePath("nested/epsilon.ttf")));

    EXPECT_EQ(registerFontsIn(dir.path()), (QStringList{"alpha.ttf", "delta.ttc"}));
}

TEST(FontFileRule, AMissingFolderOrADamagedFileIsSkippedSilently)
{
    EXPECT_TRUE(registerFontsIn("/nonexistent/voskel/Fonts").isEmpty());

    QTemporaryDir& dir = keptDir();
    QFile damaged(dir.filePath("broken.ttf"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("not a font");
    damaged.close();
    ASSERT_TRUE(QFile::copy(bundledFontsFolder() + "/Inter-Medium.ttf", dir.filePath("good.ttf")));
    EXPECT_EQ(registerFontsIn(dir.path()), QStringList{"good.ttf"});
}

TEST_F(BundledFonts, TheBuildBundlesEveryFaceTheDesignNames)
{
    const QStringList files = QDir(bundledFontsFolder()).entryList(QDir::Files);
    for (const char* name :
         {"Inter-Regular.ttf", "Inter-Medium.ttf", "Inter-SemiBold.ttf", "SpaceGrotesk-SemiBold.ttf",
          "JetBrainsMono-Regular.ttf", "JetBrainsMono-Medium.ttf"})
        EXPECT_TRUE(files.contains(name)) << name;
}

struct FaceRow {
    const char* what;
    TextStyle text;
    const char* family;
    int weight;
    const char* style;
};

// Names the row in test listings instead of dumping its bytes.
void PrintTo(const FaceRow& row, std::ostream* out)
{
    *out << row.what;
}

class Faces : public BundledFonts, public testing::WithParamInterface<FaceRow> {};

// The static file of the asked weight is the one used: a weight is never faked with a bold trait.
TEST_P(Faces, ResolveToTheFileOfTheirWeight)
{
    const FaceRow& row = GetParam();
    const QFontInfo info(row.text.font());
    EXPECT_EQ(info.family(), row.family) << row.what;
    EXPECT_EQ(info.weight(), row.weight) << row.what;
    EXPECT_EQ(info.styleName(), row.style) << row.what;
    EXPECT_FALSE(info.italic()) << row.what;
}

INSTANTIATE_TEST_SUITE_P(
    Design, Faces,
    testing::Values(FaceRow{"badge", TextStyles::badge, "JetBrains Mono", 500, "Medium"},
                    FaceRow{"mono regular", TextStyles::mono, "JetBrains Mono", 400, "Regular"},
                    FaceRow{"vital figure", TextStyles::vitalValue, "Space Grotesk", 600, "SemiBold"},
                    FaceRow{"caption, by font name", TextStyles::caption, "Inter", 400, "Regular"},
                    FaceRow{"button label, by font name", TextStyles::label, "Inter", 500, "Medium"},
                    FaceRow{"selected sidebar entry", TextStyles::bodySelected, "Inter", 600, "SemiBold"}),
    [](const testing::TestParamInfo<FaceRow>& info) { return "case" + std::to_string(info.index); });

TEST(FontNames, AreReadAsFamilyAndWeight)
{
    EXPECT_EQ(Vosk::named("Inter-SemiBold", 13).family(), "Inter");
    EXPECT_EQ(Vosk::named("Inter-SemiBold", 13).weight(), QFont::DemiBold);
    EXPECT_EQ(Vosk::named("Inter-Regular", 13).weight(), QFont::Normal);
    // Not a weight's style name: the whole name is the family.
    EXPECT_EQ(Vosk::named("Inter-Oblong", 13).family(), "Inter-Oblong");
    EXPECT_EQ(Vosk::named("Inter-Oblong", 13).weight(), QFont::Normal);
    EXPECT_EQ(Vosk::varied("Space Grotesk", std::nan(""), 24).weight(), QFont::Normal);
}

TEST_F(BundledFonts, SizesAreDeviceIndependentPixels)
{
    for (double size : {9.0, 9.5, 12.0, 24.0}) {
        const QFont font = Vosk::varied("JetBrains Mono", 400, size);
        const double dpi = QGuiApplication::primaryScreen()->logicalDotsPerInchY();
        EXPECT_NEAR(font.pointSizeF() * dpi / 72, size, 0.01);
    }
    EXPECT_EQ(QFontInfo(Vosk::named("Inter-Medium", 12)).pixelSize(), 12);
}

TEST_F(BundledFonts, StylesInCapitalsLeaveTheCallersTextAlone)
{
    const QString text = QStringLiteral("Dir missing");
    EXPECT_EQ(TextStyles::badge.display(text), "DIR MISSING");
    EXPECT_EQ(text, "Dir missing");
    EXPECT_EQ(TextStyles::caption.display(text), "Dir missing");
    EXPECT_NEAR(TextStyles::badge.font().letterSpacing(), 1.1, 1.0 / 64);
    EXPECT_EQ(TextStyles::badge.font().letterSpacingType(), QFont::AbsoluteSpacing);
}

TEST(SymbolTable, EverySymbolNameHasABundledDrawing)
{
    const QStringList names = Symbols::names();
    EXPECT_GE(names.size(), 20);
    for (const QString& name : names) {
        EXPECT_TRUE(QFile::exists(Symbols::resourceFor(name))) << name.toStdString();
        EXPECT_FALSE(Symbols::pixmap(name, 13, Qt::black).isNull()) << name.toStdString();
    }
    for (const char* used : {"arrow.clockwise", "ellipsis", "exclamationmark.triangle", "shippingbox", "cpu",
                             "memorychip", "externaldrive", "doc.on.doc", "arrow.up.right", "trash"})
        EXPECT_TRUE(Symbols::has(used)) << used;
}

TEST(SymbolTable, SymbolsAreTintedWhenDrawnAndUnknownNamesDrawNothing)
{
    const QImage red = Symbols::pixmap("square", 16, QColor(200, 0, 0)).toImage();
    int inked = 0;
    for (int y = 0; y < red.height(); ++y) {
        for (int x = 0; x < red.width(); ++x) {
            const QColor pixel = red.pixelColor(x, y);
            if (pixel.alpha() == 0)
                continue;
            ++inked;
            EXPECT_EQ(pixel.toRgb().green(), 0);
            EXPECT_EQ(pixel.toRgb().blue(), 0);
        }
    }
    EXPECT_GT(inked, 20);

    EXPECT_TRUE(Symbols::pixmap("no.such.symbol", 13, Qt::black).isNull());
    QImage canvas(20, 20, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    Symbols::paint(painter, "no.such.symbol", QRectF(0, 0, 20, 20), 13, Qt::black);
    Symbols::paint(painter, "ellipsis", QRectF(0, 0, 20, 20), -3, Qt::black);
    painter.end();
    EXPECT_EQ(canvas.pixelColor(10, 10), QColor(Qt::white));
}

} // namespace
