#include "engine/ComposeUses.h"

#include "engine/ComposeUsesFixture.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <memory>
#include <vector>

using TestSupport::ScopedEnv;

namespace {

// What compose itself makes of a project, every profile on: the host paths its services bind and the
// engine names of the volumes they use.
struct Resolved {
    QStringList binds;
    QStringList volumes;
};

std::optional<Resolved> composeResolves(const Docker::ComposeSource& source, QString& error)
{
    QStringList args{"compose",   "-p", source.project, "--project-directory", source.projectDir,
                     "--profile", "*"};
    for (const QString& file : source.files)
        args << "-f" << file;
    for (const QString& file : source.envFiles)
        args << "--env-file" << file;
    const Platform::Capture done =
        TestSupport::docker(args + QStringList{"config", "--format", "json"}, source.projectDir);
    const QJsonObject model = QJsonDocument::fromJson(done.out.toUtf8()).object();
    if (done.status != 0 || model.isEmpty()) {
        error = done.err.trimmed();
        return std::nullopt;
    }
    Resolved resolved;
    for (const QJsonValue service : model.value("services").toObject())
        for (const QJsonValue volume : service.toObject().value("volumes").toArray())
            if (volume.toObject().value("type").toString() == "bind")
                resolved.binds << volume.toObject().value("source").toString();
    for (const QJsonValue volume : model.value("volumes").toObject())
        resolved.volumes << volume.toObject().value("name").toString();
    return resolved;
}

// Whether a path the reader names is `path` or a folder above it.
bool covers(const Docker::ComposeFileUses& uses, const QString& path)
{
    return std::any_of(uses.paths.cbegin(), uses.paths.cend(), [&](const QString& named) {
        const QString clean = QDir::cleanPath(named);
        return path == clean || path.startsWith(clean + "/");
    });
}

class ComposeJudged : public ComposeUses {
protected:
    void SetUp() override
    {
        if (TestSupport::docker({"compose", "version"}).status != 0) {
            if (TestSupport::engineRequired())
                FAIL() << "docker compose does not answer, and the test run requires it";
            GTEST_SKIP() << "docker compose does not answer";
        }
    }
};

} // namespace

// compose has the last word on what a project reads: started with variables that are not set here, it
// binds only what the reader names, a folder above it at least, and uses only the volumes the reader
// names. Each row is a way a reading once went wrong: an unbraced name cut short, a value known only in
// part taken whole, the earlier of two env files winning, an include's folder ignored, a chain of
// merges dropped, a volume left out past a path that cannot be known.
TEST_F(ComposeJudged, WhatComposeReadsIsWhatTheReaderNames)
{
    const QString r = root.path();
    const ScopedEnv data{"VSK_DATA", r.toUtf8() + "/data"};
    write("b/one.env", "VSK_D=" + r + "/first\n");
    write("b/two.env", "VSK_D=" + r + "/second\n");
    write("a/inc.yaml", "services:\n  inc:\n    image: busybox\n"
                        "    volumes: [\"${VSK_V}/data:/a\", \"./rel:/b\"]\n");
    write("a/.env", "VSK_V=" + r + "/from-a\n");
    write("pd/.env", "VSK_V=" + r + "/from-pd\n");
    write("a/backup.yaml", "services: {backup: {image: busybox, profiles: [backup], volumes: [\"keep:/k\", "
                           "\"plain:/p\"]}}\nvolumes: {keep: {external: true, name: v}, plain: {}}\n");
    QString chain = "x-0: &x0 {image: busybox, volumes: [\"./deep:/d\"]}\n";
    for (int i = 1; i < 24; ++i)
        chain += QString("x-%1: &x%1 {<<: *x%2}\n").arg(i).arg(i - 1);
    const struct {
        QString title;
        QString compose;
        QString dotEnv;
        QStringList envFiles;
        QList<std::pair<const char*, QByteArray>> notHere = {}; // set when compose ran, not when read
        bool unknown = false;
    } rows[] = {
        {"an unbraced name runs to its end",
         "services: {web: {image: busybox, volumes: [\"./base/$VSK_DATA_DIR/x:/a\", \"$VSK_DATA/y:/b\"]}}\n",
         "",
         {},
         {{"VSK_DATA_DIR", "sub"}}},
        {"a value known only in part is cut where it is not known",
         "services: {web: {image: busybox, volumes: [\"$VSK_PART/x:/a\"]}}\n",
         "VSK_PART=./known/${VSK_ROOT}/p\n",
         {},
         {{"VSK_ROOT", "r"}}},
        {"a later env file wins",
         "services: {web: {image: busybox, volumes: [\"${VSK_D}/x:/a\"]}}\n",
         "",
         {"one.env", "two.env"}},
        {"an included part runs in its project_directory",
         "include: [{path: ../a/inc.yaml, project_directory: ../pd}]\n",
         "",
         {}},
        {"merges in a row are followed", chain + "services: {web: {<<: *x23}}\n", "", {}},
        // A running project holds the external volume a service of a profile it has not started names, in
        // a file read after a path that cannot be known; each variable not set here is named once.
        {"a volume is named past a path that cannot be known",
         "services:\n"
         "  web: {image: busybox, env_file: [{path: \"${VSK_EXTRA}/e.env\", required: false}]}\n"
         "  logs: {image: busybox, volumes: [\"/srv/${VSK_LOGS}/logs:/logs\"]}\n"
         "include: [../a/backup.yaml]\n",
         "",
         {},
         {{"VSK_EXTRA", r.toUtf8() + "/extra"}, {"VSK_LOGS", "l"}},
         true},
    };
    for (const auto& row : rows) {
        write("b/compose.yaml", row.compose);
        write("b/.env", row.dotEnv);
        const Docker::ComposeSource source{{b("compose.yaml")}, root.filePath("b"), row.envFiles, "shop"};
        Docker::ComposeFileUses uses;
        {
            std::vector<std::unique_ptr<ScopedEnv>> unset;
            for (const auto& [name, value] : row.notHere)
                unset.push_back(std::make_unique<ScopedEnv>(name, std::nullopt));
            uses = namedBy(source);
        }
        std::vector<std::unique_ptr<ScopedEnv>> set;
        QStringList notHere;
        for (const auto& [name, value] : row.notHere) {
            set.push_back(std::make_unique<ScopedEnv>(name, value));
            notHere << name;
        }
        QString error;
        const std::optional<Resolved> resolved = composeResolves(source, error);
        ASSERT_TRUE(resolved) << row.title.toStdString() << ": " << error.toStdString();

        EXPECT_EQ(uses.unknown.has_value(), row.unknown) << row.title.toStdString();
        if (uses.unknown && row.unknown) {
            EXPECT_EQ(*uses.unknown,
                      "${VSK_EXTRA}/e.env names a path through a variable that is not set here");
        }
        EXPECT_EQ(uses.volumesUnknown, std::nullopt) << row.title.toStdString();
        EXPECT_EQ(uses.unsetVariables, notHere) << row.title.toStdString();
        EXPECT_FALSE(resolved->binds.isEmpty() && resolved->volumes.isEmpty()) << row.title.toStdString();
        for (const QString& bind : resolved->binds)
            EXPECT_TRUE(covers(uses, bind))
                << row.title.toStdString() << ": compose binds " << bind.toStdString()
                << "\n  the reader names " << uses.paths.join("\n    ").toStdString();
        for (const QString& volume : resolved->volumes)
            EXPECT_TRUE(uses.volumes.contains(volume))
                << row.title.toStdString() << ": compose uses " << volume.toStdString();
    }
}
