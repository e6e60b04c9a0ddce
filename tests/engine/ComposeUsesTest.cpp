#include "engine/ComposeUses.h"
#include "engine/ComposeVariables.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

using TestSupport::ScopedEnv;

namespace {

class ComposeUses : public testing::Test {
protected:
    QTemporaryDir root;

    QString write(const QString& relative, const QString& content)
    {
        const QString path = root.filePath(relative);
        EXPECT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content.toUtf8());
        return path;
    }

    // What a project names, read with the environment of the test.
    static Docker::ComposeFileUses namedBy(const Docker::ComposeSource& source)
    {
        return Docker::composeFileUses(source, Docker::shellVariables());
    }

    // What project b, started from b/compose.yaml, names.
    Docker::ComposeFileUses ofB(const QString& compose, const QStringList& envFiles = {})
    {
        return namedBy({{write("b/compose.yaml", compose)}, root.filePath("b"), envFiles});
    }

    QString b(const QString& relative) const { return root.filePath("b") + "/" + relative; }
};

} // namespace

// Every field of a compose file that makes compose or a container read a host path, in each of its
// forms, followed through the files it includes and extends, relative paths taken from the folder
// they are relative to; URLs, images and named volumes are no paths.
TEST_F(ComposeUses, EveryPathAComposeFileNames)
{
    write("a/base.yaml", "services:\n  base:\n    env_file: ./base.env\n");
    write("a/inc.yaml", "services:\n  i:\n    build: ./ictx\n");
    write("a/inc2.yaml", "services:\n  j:\n    volumes: [\"./jdata:/j\"]\n");
    const Docker::ComposeFileUses uses = ofB(R"(
include:
  - ../a/inc.yaml
  - path: [../a/inc2.yaml]
    project_directory: ../a/incdir
    env_file: ../a/inc.env
x-common: &common
  env_file: ../a/merged.env
services:
  web:
    <<: *common
    extends: {file: ../a/base.yaml, service: base}
    env_file: ../a/shared.env
    build: ../a/ctx
    label_file: [../a/labels]
    volumes:
      - ../a/data:/data
      - named:/n
      - ~/cache:/cache
      - type: bind
        source: /srv/long
        target: /l
    develop:
      watch:
        - {path: ../a/watched, action: sync, target: /w}
  api:
    build:
      context: ../a/ctx2
      dockerfile: Dockerfile.api
      additional_contexts:
        extra: ../a/extra
        img: docker-image://busybox
      cache_to: [type=local,dest=../a/cache]
    env_file:
      - path: ../a/opt.env
        required: false
  remote:
    build: https://example.org/x/y.git
configs:
  c: {file: ../a/cfg.txt}
secrets:
  s: {file: /run/secret.txt}
volumes:
  v:
    driver_opts: {type: overlay, o: "lowerdir=../a/low,upperdir=/srv/up,workdir=/srv/work"}
)");
    EXPECT_EQ(uses.unknown, std::nullopt);
    const QString a = root.filePath("a");
    const QStringList expected{
        b("../a/inc.yaml"),
        b("../a/inc2.yaml"),
        b("../a/inc.env"),
        a + "/./ictx",
        a + "/./jdata",
        b("../a/incdir/./jdata"),
        b("../a/merged.env"),
        b("../a/base.yaml"),
        a + "/./base.env",
        b("../a/shared.env"),
        b("../a/ctx"),
        b("../a/labels"),
        b("../a/data"),
        QDir::homePath() + "/cache",
        "/srv/long",
        b("../a/watched"),
        b("../a/ctx2"),
        b("../a/ctx2/Dockerfile.api"),
        b("../a/extra"),
        b("../a/cache"),
        b("../a/opt.env"),
        b("../a/cfg.txt"),
        "/run/secret.txt",
        b("../a/low"),
        "/srv/up",
        "/srv/work",
    };
    for (const QString& path : expected)
        EXPECT_TRUE(uses.paths.contains(path))
            << path.toStdString() << "\n in " << uses.paths.join('\n').toStdString();
    EXPECT_EQ(uses.folders, QStringList{b("../a/incdir")});
    for (const QString& path : std::as_const(uses.paths))
        for (const char* notAPath : {"named", "example.org", "busybox"})
            EXPECT_FALSE(path.contains(notAPath)) << path.toStdString();
}

// A path through a variable takes it from the shell, else from the project's env file; one set in
// neither is known up to the folder before it, and not at all when nothing comes before it.
TEST_F(ComposeUses, VariablesAreFilledInOrCutWhereTheyAreNotKnown)
{
    const ScopedEnv set{"VSK_SET", "/from/shell"};
    const ScopedEnv unset{"VSK_UNSET", std::nullopt};
    const ScopedEnv shadowed{"VSK_BOTH", "/shell/wins"};
    write("b/.env", "VSK_DOTENV=/from/dotenv\nVSK_BOTH=/dotenv/loses\n# VSK_UNSET=/commented\n");
    const struct {
        QString source;
        QStringList paths;
        bool unknown;
    } rows[] = {
        {"${VSK_SET}/x", {"/from/shell/x"}, false},
        {"$VSK_SET/x", {"/from/shell/x"}, false},
        {"${VSK_DOTENV}/y", {"/from/dotenv/y"}, false},
        {"${VSK_BOTH}", {"/shell/wins"}, false},
        {"${VSK_UNSET:-/default}/z", {"/default/z"}, false},
        {"${VSK_UNSET:-${VSK_SET}/nested}", {"/from/shell/nested"}, false},
        {"./data/${VSK_UNSET}/deeper", {b("./data")}, false},
        {"/srv/${VSK_UNSET}", {"/srv"}, false},
        {"${VSK_UNSET}/z", {}, true},
        {"/${VSK_UNSET}", {}, true},
        {"${VSK_UNSET:?must be set}/q", {}, true},
    };
    for (const auto& row : rows) {
        const Docker::ComposeFileUses uses =
            ofB("services:\n  web:\n    volumes:\n      - \"" + row.source + ":/in\"\n");
        EXPECT_EQ(uses.paths, row.paths) << row.source.toStdString();
        EXPECT_EQ(uses.unknown.has_value(), row.unknown) << row.source.toStdString();
    }
    // Started with --env-file, the project reads that instead of .env.
    write("b/prod.env", "VSK_DOTENV=/from/prod\n");
    EXPECT_EQ(ofB("services: {web: {env_file: \"${VSK_DOTENV}/e\"}}\n", {b("prod.env")}).paths,
              QStringList{"/from/prod/e"});
}

// A file that is not there names nothing; one that cannot be read, is no YAML, or includes without
// end makes what the project uses unknown; a cycle is followed once.
TEST_F(ComposeUses, WhatCannotBeReadIsUnknown)
{
    write("a/one.yaml", "include: [./two.yaml]\nservices: {o: {env_file: ./o.env}}\n");
    write("a/two.yaml", "include: [./one.yaml]\n");
    for (int i = 0; i < 40; ++i)
        write(QString("c/%1.yaml").arg(i), QString("include: [./%1.yaml]\n").arg(i + 1));
    const struct {
        QString compose;
        bool unknown;
    } rows[] = {
        {"include: [../a/missing.yaml]\n", false},
        {"include: [../a/one.yaml]\n", false},
        {"services: {web: [unclosed\n", true},
        {"include: [../c/0.yaml]\n", true},
        {"services:\n  web:\n    volumes: [\"${VSK_UNSET}:/v\"]\n", true},
    };
    const ScopedEnv unset{"VSK_UNSET", std::nullopt};
    for (const auto& row : rows)
        EXPECT_EQ(ofB(row.compose).unknown.has_value(), row.unknown) << row.compose.toStdString();
    EXPECT_TRUE(ofB("include: [../a/one.yaml]\n").paths.contains(root.filePath("a") + "/./o.env"));

    // A pipe in a file's place is not opened: it would wait for a writer that never comes.
    ASSERT_TRUE(QDir().mkpath(root.filePath("p")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(root.filePath("p/compose.yaml")).constData(), 0600), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(root.filePath("p/.env")).constData(), 0600), 0);
    EXPECT_TRUE(namedBy({{}, root.filePath("p"), {}}).unknown.has_value());

    // Merges that name one map again and again end the walk instead of taking it forever.
    QString bomb = "x-0: &x0 {web: {env_file: e}}\n";
    for (int i = 1; i < 12; ++i)
        bomb +=
            QString("x-%1: &x%1 {<<: [*x%2, *x%2, *x%2, *x%2, *x%2, *x%2, *x%2, *x%2]}\n").arg(i).arg(i - 1);
    bomb += "services: *x11\n";
    EXPECT_TRUE(ofB(bomb).unknown.has_value());
}

// A remembered project names no files: those compose would find in its folder are read, overrides too.
TEST_F(ComposeUses, AProjectWithoutNamedFilesIsReadFromItsFolder)
{
    write("r/compose.yaml", "services: {web: {env_file: ../a/main.env}}\n");
    write("r/compose.override.yaml", "services: {web: {env_file: ../a/override.env}}\n");
    const Docker::ComposeFileUses uses = namedBy({{}, root.filePath("r"), {}});
    EXPECT_TRUE(uses.paths.contains(root.filePath("r") + "/../a/main.env"));
    EXPECT_TRUE(uses.paths.contains(root.filePath("r") + "/../a/override.env"));
}
