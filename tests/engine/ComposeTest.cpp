#include "engine/Compose.h"

#include "engine/ComposeProject.h"
#include "engine/Docker.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

using TestSupport::fixture;

namespace {

void touch(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

const QString unsetOne =
    " has no value; compose substituted an empty string. Check the .env beside the compose file.";

} // namespace

TEST(ComposeFile, FirstNameInOrderOfPreference)
{
    QTemporaryDir dir;
    EXPECT_EQ(Docker::composeFile(dir.path()), std::nullopt);
    touch(dir.filePath("docker-compose.yml"));
    EXPECT_EQ(Docker::composeFile(dir.path()), "docker-compose.yml");
    touch(dir.filePath("compose.yml"));
    EXPECT_EQ(Docker::composeFile(dir.path()), "compose.yml");
    ASSERT_TRUE(QDir(dir.path()).mkdir("compose.yaml")); // only existence counts
    EXPECT_EQ(Docker::composeFile(dir.path()), "compose.yaml");

    EXPECT_EQ(Docker::composeFile(dir.filePath("missing")), std::nullopt);
    EXPECT_EQ(Docker::composeFile(""), std::nullopt); // never the application's own directory
}

TEST(ComposeFile, NoFileMessageNamesTheDirectoryAndEveryName)
{
    EXPECT_EQ(Docker::noComposeFileMessage("/srv/app"),
              "No compose file in /srv/app \u2014 looked for compose.yaml, compose.yml, docker-compose.yaml, "
              "docker-compose.yml.");
    EXPECT_EQ(Docker::noComposeFileMessage("/srv/%1"),
              "No compose file in /srv/%1 \u2014 looked for compose.yaml, compose.yml, docker-compose.yaml, "
              "docker-compose.yml.");
}

// A project moved to another folder after its containers were made: the files that lay in their folder
// are read at the same place in the new one, others where they are, and every one missing is named.
TEST(ComposeFiles, AMovedProjectReadsItsFilesAtTheSamePlaceInItsNewFolder)
{
    QTemporaryDir root;
    const QString old = root.filePath("shop, old");
    const QString moved = root.filePath("moved");
    ASSERT_TRUE(QDir().mkpath(moved + "/deploy"));
    touch(moved + "/compose.yaml");
    touch(moved + "/deploy/prod.yaml");
    touch(root.filePath("shop, old-shared.yaml")); // beside the old folder, not in it
    Container web;
    web.labels.insert(Docker::workingDirLabel, old);
    web.labels.insert(Docker::configFilesLabel, old + "/compose.yaml," + old + "/deploy/prod.yaml," +
                                                    root.filePath("shop, old-shared.yaml"));
    const ComposeProject project{"shop", moved, {Container(), web}, 0, std::nullopt};
    EXPECT_EQ(Docker::composeFilesOf(project),
              (QStringList{moved + "/compose.yaml", moved + "/deploy/prod.yaml",
                           root.filePath("shop, old-shared.yaml")}));

    ASSERT_TRUE(QFile::remove(moved + "/deploy/prod.yaml"));
    ASSERT_TRUE(QFile::remove(root.filePath("shop, old-shared.yaml")));
    try {
        Docker::composeFilesOf(project);
        ADD_FAILURE() << "no failure";
    } catch (const DockerError& missing) {
        EXPECT_EQ(missing.errorDescription(),
                  "The compose files " + moved + "/deploy/prod.yaml, " +
                      root.filePath("shop, old-shared.yaml") +
                      " are missing. The project's containers were made with " + old + "/deploy/prod.yaml, " +
                      root.filePath("shop, old-shared.yaml") + ", so compose is not run without them.");
    }
    // Where the containers' own folder is the project's, their files are read as they name them.
    ComposeProject inPlace = project;
    inPlace.workingDir = old;
    try {
        Docker::composeFilesOf(inPlace);
        ADD_FAILURE() << "no failure";
    } catch (const DockerError& missing) {
        EXPECT_TRUE(missing.errorDescription().startsWith("The compose files " + old + "/compose.yaml, "))
            << missing.errorDescription().toStdString();
    }
}

// Error output recorded from the compose plugin (v2.26) for real files.
TEST(ComposeName, OnlyNamesComposeTakesAsGiven)
{
    for (const char* name : {"web", "shop-2", "a_b", "0day"})
        EXPECT_TRUE(Docker::composeAcceptsName(QString::fromUtf8(name))) << name;
    // Empty means "the folder's own project" to compose; the rest it refuses or rewrites.
    for (const char* name : {"", "Web", "my app", "-web", "_web", "shop.v2", "caf\u00e9", "a/b"})
        EXPECT_FALSE(Docker::composeAcceptsName(QString::fromUtf8(name))) << name;
}

TEST(ComposeMessages, RecordedPluginOutput)
{
    EXPECT_EQ(Docker::composeMessages(fixture("engine/compose-invalid-yaml.err")),
              (QStringList{"yaml: line 2: did not find expected ',' or ']'"}));
    EXPECT_EQ(
        Docker::composeMessages(fixture("engine/compose-invalid-property.err")),
        (QStringList{"validating /tmp/vskrec/c4/docker-compose.yml: services.web Additional property imag is "
                     "not allowed"}));
    EXPECT_EQ(Docker::composeMessages(fixture("engine/compose-unset-one.err")),
              (QStringList{"The \"DB_PASSWORD\" variable is not set. Defaulting to a blank string."}));
    EXPECT_EQ(
        Docker::composeMessages(fixture("engine/compose-external-deprecated.err")),
        (QStringList{"volumes.legacy: external.name is deprecated. Please set name and external: true"}));
    EXPECT_EQ(Docker::composeMessages(fixture("engine/compose-required-variable.err")),
              (QStringList{
                  "error while interpolating services.web.image: required variable IMG is missing a value: "
                  "set \"IMG\" first"}));
}

TEST(ComposeMessages, StructuredAndPlainLines)
{
    const struct {
        QString err;
        QStringList messages;
    } rows[] = {
        {"", {}},
        {"\n  \n\t\n", {}},
        {R"(time="2024-01-01T00:00:00Z" level=error msg="service \"web\" refers to \"C:\\data\"")",
         {R"(service "web" refers to "C:\data")"}},
        {"  plain failure text \t\n", {"plain failure text"}},
        {R"(level=warning msg="")", {""}},
        {R"(level=warning msg=")", {R"(level=warning msg=")"}}, // the opening quote is the last one
        {R"(msg="first" and msg="second")", {R"(first" and msg="second)"}},
        {"msg=unquoted\nnext", {"msg=unquoted", "next"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Docker::composeMessages(row.err), row.messages) << row.err.toStdString();
}

TEST(ComposeWarnings, UnsetVariablesAreSummedUp)
{
    EXPECT_EQ(Docker::composeWarningSummary(""), std::nullopt);
    EXPECT_EQ(Docker::composeWarningSummary(" \n\n"), std::nullopt);
    EXPECT_EQ(Docker::composeWarningSummary(fixture("engine/compose-unset-one.err")),
              "DB_PASSWORD" + unsetOne);
    EXPECT_EQ(
        Docker::composeWarningSummary(fixture("engine/compose-unset-two.err")),
        "2 variables have no value: API_KEY, DB_PASSWORD. compose substituted empty strings. Check the .env "
        "beside the compose file.\n/tmp/vskrec/c1/compose.yaml: the attribute `version` is obsolete, it will "
        "be "
        "ignored, please remove it to avoid potential confusion");
    // The plugin warns once per use of a variable: one variable used twice is one variable.
    EXPECT_EQ(Docker::composeWarningSummary(fixture("engine/compose-unset-repeated.err")),
              "UNSET_ONE" + unsetOne);
    EXPECT_EQ(
        Docker::composeWarningSummary(fixture("engine/compose-unset-two.err") +
                                      fixture("engine/compose-unset-one.err")),
        "2 variables have no value: API_KEY, DB_PASSWORD. compose substituted empty strings. Check the .env "
        "beside the compose file.\n/tmp/vskrec/c1/compose.yaml: the attribute `version` is obsolete, it will "
        "be "
        "ignored, please remove it to avoid potential confusion");
    EXPECT_EQ(Docker::composeWarningSummary("the variable is not set\nWARN: \"\" variable is not set"),
              "the variable is not set\nWARN: \"\" variable is not set");
    EXPECT_EQ(Docker::composeWarningSummary("some other warning\nThe \"FOO\" variable is not set."),
              "FOO" + unsetOne + "\nsome other warning");
}

TEST(ComposeConfigJson, RecordedConfigurations)
{
    const ComposeConfig shop = Docker::parseComposeConfig(fixture("engine/compose-config.json"), "/srv/shop");
    EXPECT_EQ(shop.name, "vskrecshop");
    EXPECT_EQ(shop.services, (QStringList{"job", "nap", "once", "slow", "web", "worker"}));
    EXPECT_EQ(shop.volumes, (QStringList{"vskrec-shared", "vskrec_web_data"}));
    EXPECT_EQ(shop.externalVolumes, (QStringList{"vskrec-shared"}));

    const ComposeConfig legacy =
        Docker::parseComposeConfig(fixture("engine/compose-config-legacy-external.json"), "/srv/legacy");
    EXPECT_EQ(legacy.volumes, (QStringList{"vskrec-shared"}));
    EXPECT_EQ(legacy.externalVolumes, (QStringList{"vskrec-shared"}));
}

TEST(ComposeConfigJson, VolumeNamesAndExternalForms)
{
    const QString json = R"({"name":"p","services":{"b":{},"a":{}},"volumes":{
        "data":{"name":"web_data"},
        "bare":null,
        "plain":{},
        "ext":{"external":true},
        "ext-named":{"name":"shared","external":true},
        "old":{"external":{"name":"old-shared"}},
        "off":{"name":"kept","external":false},
        "odd":{"name":3}
    }})";
    const ComposeConfig config = Docker::parseComposeConfig(json, "/d");
    EXPECT_EQ(config.services, (QStringList{"a", "b"}));
    EXPECT_EQ(config.volumes,
              (QStringList{"bare", "ext", "kept", "odd", "old", "plain", "shared", "web_data"}));
    EXPECT_EQ(config.externalVolumes, (QStringList{"ext", "old", "shared"}));

    const ComposeConfig bare =
        Docker::parseComposeConfig(R"({"name":"p","services":[],"volumes":"x"})", "/d");
    EXPECT_TRUE(bare.services.isEmpty());
    EXPECT_TRUE(bare.volumes.isEmpty());
}

TEST(ComposeConfigJson, UnreadableConfigurationsNameTheDirectory)
{
    for (const char* json :
         {"", "not json", "[]", "{}", R"({"name":""})", R"({"name":7})", "{\"name\":\"p\"} x"}) {
        try {
            Docker::parseComposeConfig(json, "/srv/app");
            ADD_FAILURE() << "accepted " << json;
        } catch (const DockerError& error) {
            EXPECT_EQ(error.errorDescription(), "Could not read a compose project from /srv/app.") << json;
        }
    }
}

// The plugin stood in for by a fake docker: exit codes and output the real plugin does not give on
// demand.
class FakeComposeCheck : public testing::Test {
protected:
    TestSupport::FakeTools tools{{"docker"}};
    QTemporaryDir dir;
    const QStringList configArgs{"compose", "config", "-q"};

    void SetUp() override { touch(dir.filePath("compose.yaml")); }
};

TEST_F(FakeComposeCheck, FailureWithoutMessagesGivesTheExitStatus)
{
    tools.answer("docker", configArgs, "", "\n \n", 15);
    EXPECT_EQ(Docker::checkCompose(dir.path()), ComposeCheck::invalid("compose config exited 15."));
}

TEST_F(FakeComposeCheck, FailureMessagesAreJoinedByLines)
{
    tools.answer("docker", configArgs, "ignored output",
                 "first problem\nlevel=error msg=\"second \\\"one\\\"\"\n", 1);
    EXPECT_EQ(Docker::checkCompose(dir.path()), ComposeCheck::invalid("first problem\nsecond \"one\""));
}

TEST_F(FakeComposeCheck, RunsOnTheCurrentContext)
{
    tools.answer("docker", configArgs, "", "", 0);
    EXPECT_TRUE(Docker::checkCompose(dir.path()).isValid());
    EXPECT_EQ(tools.calls(), (QStringList{"docker compose config -q"}));
}

TEST_F(FakeComposeCheck, ADeathBySignalIsAFailure)
{
    TestSupport::ScopedEnv mode("VOSKEL_FAKE_MODE", QByteArray("signal:KILL"));
    EXPECT_EQ(Docker::checkCompose(dir.path()), ComposeCheck::invalid("compose config exited 137."));
}

TEST_F(FakeComposeCheck, NoComposeFileRunsNothing)
{
    QTemporaryDir empty;
    EXPECT_EQ(Docker::checkCompose(empty.path()),
              ComposeCheck::invalid(Docker::noComposeFileMessage(empty.path())));
    try {
        Docker::composeProject(empty.path());
        ADD_FAILURE() << "read a project from an empty directory";
    } catch (const DockerError& error) {
        EXPECT_EQ(error.errorDescription(), Docker::noComposeFileMessage(empty.path()));
    }
    EXPECT_TRUE(tools.calls().isEmpty());
}

// A folder named with a byte that is not UTF-8 comes back from the engine with U+FFFD in its place,
// which names a sibling (made here, with a compose file, so that only the name can stop compose).
// Neither the folder nor a file in it is handed to compose, and the refusal names it.
TEST_F(FakeComposeCheck, APathThatCannotBeNamedExactlyRunsNothing)
{
    const QString sibling = dir.filePath(QStringLiteral("bad\uFFFD"));
    ASSERT_TRUE(QDir().mkpath(sibling));
    touch(sibling + "/compose.yaml");
    const QString why = Docker::inexactNameMessage(sibling) + " compose is not run with it.";
    const QString whyFile =
        Docker::inexactNameMessage(sibling + "/compose.yaml") + " compose is not run with it.";
    EXPECT_TRUE(why.startsWith(sibling + " cannot be named exactly")) << why.toStdString();

    EXPECT_EQ(Docker::checkCompose(sibling), ComposeCheck::invalid(why));
    EXPECT_EQ(Docker::checkCompose(dir.path(), {sibling + "/compose.yaml"}), ComposeCheck::invalid(whyFile));

    Container made;
    made.labels = {{Docker::projectLabel, "shop"},
                   {Docker::workingDirLabel, sibling},
                   {Docker::configFilesLabel, sibling + "/compose.yaml"}};
    ComposeProject inSibling{"shop", sibling, {made}, 0, std::nullopt};
    made.labels[Docker::workingDirLabel] = dir.path();
    ComposeProject fileInSibling{"shop", dir.path(), {made}, 0, std::nullopt};
    const std::pair<std::function<void()>, QString> refused[] = {
        {[&] { Docker::composeProject(sibling); }, why},
        {[&] { Docker::composeProject(dir.path(), QString("shop"), {sibling + "/compose.yaml"}); }, whyFile},
        {[&] { Docker::composeFilesOf(inSibling); }, why},
        {[&] { Docker::composeFilesOf(fileInSibling); }, whyFile},
    };
    for (const auto& [call, message] : refused) {
        try {
            call();
            ADD_FAILURE() << "accepted " << message.toStdString();
        } catch (const DockerError& error) {
            EXPECT_EQ(error.errorDescription(), message);
        }
    }
    EXPECT_TRUE(tools.calls().isEmpty());
}
