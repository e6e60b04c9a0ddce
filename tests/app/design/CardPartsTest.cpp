#include "app/design/Eyebrow.h"
#include "app/design/Fonts.h"
#include "app/design/Meter.h"
#include "app/design/StatStrip.h"
#include "app/design/Theme.h"
#include "app/design/VitalCaption.h"
#include "app/design/VitalCard.h"
#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

class CardParts : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        registerBundledFonts();
        Theme::instance().install(false);
    }
    void TearDown() override { Theme::instance().setAppearance(Appearance::automatic); }
};

struct MeterRow {
    const char* what;
    double fraction;
    bool rest;
    Meter::Segments parts;
};

// Names the row in test listings instead of dumping its bytes.
void PrintTo(const MeterRow& row, std::ostream* out)
{
    *out << row.what;
}

class MeterSegments : public testing::TestWithParam<MeterRow> {};

TEST_P(MeterSegments, HoldTheShareBetweenEmptyAndFull)
{
    const MeterRow& row = GetParam();
    const Meter::Segments parts = Meter::segments(row.fraction, 200, row.rest);
    EXPECT_DOUBLE_EQ(parts.tintWidth, row.parts.tintWidth) << row.what;
    if (row.rest) {
        EXPECT_DOUBLE_EQ(parts.restX, row.parts.restX) << row.what;
        EXPECT_DOUBLE_EQ(parts.restWidth, row.parts.restWidth) << row.what;
    } else {
        EXPECT_DOUBLE_EQ(parts.restWidth, 0) << row.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fractions, MeterSegments,
    testing::Values(MeterRow{"above one fills the track", 1.7, false, {200, 0, 0}},
                    MeterRow{"below zero shows only the track", -0.2, false, {0, 0, 0}},
                    MeterRow{"a quarter, a gap, then the rest", 0.25, true, {50, 52, 148}},
                    MeterRow{"full with a rest leaves no rest", 1, true, {200, 202, 0}},
                    MeterRow{"empty with a rest", 0, true, {0, 2, 198}},
                    MeterRow{"not a number is empty", std::nan(""), false, {0, 0, 0}},
                    MeterRow{"infinity is empty", std::numeric_limits<double>::infinity(), false, {0, 0, 0}}),
    [](const testing::TestParamInfo<MeterRow>& info) { return "case" + std::to_string(info.index); });

TEST_F(CardParts, AShownMeterEasesToItsNewShare)
{
    Meter meter(0.1, Vosk::ink);
    meter.resize(200, 6);
    meter.show();
    const QImage before = meter.grab().toImage();
    meter.setFraction(0.9);
    // Not there at once: the fill moves over 0.3 seconds.
    EXPECT_NE(meter.grab().toImage().pixelColor(150, 3), Vosk::ink.color());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return meter.grab().toImage().pixelColor(150, 3) == Vosk::ink.color(); }, 3000));
    EXPECT_EQ(before.pixelColor(150, 3), Vosk::wash.color());
}

TEST_F(CardParts, AMoveTooSmallToShowAtOneWidthShowsOnceTheMeterGrows)
{
    Meter meter(0.1, Vosk::ink);
    meter.resize(0, 6);
    meter.show();
    meter.setFraction(0.9);
    meter.resize(200, 6);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return meter.grab().toImage().pixelColor(150, 3) == Vosk::ink.color(); }, 3000));
}

TEST_F(CardParts, AVitalWithoutAFigureShowsAMutedDashAndAnEmptyMeter)
{
    VitalCard card("externaldrive", "Disk space", std::nullopt, "used", 0.8, Vosk::ink, nullptr,
                   new VitalCaption("Measuring…"));
    EXPECT_EQ(card.meterFraction(), 0);
    EXPECT_EQ(card.unit(), "used");
    EXPECT_EQ(card.accessibleName(), QStringLiteral("Disk space, \u2014 used"));
    card.resize(220, 140);
    const QImage empty = card.grab().toImage();

    card.setFigure(QStringLiteral("4.2 GB"), "used", 0.8);
    EXPECT_DOUBLE_EQ(card.meterFraction(), 0.8);
    EXPECT_NE(card.grab().toImage(), empty);
}

TEST_F(CardParts, AStripShowsAnAbsentFigureAsAMutedRegularDash)
{
    StatStrip strip(QStringLiteral("3.2%"), std::nullopt, QStringLiteral("1.4 GB"));
    VoskLabel* cpu = strip.valueLabel(0);
    VoskLabel* memory = strip.valueLabel(1);
    ASSERT_NE(cpu, nullptr);
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(memory->plainText(), QStringLiteral("\u2014"));
    EXPECT_EQ(&memory->ink(), &Vosk::muted);
    EXPECT_EQ(memory->textStyle().weight, 400);
    EXPECT_EQ(cpu->plainText(), "3.2%");
    EXPECT_EQ(&cpu->ink(), &Vosk::ink);
    EXPECT_EQ(cpu->textStyle().weight, 500);
    EXPECT_EQ(strip.valueLabel(2)->plainText(), "1.4 GB");
    EXPECT_EQ(strip.valueLabel(3), nullptr);

    strip.setFigures(std::nullopt, QStringLiteral("812 MB"), std::nullopt);
    EXPECT_EQ(&cpu->ink(), &Vosk::muted);
    EXPECT_EQ(memory->plainText(), "812 MB");
}

TEST_F(CardParts, ALongCaptionIsCutInTheMiddleAndTheTooltipHoldsAllOfIt)
{
    const QString text =
        QStringLiteral("Biggest: a-very-long-service-name-for-the-database <primary>, 812 MB");
    VitalCaption caption(text);
    const VoskLabel::Fit fit = caption.fit(120);
    EXPECT_TRUE(fit.text.contains(QStringLiteral("…")));
    EXPECT_TRUE(fit.text.startsWith("Bigg"));
    EXPECT_TRUE(fit.text.endsWith("MB"));
    EXPECT_DOUBLE_EQ(fit.scale, 1);
    // Shown as plain text: the angle brackets are not read as markup.
    EXPECT_TRUE(caption.toolTip().contains(QStringLiteral("&lt;primary&gt;")));
    EXPECT_LT(caption.minimumSizeHint().width(), 30);
}

TEST_F(CardParts, AFigureShrinksToItsFloorBeforeItIsShortened)
{
    VoskLabel figure(QStringLiteral("312.75%"), TextStyles::figure, Vosk::ink);
    figure.setMinimumScale(0.8);
    figure.setElideMode(Qt::ElideRight);
    const double natural = figure.fontMetrics().horizontalAdvance(figure.text());

    const VoskLabel::Fit slightly = figure.fit(natural * 0.9);
    EXPECT_GT(slightly.scale, 0.8);
    EXPECT_LT(slightly.scale, 0.92);
    EXPECT_EQ(slightly.text, "312.75%");
    EXPECT_LE(QFontMetricsF(TextStyles::figure.scaled(slightly.scale).font()).horizontalAdvance("312.75%"),
              natural * 0.9);

    const VoskLabel::Fit far = figure.fit(natural * 0.5);
    EXPECT_DOUBLE_EQ(far.scale, 0.8);
    EXPECT_TRUE(far.text.endsWith(QStringLiteral("…")));

    EXPECT_DOUBLE_EQ(figure.fit(natural + 1).scale, 1);
}

TEST_F(CardParts, AVitalFigureStaysWholeAndItsUnitGivesWayFirst)
{
    const auto figureWidth = [](const VitalCard::FigureFit& fit) {
        return QFontMetricsF(TextStyles::vitalValue.scaled(fit.scale).font()).horizontalAdvance(fit.figure);
    };
    const QString unit = "of 23.54 GB";
    const double natural = QFontMetricsF(TextStyles::vitalValue.font()).horizontalAdvance("10.53 GB");
    const double unitWidth = QFontMetricsF(TextStyles::caption.font()).horizontalAdvance(unit);
    struct Row {
        double width;
        bool scaled;    // the figure's face is below its size
        bool wholeUnit; // the unit shows in full
        bool wholeFigure;
    } rows[] = {
        {natural + unitWidth + VitalCard::unitSpacing + 1, false, true, true},
        {natural * 0.9 + unitWidth + VitalCard::unitSpacing, true, true, true},
        // The width of a tile at its narrowest: the figure keeps its unit of measure, the "of" gives way.
        {natural * 0.75 + 40, true, false, true},
        {natural * 0.75 + 2, true, false, true},
        {natural * 0.5, true, false, false},
    };
    for (const Row& row : rows) {
        const VitalCard::FigureFit fit = VitalCard::fitFigure("10.53 GB", unit, row.width);
        EXPECT_EQ(fit.scale < 1, row.scaled) << row.width;
        EXPECT_EQ(fit.unit == unit, row.wholeUnit) << row.width << " " << fit.unit.toStdString();
        EXPECT_EQ(fit.figure == "10.53 GB", row.wholeFigure) << row.width << " " << fit.figure.toStdString();
        EXPECT_GE(fit.scale, VitalCard::minimumScale);
        const double unitShown = fit.unit.isEmpty()
                                     ? 0
                                     : QFontMetricsF(TextStyles::caption.font()).horizontalAdvance(fit.unit) +
                                           VitalCard::unitSpacing;
        EXPECT_LE(figureWidth(fit) + unitShown, row.width + 0.5) << row.width;
    }
    // Without a figure the dash keeps the unit beside it.
    EXPECT_EQ(VitalCard::fitFigure("\u2014", "used", 150).unit, "used");
}

TEST_F(CardParts, ALabelHeldToItsLinesShowsItsStartAndEndsTheLastInAnEllipsis)
{
    const QString sentence = "Error response from daemon: driver failed programming external connectivity on "
                             "endpoint shop-web-1: Bind for 0.0.0.0:8080 failed: port is already allocated";
    struct Row {
        QString text;
        int lines;
        int width;
        int shown; // lines drawn by the label itself when 0
    } rows[] = {
        {sentence, 2, 240, 2},
        {sentence, 4, 240, 4},
        {sentence, 4, 2000, 0},
        {"short", 2, 240, 0},
    };
    for (const Row& row : rows) {
        VoskLabel label(row.text, TextStyles::caption, Vosk::errInk);
        label.setMaximumLines(row.lines);
        label.resize(row.width, label.maximumHeight());
        const QStringList lines = label.cappedLines();
        ASSERT_EQ(lines.size(), row.shown) << row.width;
        if (lines.isEmpty())
            continue;
        EXPECT_TRUE(row.text.startsWith(lines.first())) << lines.first().toStdString();
        EXPECT_TRUE(lines.last().endsWith(u'\u2026'));
        for (const QString& line : lines)
            EXPECT_LE(QFontMetricsF(label.font()).horizontalAdvance(line), row.width) << line.toStdString();
        // Every line it draws fits the height it is held to.
        EXPECT_LE(lines.size() * QFontMetricsF(label.font()).lineSpacing(), label.height() + 1);
    }
    // A selectable one keeps drawing itself, with its selection, from its first line down.
    VoskLabel selectable(sentence, TextStyles::caption, Vosk::errInk);
    selectable.setTextInteractionFlags(Qt::TextSelectableByMouse);
    selectable.setMaximumLines(2);
    selectable.resize(240, selectable.maximumHeight());
    EXPECT_TRUE(selectable.cappedLines().isEmpty());
    EXPECT_TRUE(selectable.alignment() & Qt::AlignTop);
}

TEST_F(CardParts, LabelsFollowTheLookAndKeepTheCallersText)
{
    Theme::instance().setAppearance(Appearance::light);
    Eyebrow eyebrow(QStringLiteral("Containers"));
    EXPECT_EQ(eyebrow.text(), "CONTAINERS");
    EXPECT_EQ(eyebrow.plainText(), "Containers");
    EXPECT_EQ(eyebrow.palette().color(QPalette::WindowText), Vosk::muted.resolve(Look::light));

    Theme::instance().setAppearance(Appearance::dark);
    EXPECT_EQ(eyebrow.palette().color(QPalette::WindowText), Vosk::muted.resolve(Look::dark));
}

} // namespace
