// Keyboard focus and the dark look's outlines, on the design's own controls and on the standard ones
// the design's style draws.
#include "app/design/FocusOrder.h"
#include "app/design/FocusRing.h"
#include "app/design/Fonts.h"
#include "app/design/PreviewChrome.h"
#include "app/design/PullDownButton.h"
#include "app/design/SegmentedControl.h"
#include "app/design/Theme.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

using Variant = VoskButtonStyle::Variant;

double luminance(const QColor& color)
{
    const auto linear = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

// How far apart two colours read, from 1 (the same) to 21 (black on white).
double contrast(const QColor& a, const QColor& b)
{
    const double first = luminance(a);
    const double second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

// The strongest contrast against `ground` of any pixel in `area`.
double strongest(const QImage& image, const QRect& area, const QColor& ground)
{
    double best = 1;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            best = std::max(best, contrast(image.pixelColor(x, y), ground));
    return best;
}

// Whether the ring a control without a fill of its own wears shows in `area`.
bool ringIn(const QImage& image, const QRect& area)
{
    const QColor ring = FocusRing::color();
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor seen = image.pixelColor(x, y);
            if (std::abs(seen.red() - ring.red()) <= 12 && std::abs(seen.green() - ring.green()) <= 12 &&
                std::abs(seen.blue() - ring.blue()) <= 12)
                return true;
        }
    return false;
}

// The most any pixel of `area` changed between two pictures of a control, as contrast.
double strongestChange(const QImage& before, const QImage& after, const QRect& area)
{
    double best = 1;
    const QRect inside = area & before.rect() & after.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            best = std::max(best, contrast(before.pixelColor(x, y), after.pixelColor(x, y)));
    return best;
}

// The band along a control's leading edge, half way down, where the ring runs.
QRect leadingEdge(const QImage& image)
{
    return {0, image.height() / 2 - 1, 4, 3};
}

bool ringed(QWidget* control)
{
    const QImage image = control->grab().toImage();
    return ringIn(image, leadingEdge(image));
}

class Focus : public testing::TestWithParam<Appearance> {
protected:
    static void SetUpTestSuite()
    {
        registerBundledFonts();
        Theme::instance().install(false);
    }
    void SetUp() override { Theme::instance().setAppearance(GetParam()); }
    void TearDown() override { Theme::instance().setAppearance(Appearance::automatic); }
};

// On every button variant the ring stands out from the fill inside it and from the grounds around it.
TEST_P(Focus, TheRingStandsOutFromEveryButtonsFillAndItsGround)
{
    for (const Variant variant : {Variant::quiet, Variant::accent, Variant::ghost, Variant::danger}) {
        const VoskButtonStyle::Colors colors = VoskButtonStyle::colors(variant);
        const std::optional<QColor> fill =
            colors.fill ? std::optional<QColor>(colors.fill->color()) : std::nullopt;
        const QColor ring = FocusRing::color(fill);
        for (const QColor& next : {fill.value_or(Vosk::page.color()), Vosk::page.color(), Vosk::card.color(),
                                   Vosk::chrome.color()})
            EXPECT_GE(contrast(ring, next), FocusRing::leastContrast)
                << int(variant) << " " << next.name().toStdString();
    }
}

// Tab shows the ring on every control, and a click puts it away again, except on a field that takes
// typing: that one wears the ring whenever it has the focus.
TEST_P(Focus, TabShowsTheRingOnEveryControlAndAClickPutsItAwayFromAllButFields)
{
    QWidget window;
    auto* column = new QVBoxLayout(&window);
    // The focus starts here, put there with the mouse.
    auto* start = new QLineEdit;
    auto* field = new QLineEdit;
    auto* picker = new QComboBox;
    picker->addItems({"Last 300", "Everything"});
    auto* segments = new SegmentedControl({{"sun.max", "Light"}, {"moon", "Dark"}});
    const QList<QWidget*> controls = {
        new VoskButton("Stop", Variant::quiet),
        new VoskButton("Pull", Variant::accent),
        new VoskButton("Dismiss", Variant::ghost),
        new VoskButton("Delete", Variant::danger),
        new PullDownButton("plus", "Add project"),
        new EllipsisMenuButton,
        segments,
        field,
        new QCheckBox("Show tray icon"),
        picker,
        new QPushButton("Quit"),
    };
    column->addWidget(start);
    for (QWidget* control : controls)
        column->addWidget(control, 0, Qt::AlignLeft);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_TRUE(start->hasFocus());
    EXPECT_TRUE(ringed(start));

    QList<QImage> rings;
    for (QWidget* control : controls) {
        const QImage rest = control->grab().toImage();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_TRUE(control->hasFocus()) << control->metaObject()->className();
        const QImage ring = control->grab().toImage();
        const QRect edge = leadingEdge(ring);
        EXPECT_GE(strongestChange(rest, ring, edge), FocusRing::leastContrast)
            << control->metaObject()->className();
        rings << ring;
    }

    // A click leaves the ring on a field it gives the focus to, and takes it from a control that keeps
    // the focus it had.
    QTest::mouseClick(field, Qt::LeftButton);
    ASSERT_TRUE(field->hasFocus());
    EXPECT_TRUE(ringed(field));
    QTest::keyClick(field, Qt::Key_Backtab);
    ASSERT_TRUE(segments->hasFocus());
    EXPECT_TRUE(ringed(segments));
    QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(window.width() - 2, window.height() - 2));
    ASSERT_TRUE(segments->hasFocus());
    EXPECT_FALSE(ringed(segments));

    // For eyes: every control as Tab finds it, in this look.
    int height = 0;
    int width = 0;
    for (const QImage& ring : rings) {
        height += ring.height() + 8;
        width = std::max(width, ring.width());
    }
    QImage sheet(width + 16, height + 8, QImage::Format_ARGB32);
    sheet.fill(Vosk::page.color());
    QPainter painter(&sheet);
    int y = 8;
    for (const QImage& ring : rings) {
        painter.drawImage(8, y, ring);
        y += ring.height() + 8;
    }
    painter.end();
    const QDir dir(QStringLiteral(VOSKEL_GALLERY_DIR));
    ASSERT_TRUE(dir.mkpath("."));
    EXPECT_TRUE(sheet.save(dir.filePath(QStringLiteral("design-focus-%1.png").arg(rawValue(GetParam())))));
}

TEST_P(Focus, AnUncheckedBoxAndTheChosenSegmentStandOutFromTheirGround)
{
    QCheckBox box("Open Voskel at login");
    box.resize(box.sizeHint());
    QImage image(box.size(), QImage::Format_ARGB32);
    image.fill(Vosk::page.color());
    box.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    QStyleOptionButton option;
    option.initFrom(&box);
    const QRect indicator = box.style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, &box);
    EXPECT_GE(strongest(image, indicator, Vosk::page.color()), 3.0);

    SegmentedControl segments({{"circle.lefthalf.filled", "Auto"}, {"sun.max", "Light"}, {"moon", "Dark"}});
    segments.setCurrentIndex(2);
    segments.resize(segments.sizeHint());
    const QImage picture = segments.grab().toImage();
    // The chosen segment's outline, across the control's middle, against the track beside it.
    const int boundary = segments.width() * 2 / 3;
    EXPECT_GE(strongest(picture, QRect(boundary - 1, picture.height() / 2, 4, 1), Vosk::control.color()),
              3.0);
}

// Tab goes by the order on screen, also to controls made after their neighbours, and a control it
// reaches inside a scroll area, from outside it or within, is scrolled into view.
TEST(FocusOrder, TabFollowsTheScreenAndScrollsWhatItReachesIntoView)
{
    registerBundledFonts();
    Theme::instance().install(false);
    QWidget window;
    auto* column = new QVBoxLayout(&window);
    auto* first = new QPushButton("first");
    first->setObjectName("first");
    column->addWidget(first);
    auto* scroll = new QScrollArea;
    scroll->setFocusPolicy(Qt::ClickFocus);
    scroll->setWidgetResizable(true);
    scroll->setFixedHeight(90);
    auto* rows = new QWidget;
    auto* rowColumn = new QVBoxLayout(rows);
    scroll->setWidget(rows);
    column->addWidget(scroll);
    auto* last = new QPushButton("last");
    last->setObjectName("last");
    column->addWidget(last);
    // Made after "last", each put above the ones made before it.
    QList<QWidget*> onScreen{first};
    for (int i = 0; i < 8; ++i) {
        auto* row = new QPushButton(QString("row %1").arg(i), rows);
        row->setObjectName(QString("row%1").arg(i));
        row->setFixedHeight(40);
        rowColumn->insertWidget(0, row);
        onScreen.insert(1, row);
    }
    onScreen << last;
    EXPECT_EQ(FocusOrder::onScreen(&window), onScreen);

    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const auto seen = [&](QWidget* row) {
        const QRect inView(QPoint(0, 0), scroll->viewport()->size());
        return inView.contains(QRect(row->mapTo(scroll->viewport(), QPoint(0, 0)), row->size()));
    };
    first->setFocus(Qt::OtherFocusReason);
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    QStringList reached;
    for (int i = 0; i < 9; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        ASSERT_TRUE(now);
        reached << now->objectName();
        if (now != last) {
            EXPECT_TRUE(seen(now)) << now->objectName().toStdString();
        }
    }
    EXPECT_EQ(reached.join(' '), "row7 row6 row5 row4 row3 row2 row1 row0 last");
    scroll->verticalScrollBar()->setValue(0);
    QTest::keyClick(last, Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), onScreen[8]);
    EXPECT_TRUE(seen(onScreen[8]));
}

INSTANTIATE_TEST_SUITE_P(Looks, Focus, testing::Values(Appearance::light, Appearance::dark),
                         [](const testing::TestParamInfo<Appearance>& info) {
                             return rawValue(info.param).toStdString();
                         });

} // namespace
