#include "app/design/Appearance.h"
#include "app/design/DesktopColorScheme.h"
#include "app/design/Theme.h"
#include "app/design/Vosk.h"

#include <QApplication>
#include <QDBusVariant>
#include <QPainter>
#include <QProxyStyle>
#include <QStyle>
#include <QWidget>

#include <gtest/gtest.h>

#include <ostream>

namespace {

// Puts the theme back to the light look after each test, whatever the test switched.
class ThemeTest : public testing::Test {
protected:
    void SetUp() override { Theme::instance().install(false); }
    void TearDown() override
    {
        Theme::instance().setAppearance(Appearance::automatic);
        Theme::instance().setDesktopPrefersDark(false);
    }
};

struct TokenRow {
    const char* name;
    const Token* token;
    QRgb light;
    QRgb dark;
};

// Names the row in test listings instead of dumping its bytes.
void PrintTo(const TokenRow& row, std::ostream* out)
{
    *out << row.name;
}

class TokenValues : public testing::TestWithParam<TokenRow> {};

TEST_P(TokenValues, ResolveToTheirValueInEachLook)
{
    const TokenRow& row = GetParam();
    EXPECT_EQ(row.token->resolve(Look::light), QColor::fromRgb(row.light)) << row.name;
    EXPECT_EQ(row.token->resolve(Look::dark), QColor::fromRgb(row.dark)) << row.name;
    EXPECT_EQ(row.token->resolve(Look::dark).alpha(), 255);
}

INSTANTIATE_TEST_SUITE_P(AllTwentyOne, TokenValues,
                         testing::Values(TokenRow{"page", &Vosk::page, 0xF5F1E9, 0x0A1B3D},
                                         TokenRow{"chrome", &Vosk::chrome, 0xEFEBE2, 0x0D2049},
                                         TokenRow{"card", &Vosk::card, 0xFBF8F2, 0x102249},
                                         TokenRow{"control", &Vosk::control, 0xF5F1E9, 0x16294F},
                                         TokenRow{"wash", &Vosk::wash, 0xE4DFD5, 0x1B335C},
                                         TokenRow{"line", &Vosk::line, 0xE4DDD0, 0x1B335C},
                                         TokenRow{"ink", &Vosk::ink, 0x0A1B3D, 0xF5F1E9},
                                         TokenRow{"inkSoft", &Vosk::inkSoft, 0x2C2C34, 0xE8E4DC},
                                         TokenRow{"muted", &Vosk::muted, 0x5E6884, 0x8E99B4},
                                         TokenRow{"ion", &Vosk::ion, 0xC58230, 0xC58230},
                                         TokenRow{"ionHover", &Vosk::ionHover, 0xA96C22, 0xD9953F},
                                         TokenRow{"onAccent", &Vosk::onAccent, 0xFFFFFF, 0xFFFFFF},
                                         TokenRow{"success", &Vosk::success, 0x1C7A4A, 0x3FA872},
                                         TokenRow{"danger", &Vosk::danger, 0xA23B3B, 0xD2635F},
                                         TokenRow{"pillFill", &Vosk::pillFill, 0xE4DFD5, 0x1B335C},
                                         TokenRow{"pillInk", &Vosk::pillInk, 0x0A1B3D, 0xD8CDB8},
                                         TokenRow{"badgeFill", &Vosk::badgeFill, 0xF3E3D2, 0x3A2A18},
                                         TokenRow{"badgeInk", &Vosk::badgeInk, 0x8A4E26, 0xE7C08A},
                                         TokenRow{"errFill", &Vosk::errFill, 0xF6E6E4, 0x2E1A1E},
                                         TokenRow{"errLine", &Vosk::errLine, 0xE4C4C0, 0x5A3038},
                                         TokenRow{"errInk", &Vosk::errInk, 0x8C3232, 0xE39B96}),
                         [](const testing::TestParamInfo<TokenRow>& info) {
                             return std::string(info.param.name);
                         });

TEST(Tokens, AccentAndTextOnAccentNeverChangeWithTheLook)
{
    EXPECT_FALSE(Vosk::ion.changesWithLook());
    EXPECT_FALSE(Vosk::onAccent.changesWithLook());
    EXPECT_EQ(Vosk::onAccent.resolve(Look::dark), QColor(Qt::white));
    EXPECT_TRUE(Vosk::page.changesWithLook());
}

TEST(Tokens, WashAndPillFillAreSeparateTokensWithEqualValues)
{
    EXPECT_NE(static_cast<const void*>(&Vosk::wash), static_cast<const void*>(&Vosk::pillFill));
    EXPECT_EQ(Vosk::wash.light(), Vosk::pillFill.light());
    EXPECT_EQ(Vosk::wash.dark(), Vosk::pillFill.dark());
}

TEST(Appearances, RawValuesAreLowerCaseAndComparedExactly)
{
    EXPECT_EQ(appearanceFromRawValue("auto"), Appearance::automatic);
    EXPECT_EQ(appearanceFromRawValue("light"), Appearance::light);
    EXPECT_EQ(appearanceFromRawValue("dark"), Appearance::dark);
    EXPECT_EQ(appearanceFromRawValue("Dark"), std::nullopt);
    EXPECT_EQ(appearanceFromRawValue(" dark"), std::nullopt);
    EXPECT_EQ(appearanceFromRawValue(""), std::nullopt);
    EXPECT_EQ(appearanceOrDefault("Dark"), Appearance::automatic);
    EXPECT_EQ(appearanceOrDefault("dark"), Appearance::dark);
    EXPECT_EQ(allAppearances(),
              (QList<Appearance>{Appearance::automatic, Appearance::light, Appearance::dark}));
    EXPECT_EQ(lookName(Look::light), "Aqua");
    EXPECT_EQ(lookName(Look::dark), "DarkAqua");
}

TEST_F(ThemeTest, AutomaticFollowsTheDesktopAndAChoiceOverridesIt)
{
    Theme& theme = Theme::instance();
    theme.setDesktopPrefersDark(true);
    theme.setAppearance(Appearance::automatic);
    EXPECT_EQ(Vosk::page.color(), QColor(0x0A1B3D));

    theme.setAppearance(Appearance::light);
    EXPECT_EQ(Vosk::page.color(), QColor(0xF5F1E9));

    theme.setDesktopPrefersDark(false);
    theme.setAppearance(Appearance::dark);
    EXPECT_EQ(Vosk::page.color(), QColor(0x0A1B3D));
    EXPECT_EQ(QColor(Vosk::ink), QColor(0xF5F1E9));
}

TEST_F(ThemeTest, ChangingTheLookRebuildsThePaletteAndRepaintsShownWidgets)
{
    // A widget that paints with a token and counts its paints.
    class Swatch : public QWidget {
    public:
        int paints = 0;

    protected:
        void paintEvent(QPaintEvent*) override
        {
            ++paints;
            QPainter(this).fillRect(rect(), Vosk::card.color());
        }
    };
    Swatch swatch;
    swatch.resize(20, 20);
    swatch.show();
    QApplication::processEvents();
    const int before = swatch.paints;
    EXPECT_EQ(swatch.grab().toImage().pixelColor(10, 10), QColor(0xFBF8F2));

    Theme::instance().setAppearance(Appearance::dark);
    QApplication::processEvents();
    EXPECT_GT(swatch.paints, before);
    EXPECT_EQ(swatch.grab().toImage().pixelColor(10, 10), QColor(0x102249));
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), QColor(0x0A1B3D));
    EXPECT_EQ(QApplication::palette().color(QPalette::WindowText), QColor(0xF5F1E9));
    // The design's style is Fusion underneath.
    const auto* style = qobject_cast<const QProxyStyle*>(QApplication::style());
    ASSERT_NE(style, nullptr);
    EXPECT_EQ(style->baseStyle()->name().toLower(), "fusion");
}

TEST_F(ThemeTest, TellsListenersOnlyWhenTheLookReallyChanges)
{
    int changes = 0;
    const auto connection = QObject::connect(&Theme::instance(), &Theme::lookChanged, [&] { ++changes; });
    Theme::instance().setAppearance(Appearance::light); // already light through the desktop
    EXPECT_EQ(changes, 0);
    Theme::instance().setDesktopPrefersDark(true); // chosen light still wins
    EXPECT_EQ(changes, 0);
    Theme::instance().setAppearance(Appearance::automatic);
    EXPECT_EQ(changes, 1);
    QObject::disconnect(connection);
}

struct PortalRow {
    const char* what;
    QVariant value;
    std::optional<bool> dark;
};

// Names the row in test listings instead of dumping its bytes.
void PrintTo(const PortalRow& row, std::ostream* out)
{
    *out << row.what;
}

class PortalValues : public testing::TestWithParam<PortalRow> {};

TEST_P(PortalValues, ReadAsTheDesktopsPreference)
{
    EXPECT_EQ(DesktopColorScheme::prefersDark(GetParam().value), GetParam().dark) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    ColorScheme, PortalValues,
    testing::Values(
        PortalRow{"dark", QVariant(1u), true}, PortalRow{"light", QVariant(2u), false},
        PortalRow{"no preference", QVariant(0u), false},
        PortalRow{"as Read answers it, a variant in a variant",
                  QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant(1u))))), true},
        PortalRow{"as the change signal carries it", QVariant::fromValue(QDBusVariant(QVariant(2u))), false},
        PortalRow{"an unknown number", QVariant(7u), false},
        PortalRow{"text is not a number", QVariant(QStringLiteral("1")), std::nullopt},
        PortalRow{"nothing", QVariant(), std::nullopt}),
    [](const testing::TestParamInfo<PortalRow>& info) { return "case" + std::to_string(info.index); });

} // namespace
