// Renders every control and card part in both looks to PNG files in the build tree, for eyes: it is a
// gallery, not a pixel comparison.
#include "app/design/Eyebrow.h"
#include "app/design/FlowLayout.h"
#include "app/design/Fonts.h"
#include "app/design/Meter.h"
#include "app/design/PreviewChrome.h"
#include "app/design/RunRing.h"
#include "app/design/StatStrip.h"
#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Theme.h"
#include "app/design/VitalCaption.h"
#include "app/design/VitalCard.h"
#include "app/design/Vosk.h"
#include "app/design/VoskBadge.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskCard.h"
#include "app/design/VoskLabel.h"

#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

using Variant = VoskButtonStyle::Variant;

class Page : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Vosk::page.color()); }
};

QWidget* section(const QString& title, QLayout* body)
{
    auto* box = new QWidget;
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(9);
    column->addWidget(new Eyebrow(title));
    column->addLayout(body);
    column->addStretch(1);
    return box;
}

QHBoxLayout* row(std::initializer_list<QWidget*> widgets, int spacing = 8)
{
    auto* layout = new QHBoxLayout;
    layout->setSpacing(spacing);
    for (QWidget* widget : widgets)
        layout->addWidget(widget, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    return layout;
}

VoskButton* pressed(VoskButton* button)
{
    button->setDown(true);
    return button;
}

VoskButton* disabled(VoskButton* button)
{
    button->setEnabled(false);
    return button;
}

QWidget* buttons()
{
    auto* grid = new QVBoxLayout;
    grid->setSpacing(8);
    const struct {
        Variant variant;
        const char* title;
    } variants[] = {{Variant::quiet, "Stop"},
                    {Variant::accent, "Add project…"},
                    {Variant::ghost, "Dismiss"},
                    {Variant::danger, "View logs"}};
    for (const auto& v : variants) {
        grid->addLayout(row({new VoskButton(v.title, v.variant), pressed(new VoskButton(v.title, v.variant)),
                             disabled(new VoskButton(v.title, v.variant)),
                             new VoskLabel("rest · pressed · disabled", TextStyles::caption, Vosk::muted)}));
    }
    auto* details = new VoskButton("Details", Variant::ghost);
    details->setSymbol("chevron.right", VoskButton::SymbolSide::trailing, 9, 3);
    auto* back = new VoskButton("All projects", Variant::ghost);
    back->setSymbol("chevron.left", VoskButton::SymbolSide::leading, 9, 4);
    grid->addLayout(row({new VoskButton("Start", Variant::quiet, 120),
                         new VoskButton("Stop", Variant::quiet, 46), details, back}));
    return section("Buttons", grid);
}

QWidget* badgesAndRings()
{
    auto* column = new QVBoxLayout;
    column->setSpacing(10);
    column->addLayout(row({new VoskBadge("Dir missing", Vosk::badgeFill, Vosk::badgeInk),
                           new VoskBadge("No compose file", Vosk::errFill, Vosk::errInk),
                           new VoskBadge("running", Vosk::pillFill, Vosk::success),
                           new VoskBadge("stopped", Vosk::pillFill, Vosk::pillInk)}));
    column->addLayout(
        row({new RunRing(0, 0, false), new RunRing(2, 3, false), new RunRing(3, 4, true),
             new RunRing(4, 4, false), new RunRing(5, 4, false),
             new VoskLabel("0/0 · 2/3 · 3/4 dimmed · 4/4 · 5/4", TextStyles::caption, Vosk::muted)},
            10));
    auto* menu = new EllipsisMenuButton;
    auto* still = new EllipsisMenuButton;
    auto* stillBox = new QWidget;
    auto* stillLayout = new QHBoxLayout(stillBox);
    stillLayout->setContentsMargins(0, 0, 0, 0);
    stillLayout->addWidget(still);
    setVoskPreviewChrome(stillBox, true);
    column->addLayout(
        row({menu, stillBox,
             new VoskLabel("ellipsis menu · preview picture", TextStyles::caption, Vosk::muted)}));
    return section("Badges, rings, menus", column);
}

QWidget* cardAndFlow()
{
    auto* content = new QWidget;
    auto* inner = new QVBoxLayout(content);
    inner->setContentsMargins(14, 14, 14, 14);
    inner->setSpacing(6);
    inner->addWidget(new VoskLabel("webshop", TextStyles::cardTitle, Vosk::ink));
    inner->addWidget(new VoskLabel("~/code/webshop", TextStyles::mono, Vosk::muted));
    auto* chips = new QWidget;
    auto* flow = new FlowLayout(6, chips);
    for (const char* name :
         {"web", "db", "cache", "worker", "scheduler", "proxy", "mail", "search-indexer", "queue",
          "thumbnails", "metrics", "a-very-long-service-name-that-overflows-its-row", "cron"})
        flow->addWidget(new VoskBadge(name, Vosk::pillFill, Vosk::pillInk));
    inner->addWidget(chips);
    auto* card = voskCard(content);
    auto* layout = new QVBoxLayout;
    layout->addWidget(card);
    return section("Card and flow layout", layout);
}

QWidget* meters()
{
    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    const struct {
        double fraction;
        const Token* tint;
        const Token* rest;
        const char* what;
    } rows[] = {{0.25, &Vosk::ion, &Vosk::success, "0.25 with rest"},
                {1.7, &Vosk::ink, nullptr, "1.7 fills"},
                {-0.2, &Vosk::ink, nullptr, "-0.2 is the track"},
                {0.6, &Vosk::success, nullptr, "0.6"}};
    for (const auto& r : rows) {
        auto* meter = new Meter(r.fraction, *r.tint, r.rest);
        meter->setFixedWidth(180);
        column->addLayout(row({meter, new VoskLabel(r.what, TextStyles::caption, Vosk::muted)}));
    }
    return section("Meters", column);
}

QWidget* vitals()
{
    auto* column = new QVBoxLayout;
    column->setSpacing(14);
    auto* cards = new QHBoxLayout;
    cards->setSpacing(14);
    const struct {
        const char* icon;
        const char* title;
        std::optional<QString> value;
        const char* unit;
        double fraction;
        const char* footer;
    } tiles[] = {
        {"cpu", "Processor", QStringLiteral("12.5%"), "of this computer", 0.125, "Busiest: web, 9.1%"},
        {"memorychip", "Memory", QStringLiteral("1.2 GB"), "of 16 GB", 0.075,
         "Biggest: database-primary-replica-with-a-long-name, 812 MB"},
        {"externaldrive", "Disk space", std::nullopt, "", 0.8, "Measuring…"}};
    for (const auto& t : tiles) {
        auto* card = new VitalCard(t.icon, t.title, t.value, t.unit, t.fraction, Vosk::ink, nullptr,
                                   new VitalCaption(t.footer));
        card->setMinimumWidth(170);
        cards->addWidget(card, 1);
    }
    column->addLayout(cards);
    // The strip sits on a card, where its page-coloured ground shows.
    auto* onCard = new QWidget;
    auto* cardLayout = new QVBoxLayout(onCard);
    cardLayout->setContentsMargins(14, 14, 14, 14);
    cardLayout->addWidget(new StatStrip(QStringLiteral("3.2%"), std::nullopt, QStringLiteral("1.4 GB")));
    cardLayout->addWidget(new StatStrip(QStringLiteral("312.75% of 8 processors, busiest first"),
                                        QStringLiteral("15.2 GB"), std::nullopt));
    column->addWidget(voskCard(onCard));
    return section("Vitals and stat strip", column);
}

QWidget* symbols()
{
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(6);
    const QStringList names = Symbols::names();
    for (int i = 0; i < names.size(); ++i) {
        auto* cell = new QHBoxLayout;
        cell->setSpacing(6);
        cell->addWidget(new SymbolView(names.at(i), 13, Vosk::ink, nullptr, 16));
        cell->addWidget(new VoskLabel(names.at(i), TextStyles::monoNote, Vosk::muted));
        cell->addStretch(1);
        grid->addLayout(cell, i / 3, i % 3);
    }
    return section("Symbols", grid);
}

QWidget* textStyles()
{
    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    const struct {
        const char* name;
        TextStyle style;
    } styles[] = {
        {"caption", TextStyles::caption},
        {"note", TextStyles::note},
        {"body", TextStyles::body},
        {"label", TextStyles::label},
        {"labelSmall", TextStyles::labelSmall},
        {"warning", TextStyles::warning},
        {"rowTitle", TextStyles::rowTitle},
        {"emptyTitle", TextStyles::emptyTitle},
        {"bodySelected", TextStyles::bodySelected},
        {"sheetTitle", TextStyles::sheetTitle},
        {"cardTitle", TextStyles::cardTitle},
        {"pageTitle", TextStyles::pageTitle},
        {"vitalValue", TextStyles::vitalValue},
        {"ringCount", TextStyles::ringCount},
        {"count", TextStyles::count},
        {"monoNote", TextStyles::monoNote},
        {"mono", TextStyles::mono},
        {"transcript", TextStyles::transcript},
        {"monoField", TextStyles::monoField},
        {"figure", TextStyles::figure},
        {"badge", TextStyles::badge},
        {"statLabel", TextStyles::statLabel},
        {"groupLabel", TextStyles::groupLabel},
        {"vitalTitle", TextStyles::vitalTitle},
        {"eyebrow", TextStyles::eyebrow},
        {"sectionLabel", TextStyles::sectionLabel},
    };
    for (const auto& s : styles) {
        const QString sample = QStringLiteral("%1 · %2 %3/%4 — Quiet figures 0123456789")
                                   .arg(QLatin1String(s.name), QLatin1String(s.style.face))
                                   .arg(s.style.weight)
                                   .arg(s.style.size);
        column->addWidget(new VoskLabel(sample, s.style, Vosk::ink));
    }
    return section("Text styles", column);
}

std::unique_ptr<QWidget> gallery()
{
    auto page = std::make_unique<Page>();
    auto* grid = new QGridLayout(page.get());
    grid->setContentsMargins(20, 20, 20, 20);
    grid->setHorizontalSpacing(28);
    grid->setVerticalSpacing(22);
    grid->addWidget(buttons(), 0, 0);
    grid->addWidget(badgesAndRings(), 1, 0);
    grid->addWidget(meters(), 2, 0);
    grid->addWidget(cardAndFlow(), 3, 0);
    grid->addWidget(vitals(), 0, 1, 2, 1);
    grid->addWidget(symbols(), 2, 1, 2, 1);
    grid->addWidget(textStyles(), 4, 0, 1, 2);
    grid->setColumnMinimumWidth(1, 560);
    return page;
}

TEST(Gallery, RendersEveryControlAndCardPartInBothLooks)
{
    registerBundledFonts();
    Theme::instance().install(false);
    const QDir dir(QStringLiteral(VOSKEL_GALLERY_DIR));
    ASSERT_TRUE(dir.mkpath("."));
    for (const Appearance appearance : {Appearance::light, Appearance::dark}) {
        Theme::instance().setAppearance(appearance);
        const std::unique_ptr<QWidget> page = gallery();
        // A set width (the chips' one-row hint would stretch the page) and the height it needs there;
        // not adjustSize(), which would hold a window to a share of the screen.
        const int width = std::max(1180, page->minimumSizeHint().width());
        page->resize(width,
                     page->hasHeightForWidth() ? page->heightForWidth(width) : page->sizeHint().height());
        const QImage image = page->grab().toImage();
        const QString file = dir.filePath(QStringLiteral("design-%1.png").arg(rawValue(appearance)));
        ASSERT_TRUE(image.save(file)) << file.toStdString();
        // The page itself is in the look's page colour.
        EXPECT_EQ(image.pixelColor(2, 2), Vosk::page.color());
    }
    Theme::instance().setAppearance(Appearance::automatic);
}

} // namespace
