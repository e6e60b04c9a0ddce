#include "app/design/Fonts.h"
#include "app/design/PreviewChrome.h"
#include "app/design/PullDownButton.h"
#include "app/design/RunRing.h"
#include "app/design/TextStyle.h"
#include "app/design/Theme.h"
#include "app/design/Vosk.h"
#include "app/design/VoskBadge.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskCard.h"
#include "app/design/VoskLabel.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>

namespace {

using Variant = VoskButtonStyle::Variant;

class Controls : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        registerBundledFonts();
        Theme::instance().install(false);
        Theme::instance().setAppearance(Appearance::light);
    }
    static void TearDownTestSuite() { Theme::instance().setAppearance(Appearance::automatic); }

    // The widget painted over the page colour, as it would sit on a screen.
    static QImage render(QWidget& widget)
    {
        widget.resize(widget.sizeHint());
        QImage image(widget.size(), QImage::Format_ARGB32);
        image.fill(Vosk::page.color());
        widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }

    static double labelWidth(const QString& text)
    {
        return QFontMetricsF(TextStyles::label.font()).size(Qt::TextSingleLine, text).width();
    }
};

QColor blend(const QColor& under, const QColor& over, double opacity)
{
    return QColor::fromRgbF(under.redF() + (over.redF() - under.redF()) * opacity,
                            under.greenF() + (over.greenF() - under.greenF()) * opacity,
                            under.blueF() + (over.blueF() - under.blueF()) * opacity);
}

bool near(const QColor& a, const QColor& b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

struct SizeRow {
    Variant variant;
    std::optional<double> wide;
    const char* title;
    double padding;
};

// Names the row in test listings instead of dumping its bytes.
void PrintTo(const SizeRow& row, std::ostream* out)
{
    *out << row.title;
}

class ButtonSizes : public Controls, public testing::WithParamInterface<SizeRow> {};

TEST_P(ButtonSizes, HugTheLabelOrKeepTheirMinimumWidth)
{
    const SizeRow& row = GetParam();
    VoskButton button(row.title, row.variant, row.wide);
    const QSize size = button.sizeHint();
    const double hugging = labelWidth(row.title) + 2 * row.padding;
    EXPECT_EQ(size.width(), int(std::ceil(std::max(hugging, row.wide.value_or(0)))));
    EXPECT_EQ(size.height(), 24);
}

INSTANTIATE_TEST_SUITE_P(Variants, ButtonSizes,
                         testing::Values(SizeRow{Variant::quiet, std::nullopt, "Remove", 11},
                                         SizeRow{Variant::quiet, 120.0, "Stop", 11},
                                         SizeRow{Variant::quiet, 46.0, "Reclaim space…", 11},
                                         SizeRow{Variant::accent, std::nullopt, "Add project…", 11},
                                         SizeRow{Variant::ghost, std::nullopt, "Dismiss", 6},
                                         SizeRow{Variant::danger, std::nullopt, "View logs", 11}),
                         [](const testing::TestParamInfo<SizeRow>& info) {
                             return "case" + std::to_string(info.index);
                         });

TEST_F(Controls, AButtonsLabelAndSymbolShareTheWidth)
{
    VoskButton details("Details", Variant::ghost);
    const int plain = details.sizeHint().width();
    details.setSymbol("chevron.right", VoskButton::SymbolSide::trailing, 9, 3);
    EXPECT_EQ(details.sizeHint().width(), int(std::ceil(labelWidth("Details") + 12 + 9 + 3)));
    EXPECT_GT(details.sizeHint().width(), plain);
}

TEST_F(Controls, ADisabledAccentButtonKeepsItsFillAtThirtyEightPercent)
{
    VoskButton button("Pull", Variant::accent);
    button.setEnabled(false);
    const QImage image = render(button);
    // A point of the fill away from the label and the rounded corners.
    const QColor seen = image.pixelColor(3, image.height() / 2);
    EXPECT_TRUE(near(seen, blend(Vosk::page.color(), Vosk::ion.color(), 0.38))) << seen.name().toStdString();

    button.setEnabled(true);
    EXPECT_TRUE(near(render(button).pixelColor(3, image.height() / 2), Vosk::ion.color()));
}

TEST_F(Controls, PressingADisabledButtonChangesNothing)
{
    QWidget window;
    auto* button = new VoskButton("Start", Variant::quiet, std::nullopt, &window);
    button->setEnabled(false);
    window.show();
    QSignalSpy pressed(button, &QAbstractButton::pressed);
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(button->isDown());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(pressed.count(), 0);
    EXPECT_EQ(clicked.count(), 0);
}

TEST_F(Controls, AGhostButtonHasNoFillUntilPressed)
{
    VoskButton button("Dismiss", Variant::ghost);
    const QImage rest = render(button);
    EXPECT_EQ(rest.pixelColor(2, rest.height() / 2), Vosk::page.color());
    EXPECT_EQ(rest.pixelColor(rest.width() / 2, 0), Vosk::page.color()); // no border either

    button.setDown(true);
    const QImage down = render(button);
    // The fill shrinks to 99 %: the outermost column is only partly covered, just inside is the wash.
    const int edge = down.pixelColor(0, down.height() / 2).red();
    EXPECT_GT(edge, Vosk::wash.color().red());
    EXPECT_LT(edge, Vosk::page.color().red());
    EXPECT_TRUE(near(down.pixelColor(3, down.height() / 2), Vosk::wash.color()));
}

TEST_F(Controls, AQuietButtonIsOutlinedAndDarkensWhenPressed)
{
    VoskButton button("Remove", Variant::quiet);
    const QImage rest = render(button);
    EXPECT_TRUE(near(rest.pixelColor(rest.width() / 2, 0), Vosk::line.color(), 6));
    EXPECT_TRUE(near(rest.pixelColor(3, rest.height() / 2), Vosk::control.color()));
    button.setDown(true);
    EXPECT_TRUE(near(render(button).pixelColor(3, rest.height() / 2), Vosk::wash.color()));
}

TEST_F(Controls, ALabelInsideAButtonPaintsInItsOwnInk)
{
    QPushButton button;
    auto* label = new VoskLabel("WWW", TextStyles::vitalValue, Vosk::errInk, &button);
    button.resize(label->sizeHint() + QSize(8, 8));
    label->move(4, 4);
    label->resize(label->sizeHint());
    QImage image(button.size(), QImage::Format_ARGB32);
    image.fill(Vosk::page.color());
    button.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    bool inked = false;
    for (int y = 0; y < image.height() && !inked; ++y)
        for (int x = 0; x < image.width() && !inked; ++x)
            inked = near(image.pixelColor(x, y), Vosk::errInk.color(), 8);
    EXPECT_TRUE(inked);
}

TEST_F(Controls, APullDownIsDrawnPressedOnlyWhileItsMenuIsOpen)
{
    QWidget window;
    auto* button = new PullDownButton("plus", "Add project", &window);
    auto* menu = new QMenu(button);
    menu->addAction("From a folder…");
    button->setMenu(menu);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QImage rest = button->grab().toImage();

    // The press opens the menu and returns at once; Escape, a click elsewhere or a chosen entry all
    // close it, and the button never sees the release of the press that opened it.
    for (const auto& close : std::initializer_list<std::function<void()>>{
             [&] { QTest::keyClick(menu, Qt::Key_Escape); }, [&] { menu->hide(); },
             [&] {
                 menu->actions().first()->trigger();
                 menu->hide();
             }}) {
        QTest::mousePress(button, Qt::LeftButton, {}, QPoint(10, 10));
        ASSERT_TRUE(menu->isVisible());
        EXPECT_NE(button->grab().toImage(), rest);
        close();
        ASSERT_FALSE(menu->isVisible());
        EXPECT_FALSE(button->menuOpen());
        EXPECT_EQ(button->grab().toImage(), rest);
    }
}

TEST_F(Controls, BadgesShowTheirTextInCapitals)
{
    VoskBadge badge("Dir missing", Vosk::badgeFill, Vosk::badgeInk);
    EXPECT_EQ(badge.text(), "Dir missing");
    const QFontMetricsF metrics(TextStyles::badge.font());
    EXPECT_EQ(badge.sizeHint().width(), int(std::ceil(metrics.horizontalAdvance("DIR MISSING") + 14)));
    const QImage image = render(badge);
    EXPECT_EQ(image.pixelColor(3, image.height() / 2), Vosk::badgeFill.color());
}

struct RingRow {
    qint64 running;
    qint64 total;
    double fraction;
};

// Names the row in test listings instead of dumping its bytes.
void PrintTo(const RingRow& row, std::ostream* out)
{
    *out << std::to_string(row.running) + "/" + std::to_string(row.total);
}

class RingFractions : public testing::TestWithParam<RingRow> {};

TEST_P(RingFractions, AreHeldBetweenNothingAndTheFullCircle)
{
    EXPECT_DOUBLE_EQ(RunRing::fraction(GetParam().running, GetParam().total), GetParam().fraction);
}

INSTANTIATE_TEST_SUITE_P(Counts, RingFractions,
                         testing::Values(RingRow{0, 0, 0}, RingRow{3, 4, 0.75}, RingRow{4, 4, 1},
                                         RingRow{5, 4, 1}, RingRow{7, 0, 0}, RingRow{-2, 4, 0},
                                         RingRow{2, -3, 0},
                                         RingRow{std::numeric_limits<qint64>::max(), 1, 1}),
                         [](const testing::TestParamInfo<RingRow>& info) {
                             return "running" + std::to_string(info.index);
                         });

TEST_F(Controls, TheRingDrawsItsArcFromTwelveClockwise)
{
    RunRing ring(3, 4, true);
    EXPECT_EQ(ring.sizeHint(), QSize(32, 32));
    EXPECT_EQ(ring.accessibleName(), "3 of 4 running");
    const QImage image = render(ring);
    const int band = 1; // inside the 2.5-pixel stroke
    // Three quarters, dimmed: right side and bottom are muted arc; the left side is only track.
    EXPECT_TRUE(near(image.pixelColor(31 - band, 16), Vosk::muted.color(), 12));
    EXPECT_TRUE(near(image.pixelColor(16, 31 - band), Vosk::muted.color(), 12));
    EXPECT_TRUE(near(image.pixelColor(band, 12), Vosk::line.color(), 12));

    RunRing empty(0, 0, false);
    const QImage track = render(empty);
    EXPECT_TRUE(near(track.pixelColor(31 - band, 16), Vosk::line.color(), 12));
    EXPECT_EQ(empty.accessibleName(), "0 of 0 running");
}

TEST_F(Controls, ACardIsFilledAndOutlinedAboveItsChildren)
{
    auto* content = new QWidget;
    content->setAutoFillBackground(true);
    QPalette red = content->palette();
    red.setColor(QPalette::Window, Qt::red);
    content->setPalette(red);
    content->setMinimumSize(80, 40);
    std::unique_ptr<VoskCard> card(voskCard(content));
    card->resize(80, 40);
    QImage image(card->size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    card->render(&image);
    // The hairline is on top of a child that paints its whole area.
    EXPECT_TRUE(near(image.pixelColor(40, 0), Vosk::line.color(), 40));
    EXPECT_EQ(image.pixelColor(40, 20), QColor(Qt::red));
}

TEST_F(Controls, TheEllipsisMenuOpensOnlyOutsideThePreview)
{
    QWidget root;
    auto* layout = new QHBoxLayout(&root);
    auto* button = new EllipsisMenuButton;
    layout->addWidget(button);
    auto* menu = new QMenu(button);
    menu->addAction("Run…");
    button->setMenu(menu);
    root.show();
    EXPECT_EQ(button->sizeHint().width(), 22);

    setVoskPreviewChrome(&root, true);
    EXPECT_TRUE(voskPreviewChrome(button));
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_FALSE(menu->isVisible());

    setVoskPreviewChrome(&root, false);
    QTest::mousePress(button, Qt::LeftButton);
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
}

TEST_F(Controls, ThePreviewSwitchIsFalseUnlessAnAncestorSetsIt)
{
    QWidget root;
    QWidget middle(&root);
    QWidget leaf(&middle);
    EXPECT_FALSE(voskPreviewChrome(&leaf));
    setVoskPreviewChrome(&root, true);
    EXPECT_TRUE(voskPreviewChrome(&leaf));
    setVoskPreviewChrome(&middle, false); // the nearest setting wins
    EXPECT_FALSE(voskPreviewChrome(&leaf));
    EXPECT_TRUE(voskPreviewChrome(&root));
}

} // namespace
