#include "toolchain/Tool.h"

#include "support/TestSupport.h"

#include <optional>

TEST(FirstVersion, FindsTheFirstDottedNumber)
{
    const struct {
        QString text;
        std::optional<QString> version;
    } rows[] = {
        {"container CLI version 1.4.1 (build: release, commit: unspeci)", "1.4.1"},
        {"socktainer: 1.2.1 (git commit: unspecified)", "1.2.1"},
        {"Docker version 29.8.1, build 6d6f47b", "29.8.1"},
        // Recorded from the client and compose plugin on this machine; the compose build suffix
        // "-4" closes the token.
        {TestSupport::fixture("toolchain/docker-version.txt"), "28.2.2"},
        {TestSupport::fixture("toolchain/docker-compose-version.txt"), "2.26.1"},
        {"Docker Compose version 5.5.1", "5.5.1"},
        {"1.4.1", "1.4.1"},
        {"v2.0. released", "2.0"},
        {"no numbers here", std::nullopt},
        {"", std::nullopt},
        {"2026-05-14 2026-08-13", std::nullopt},
        {"build 10 of 3.2", "3.2"},
        {".5.1 then 2.3", "2.3"},
        {"... 7 ..", std::nullopt},
        // Any numeric character counts, not only ASCII digits.
        {QString::fromUtf8("v\u0661.\u0662 arabic"), QString::fromUtf8("\u0661.\u0662")},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Toolchain::firstVersion(row.text), row.version) << row.text.toStdString();
}

TEST(VersionComponents, SplitsAtDotsUnderscoresAndDashesAndReadsJunkAsZero)
{
    EXPECT_EQ(Toolchain::components("1.2.1_2"), (QList<qint64>{1, 2, 1, 2}));
    EXPECT_EQ(Toolchain::components("1..2"), (QList<qint64>{1, 2}));
    EXPECT_EQ(Toolchain::components("2.0-rc1"), (QList<qint64>{2, 0, 0}));
    EXPECT_EQ(Toolchain::components("+3.04"), (QList<qint64>{3, 4}));
    EXPECT_EQ(Toolchain::components("99999999999999999999.1"), (QList<qint64>{0, 1}));
    EXPECT_EQ(Toolchain::components("9223372036854775807"), (QList<qint64>{9223372036854775807LL}));
    EXPECT_EQ(Toolchain::components(QString::fromUtf8("\u0661.2")), (QList<qint64>{0, 2}));
    EXPECT_EQ(Toolchain::components(""), QList<qint64>{});
}

TEST(VersionOrder, ComparesNumericallyWithMissingPartsAsZero)
{
    const struct {
        const char* a;
        const char* b;
        bool older;
    } rows[] = {
        {"1.5.0", "1.10.0", true},   {"1.10.0", "1.5.0", false},
        {"9.7.1", "9.7.1_1", true},  {"1.2.1", "1.2.1_2", true},
        {"1.2.1_2", "1.2.1", false}, {"1.4", "1.4.0", false},
        {"1.4.0", "1.4", false},     {"1.4.1", "1.4.1", false},
        {"abc", "0", false},         {"2026-05-14", "2026-08-13", true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Toolchain::isOlder(row.a, row.b), row.older) << row.a << " < " << row.b;
}

TEST(VersionOrder, NewestKeepsTheEarlierOfEqualVersions)
{
    EXPECT_EQ(Toolchain::newest({"1.9.9", "1.10.0", "1.2.0"}), "1.10.0");
    EXPECT_EQ(Toolchain::newest({"1.4", "1.4.0"}), "1.4");
    EXPECT_EQ(Toolchain::newest({"1.4.0", "1.4"}), "1.4.0");
    EXPECT_EQ(Toolchain::newest({}), std::nullopt);
}

TEST(Catalogue, ListsTheFiveToolsInOrderWithNothingFoundYet)
{
    QStringList formulae;
    for (const Tool& tool : Toolchain::all()) {
        formulae << tool.formula;
        EXPECT_FALSE(tool.installed || tool.latest || tool.brewManaged) << tool.formula.toStdString();
        EXPECT_TRUE(tool.homepage.startsWith("https://")) << tool.formula.toStdString();
    }
    EXPECT_EQ(formulae, (QStringList{"container", "socktainer", "docker", "docker-compose", "colima"}));
    EXPECT_EQ(Toolchain::all().at(3).binary, "docker");
    EXPECT_EQ(Toolchain::all().at(3).versionArgs, (QStringList{"compose", "version"}));
    EXPECT_TRUE(Toolchain::all().at(1).purpose.contains(QChar(0x2014)));
}

TEST(Catalogue, PluginFormulaeFollowThePluginColumn)
{
    EXPECT_EQ(Toolchain::pluginFormulae(), QSet<QString>{"docker-compose"});
    EXPECT_EQ(Toolchain::runtimeFormulae(), (QSet<QString>{"container", "socktainer"}));

    QList<Tool> extended = Toolchain::all();
    Tool buildx;
    buildx.formula = "docker-buildx";
    buildx.isPlugin = true;
    extended << buildx;
    EXPECT_EQ(Toolchain::pluginFormulae(extended), (QSet<QString>{"docker-compose", "docker-buildx"}));
}

TEST(Catalogue, UpdateKeyNamesFormulaAndOfferedVersion)
{
    Tool tool = Toolchain::all().first();
    EXPECT_EQ(tool.updateKey(), "container ");
    tool.latest = "1.5.0";
    EXPECT_EQ(tool.updateKey(), "container 1.5.0");
}
