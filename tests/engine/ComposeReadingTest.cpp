#include "engine/ComposeModelReader.h"
#include "engine/ComposeUses.h"

#include "engine/ComposeUsesFixture.h"
#include "support/TestSupport.h"

using TestSupport::ScopedEnv;

namespace {

class ComposeReading : public ComposeUses {
protected:
    // A chain of `merges` maps, each merging the next with "<<", the last binding /srv/deep.
    static QString mergeChain(int merges)
    {
        QString text = "x-0: &x0 {volumes: [\"/srv/deep:/d\"]}\n";
        for (int i = 1; i < merges; ++i)
            text += QString("x-%1: &x%1 {<<: *x%2}\n").arg(i).arg(i - 1);
        return text + QString("services:\n  web:\n    <<: *x%1\n").arg(merges - 1);
    }
};

} // namespace

// What cannot be read, or followed to its end, may name any volume; a path through a variable not set
// here names none. Either way the volumes named after it are still gathered.
TEST_F(ComposeReading, WhatCannotBeReadLeavesTheVolumesUnknown)
{
    const ScopedEnv unset{"VSK_UNSET", std::nullopt};
    write("a/bad.yaml", "volumes: [unclosed\n");
    write("a/inc.yaml", "services: {i: {image: busybox}}\n");
    ASSERT_TRUE(QDir().mkpath(root.filePath("a/folder.env")));
    const QString after = "volumes: {after: {name: kept}}\n";
    const struct {
        QString compose;
        bool volumesUnknown;
        QStringList unset = {};
    } rows[] = {
        {"services: {web: {volumes: [\"${VSK_UNSET}:/v\"]}}\n", false, {"VSK_UNSET"}},
        {"include: [../a/bad.yaml]\n", true},
        {"include: [\"${VSK_UNSET}/inc.yaml\"]\n", true, {"VSK_UNSET"}},
        {"include: [{path: ../a/inc.yaml, env_file: ../a/folder.env}]\n", true},
        {"include: [{path: ../a/inc.yaml, project_directory: \"${VSK_UNSET}\"}]\n", true, {"VSK_UNSET"}},
        {"include: [\"https://example.org/x/compose.yaml\"]\n", true},
        {"services: {web: {extends: {file: \"/srv/${VSK_UNSET}.yaml\", service: base}}}\n",
         true,
         {"VSK_UNSET"}},
        {"volumes: {named: {name: \"data-${VSK_UNSET}\"}}\n", true, {"VSK_UNSET"}},
    };
    for (const auto& row : rows) {
        const Docker::ComposeFileUses uses = ofB(row.compose + after);
        EXPECT_TRUE(uses.unknown) << row.compose.toStdString();
        EXPECT_EQ(uses.volumesUnknown.has_value(), row.volumesUnknown) << row.compose.toStdString();
        EXPECT_EQ(uses.unsetVariables, row.unset) << row.compose.toStdString();
        EXPECT_TRUE(uses.volumes.contains("kept")) << row.compose.toStdString();
    }
    const Docker::ComposeFileUses notYaml = ofB("services: {web: [unclosed\n");
    EXPECT_EQ(notYaml.unknown, b("compose.yaml") + " is not a compose file that can be read");
    EXPECT_EQ(notYaml.volumesUnknown, notYaml.unknown);
}

// Every limit of the reading, once reached, leaves the rest unread and says so: its paths and its
// volumes are unknown. Merges in a row are followed far deeper than a hand-written file takes them.
TEST_F(ComposeReading, ALimitReachedMakesTheReadingUnknown)
{
    const int deepest = Docker::ComposeModelReader::deepestMerge;
    for (const int merges : {24, deepest}) {
        const Docker::ComposeFileUses uses = ofB(mergeChain(merges));
        EXPECT_EQ(uses.unknown, std::nullopt) << merges;
        EXPECT_TRUE(uses.paths.contains("/srv/deep")) << merges;
    }

    for (int i = 0; i < 20; ++i)
        write(QString("chain/%1.yaml").arg(i), QString("include: [./%1.yaml]\n").arg(i + 1));
    QString many = "include:\n";
    for (int i = 0; i < 70; ++i)
        many += "  - " + write(QString("many/%1.yaml").arg(i), "services: {}\n") + "\n";
    QString bomb = "x-0: &x0 {web: {env_file: e}}\n";
    for (int i = 1; i < 12; ++i)
        bomb +=
            QString("x-%1: &x%1 {<<: [*x%2, *x%2, *x%2, *x%2, *x%2, *x%2, *x%2, *x%2]}\n").arg(i).arg(i - 1);
    bomb += "services: *x11\n";
    const struct {
        QString compose;
        QString said;
    } rows[] = {
        {mergeChain(deepest + 1), QString("merges maps (\"<<\") more than %1 deep").arg(deepest)},
        {"include: [../chain/0.yaml]\n", "through more than 16 files in a row"},
        {many, "include or extend more than 64 files"},
        {bomb, "hold more than 200000 entries"},
        {"services: {web: {some_future_field: " + QString(70, '[') + "/srv/x" + QString(70, ']') + "}}\n",
         "nests more than 64 levels deep"},
    };
    for (const auto& row : rows) {
        const Docker::ComposeFileUses uses = ofB(row.compose);
        ASSERT_TRUE(uses.volumesUnknown) << row.said.toStdString();
        EXPECT_TRUE(uses.volumesUnknown->contains(row.said)) << uses.volumesUnknown->toStdString();
        EXPECT_EQ(uses.unknown, uses.volumesUnknown);
    }
}

// A remembered project is read from what compose would find in its folder now as well as from the files
// it was started from: renamed since, it still names what it names; gone, with nothing there, nothing.
TEST_F(ComposeReading, ARememberedProjectIsReadFromItsFolderToo)
{
    const ScopedEnv composeFile{"COMPOSE_FILE", std::nullopt};
    const QString renamed = root.filePath("renamed");
    write("renamed/compose.yaml",
          "services: {web: {volumes: [\"data:/d\", \"./x:/x\"]}}\nvolumes: {data: {}}\n");
    Docker::ComposeSource source{{renamed + "/docker-compose.yml"}, renamed, {}, "r"};
    EXPECT_EQ(namedBy(source), Docker::ComposeFileUses{});
    source.folderToo = true;
    Docker::ComposeFileUses uses = namedBy(source);
    EXPECT_EQ(uses.unknown, std::nullopt);
    EXPECT_EQ(uses.volumes, QStringList{"r_data"});
    EXPECT_TRUE(uses.paths.contains(renamed + "/./x")) << uses.paths.join('\n').toStdString();

    // Both are read: the file it was started from, and what COMPOSE_FILE names there now.
    const QString both = root.filePath("both");
    write("both/.env", "COMPOSE_FILE=now.yaml\n");
    write("both/now.yaml", "volumes: {now: {}}\n");
    write("both/then.yaml", "volumes: {then: {}}\n");
    uses = namedBy({{"then.yaml"}, both, {}, "p", true});
    uses.volumes.sort();
    EXPECT_EQ(uses.volumes, QStringList({"p_now", "p_then"}));

    write("empty/notes.txt", "");
    EXPECT_EQ(namedBy({{"compose.yaml"}, root.filePath("empty"), {}, "e", true}), Docker::ComposeFileUses{});
}
