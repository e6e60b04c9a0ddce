#include "toolchain/Survey.h"

#include "support/TestSupport.h"

namespace {

const QStringList everyFormula{"container", "socktainer", "docker", "docker-compose", "colima"};

QStringList withFormulae(QStringList prefix)
{
    return prefix << everyFormula;
}

const Tool& row(const QList<Tool>& tools, const QString& formula)
{
    for (const Tool& tool : tools) {
        if (tool.formula == formula)
            return tool;
    }
    static const Tool none;
    ADD_FAILURE() << "no row " << formula.toStdString();
    return none;
}

// Every tool the survey probes is a fake, so nothing installed on this machine leaks in.
class SurveyWithFakes : public testing::Test {
protected:
    TestSupport::FakeTools fakes{{"brew", "container", "socktainer", "docker", "colima"}};
};

} // namespace

TEST_F(SurveyWithFakes, WithoutHomebrewEveryToolIsStillProbedButNothingIsBrewManaged)
{
    fakes.answer("docker", {"--version"}, TestSupport::fixture("toolchain/docker-version.txt"));
    fakes.answer("docker", {"compose", "version"},
                 TestSupport::fixture("toolchain/docker-compose-version.txt"));

    const QList<Tool> tools = Toolchain::survey(false);
    ASSERT_EQ(tools.size(), 5);
    for (qsizetype i = 0; i < tools.size(); ++i) {
        EXPECT_EQ(tools.at(i).formula, Toolchain::all().at(i).formula);
        EXPECT_FALSE(tools.at(i).brewManaged);
        EXPECT_FALSE(tools.at(i).latest);
    }
    EXPECT_EQ(row(tools, "docker").installed, "28.2.2");
    EXPECT_EQ(row(tools, "docker-compose").installed, "2.26.1");
    EXPECT_EQ(row(tools, "container").installed, std::nullopt);

    EXPECT_TRUE(Toolchain::brewLatest(false).isEmpty());
    EXPECT_EQ(Toolchain::refreshIndex(false), "Homebrew not found.");
    EXPECT_EQ(fakes.calls(), (QStringList{"container --version", "socktainer --version", "docker --version",
                                          "docker compose version", "colima --version"}));
}

TEST_F(SurveyWithFakes, FallsBackToHomebrewsListExceptForThePlugin)
{
    fakes.answer("brew", withFormulae({"list", "--formula", "--versions"}),
                 "container 1.4.1\ndocker-compose 2.27.0\ncolima 0.8.0 0.8.1\nca-certificates 2026-05-14\n");
    // Exits 0 without a version: falls back to the list.
    fakes.answer("container", {"--version"}, "container CLI, build unknown\n");
    fakes.answer("docker", {"--version"}, "", "Docker version 28.2.2, build e6534b4\n");
    fakes.answer("docker", {"compose", "version"}, "", "docker: 'compose' is not a docker command.\n", 1);
    fakes.answer("colima", {"--version"}, "", "colima: broken\n", 1);

    const QList<Tool> tools = Toolchain::survey(true);
    EXPECT_EQ(row(tools, "container").installed, "1.4.1");
    EXPECT_TRUE(row(tools, "container").brewManaged);
    EXPECT_EQ(row(tools, "socktainer").installed, std::nullopt);
    EXPECT_FALSE(row(tools, "socktainer").brewManaged);
    // The version may come from the error output alone.
    EXPECT_EQ(row(tools, "docker").installed, "28.2.2");
    EXPECT_FALSE(row(tools, "docker").brewManaged);
    EXPECT_EQ(row(tools, "docker-compose").installed, std::nullopt);
    EXPECT_TRUE(row(tools, "docker-compose").brewManaged);
    EXPECT_EQ(row(tools, "colima").installed, "0.8.1");
    EXPECT_TRUE(row(tools, "colima").brewManaged);
    EXPECT_EQ(fakes.calls().first(),
              "brew list --formula --versions container socktainer docker docker-compose colima");
}

TEST_F(SurveyWithFakes, LatestVersionsComeFromOneInfoQuery)
{
    fakes.answer("brew", withFormulae({"info", "--json=v2"}),
                 R"({"formulae":[{"name":"container","revision":0,"versions":{"stable":"1.5.0"}},)"
                 R"({"name":"colima","revision":1,"versions":{"stable":"0.8.1"}}],"casks":[]})",
                 "Warning: something\n", 1);
    EXPECT_EQ(Toolchain::brewLatest(true),
              (QMap<QString, QString>{{"container", "1.5.0"}, {"colima", "0.8.1_1"}}));
    EXPECT_EQ(fakes.calls(),
              QStringList{"brew info --json=v2 container socktainer docker docker-compose colima"});
}

TEST_F(SurveyWithFakes, RefreshIndexReportsTheMostUsefulText)
{
    const struct {
        QString out;
        QString err;
        int status;
        std::optional<QString> problem;
    } rows[] = {
        {"Already up-to-date.\n", "", 0, std::nullopt},
        {"", "Error: Failed to download core.jws.json\n", 1, "Error: Failed to download core.jws.json"},
        // Blank error output is still chosen over the output, and trims to nothing.
        {"Updating Homebrew...\n", "   \n", 1, "brew update failed (exit 1)."},
        {"  fetch failed \n", "", 2, "fetch failed"},
        {"", "", 3, "brew update failed (exit 3)."},
    };
    for (const auto& row : rows) {
        fakes.answer("brew", {"update", "--quiet"}, row.out, row.err, row.status);
        EXPECT_EQ(Toolchain::refreshIndex(true), row.problem) << row.status;
    }
}

TEST(BrewListParser, TakesTheNewestVersionPerFormula)
{
    EXPECT_EQ(Toolchain::parseBrewList("container 1.4.1\nca-certificates 2026-05-14 2026-08-13\n"),
              (QMap<QString, QString>{{"container", "1.4.1"}, {"ca-certificates", "2026-08-13"}}));
    EXPECT_EQ(Toolchain::parseBrewList("colima 0.8.1  0.7.5\nlonely\n\n  docker   28.1.1 \n"),
              (QMap<QString, QString>{{"colima", "0.8.1"}, {"docker", "28.1.1"}}));
    // Tabs are not separators, and a later line replaces an earlier one.
    EXPECT_EQ(Toolchain::parseBrewList("git\t2.45\ngit 2.44\ngit 2.40\n"),
              (QMap<QString, QString>{{"git", "2.40"}}));
}

TEST(BrewInfoParser, ReadsStableVersionsWithRevisions)
{
    const struct {
        QString json;
        QMap<QString, QString> versions;
    } rows[] = {
        {"not json", {}},
        {"[]", {}},
        {R"({"casks":[]})", {}},
        {R"({"formulae":{}})", {}},
        {R"({"formulae":[{"name":"container","versions":{"stable":"1.4.1"}}, 3]})", {}},
        {R"({"formulae":[{"name":"container","revision":0,"versions":{"stable":"1.4.1"}},)"
         R"({"name":"socktainer","revision":2,"versions":{"stable":"1.2.1"}}]})",
         {{"container", "1.4.1"}, {"socktainer", "1.2.1_2"}}},
        {R"({"formulae":[{"name":"a","revision":2.0,"versions":{"stable":"1"}},)"
         R"({"name":"b","revision":1.5,"versions":{"stable":"1"}},)"
         R"({"name":"c","revision":"3","versions":{"stable":"1"}},)"
         R"({"name":"d","revision":true,"versions":{"stable":"1"}},)"
         R"({"name":"e","revision":-1,"versions":{"stable":"1"}},)"
         R"({"name":"f","revision":1e300,"versions":{"stable":"1"}}]})",
         {{"a", "1_2"}, {"b", "1"}, {"c", "1"}, {"d", "1"}, {"e", "1"}, {"f", "1"}}},
        {R"({"formulae":[{"name":"a","versions":{"stable":null}},{"versions":{"stable":"1"}},)"
         R"({"name":"b","versions":"1"},{"name":"c","versions":{"stable":"2"}},)"
         R"({"name":"c","versions":{"stable":"3"}}]})",
         {{"c", "3"}}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Toolchain::parseBrewInfo(row.json), row.versions) << row.json.toStdString();
}
