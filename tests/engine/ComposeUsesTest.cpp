#include "engine/ComposeUses.h"
#include "engine/ComposeVariables.h"

#include "engine/ComposeUsesFixture.h"
#include "support/TestSupport.h"

#include "engine/ProjectLooks.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using TestSupport::ScopedEnv;

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
        EXPECT_EQ(namedBesidesItsFiles(uses), row.paths) << row.source.toStdString();
        EXPECT_EQ(uses.unknown.has_value(), row.unknown) << row.source.toStdString();
    }
    // Started with --env-file, the project reads that instead of .env.
    write("b/prod.env", "VSK_DOTENV=/from/prod\n");
    EXPECT_EQ(
        namedBesidesItsFiles(ofB("services: {web: {env_file: \"${VSK_DOTENV}/e\"}}\n", {b("prod.env")})),
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
    EXPECT_TRUE(namedBy({{}, root.filePath("p"), {}, "p"}).unknown.has_value());

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
    const Docker::ComposeFileUses uses = namedBy({{}, root.filePath("r"), {}, "r"});
    EXPECT_TRUE(uses.paths.contains(root.filePath("r") + "/../a/main.env"));
    EXPECT_TRUE(uses.paths.contains(root.filePath("r") + "/../a/override.env"));
}

// The project's .env is read as compose reads it: its values fill in each other, quotes, comments and
// `export` as compose takes them, and a set but empty value is no value for ":-".
TEST_F(ComposeUses, TheEnvFileIsReadAsComposeReadsIt)
{
    const ScopedEnv unset{"VSK_UNSET", std::nullopt};
    write("b/.env", "VSK_BASE=/x\n"
                    "VSK_CFG=${VSK_BASE}/b.env\n"
                    "VSK_QUOTED=\"/q/c.env\" # shared\n"
                    "export VSK_EXPORTED=/e\n"
                    "export VSK_EMPTY=\n"
                    "VSK_LATER=${VSK_UNSET}/x\n"
                    "VSK_PARTLY=/known/${VSK_UNSET}/x\n");
    const struct {
        QString envFile;
        QStringList paths;
        bool unknown;
    } rows[] = {
        {"${VSK_CFG}", {"/x/b.env"}, false},        {"${VSK_QUOTED}", {"/q/c.env"}, false},
        {"${VSK_EXPORTED}/f", {"/e/f"}, false},     {"${VSK_EMPTY:-/default}/g", {"/default/g"}, false},
        {"${VSK_EMPTY-/default}/h", {"/h"}, false}, {"${VSK_LATER}", {}, true},
        {"${VSK_PARTLY}", {"/known"}, false},
    };
    for (const auto& row : rows) {
        const Docker::ComposeFileUses uses = ofB("services: {web: {env_file: \"" + row.envFile + "\"}}\n");
        EXPECT_EQ(namedBesidesItsFiles(uses), row.paths) << row.envFile.toStdString();
        EXPECT_EQ(uses.unknown.has_value(), row.unknown) << row.envFile.toStdString();
        EXPECT_TRUE(uses.paths.contains(b(".env")));
    }
}

// An included part is filled in from its own env files (by default the .env of the folder it runs
// in) where the including part leaves a variable unset; where it sets one, its value stands.
TEST_F(ComposeUses, AnIncludedPartIsFilledInFromItsOwnEnvFiles)
{
    const ScopedEnv inc{"VSK_INC", std::nullopt};
    const ScopedEnv shared{"VSK_SHARED", std::nullopt};
    const ScopedEnv byDefault{"VSK_DEFAULT", std::nullopt};
    write("a/inc.yaml", "services: {i: {env_file: \"${VSK_INC}/i.env\", volumes: [\"${VSK_SHARED}:/s\"]}}\n");
    write("a/inc.env", "VSK_INC=/from/include\nVSK_SHARED=/include/shared\n");
    write("c/inc.yaml", "services: {j: {env_file: \"${VSK_DEFAULT}/j.env\"}}\n");
    write("c/.env", "VSK_DEFAULT=/from/default\n");
    write("b/.env", "VSK_SHARED=/parent/shared\n");
    const Docker::ComposeFileUses uses =
        ofB("include:\n  - path: ../a/inc.yaml\n    env_file: ../a/inc.env\n  - ../c/inc.yaml\n");
    EXPECT_EQ(uses.unknown, std::nullopt);
    for (const QString& path :
         {QString("/from/include/i.env"), QString("/parent/shared"), QString("/from/default/j.env"),
          b("../a/inc.env"), root.filePath("c") + "/.env"})
        EXPECT_TRUE(uses.paths.contains(path))
            << path.toStdString() << "\n in " << uses.paths.join('\n').toStdString();
    EXPECT_FALSE(uses.paths.contains("/include/shared"));
}

// Told no files, the reader finds them as compose does: COMPOSE_FILE from the shell, else from the
// folder's .env, split at COMPOSE_PATH_SEPARATOR; else the first compose file with its override. A
// folder where none of that is found may have been started from anything.
TEST_F(ComposeUses, FilesAreFoundAsComposeFindsThem)
{
    const ScopedEnv shellFile{"COMPOSE_FILE", std::nullopt};
    const ScopedEnv shellSeparator{"COMPOSE_PATH_SEPARATOR", std::nullopt};
    const QString service = "services: {s: {image: busybox}}\n";
    const struct {
        QList<std::pair<QString, QString>> files;
        std::optional<QByteArray> shellComposeFile;
        QStringList read;
        bool unknown;
    } rows[] = {
        {{{"compose.yaml", service}, {"compose.override.yaml", service}},
         std::nullopt,
         {"compose.yaml", "compose.override.yaml"},
         false},
        {{{"docker-compose.yml", service}, {"docker-compose.override.yml", service}},
         std::nullopt,
         {"docker-compose.yml", "docker-compose.override.yml"},
         false},
        {{{".env", "COMPOSE_FILE=one.yaml:sub/two.yaml\n"},
          {"one.yaml", service},
          {"sub/two.yaml", service},
          {"compose.yaml", service}},
         std::nullopt,
         {"one.yaml", "sub/two.yaml", ".env"},
         false},
        {{{".env", "COMPOSE_PATH_SEPARATOR=;\nCOMPOSE_FILE=one.yaml;two.yaml\n"},
          {"one.yaml", service},
          {"two.yaml", service}},
         std::nullopt,
         {"one.yaml", "two.yaml"},
         false},
        {{{".env", "COMPOSE_FILE=one.yaml\n"}, {"one.yaml", service}, {"three.yaml", service}},
         "three.yaml",
         {"three.yaml"},
         false},
        {{{"notes.txt", ""}}, std::nullopt, {}, true},
        {{{".env", "COMPOSE_FILE=gone.yaml\n"}, {"compose.yaml", service}}, std::nullopt, {}, true},
    };
    int n = 0;
    for (const auto& row : rows) {
        const QString dir = root.filePath(QString("p%1").arg(n++));
        for (const auto& [name, content] : row.files)
            write(dir.mid(root.path().size() + 1) + "/" + name, content);
        const ScopedEnv composeFile{"COMPOSE_FILE", row.shellComposeFile};
        const Docker::ComposeFileUses uses = namedBy({{}, dir, {}, "p"});
        EXPECT_EQ(uses.unknown.has_value(), row.unknown) << dir.toStdString();
        for (const QString& name : row.read)
            EXPECT_TRUE(uses.paths.contains(dir + "/" + name))
                << name.toStdString() << "\n in " << uses.paths.join('\n').toStdString();
        if (row.unknown) {
            EXPECT_EQ(uses.unknown, "its compose files are not found in " + dir);
        }
    }
}

// What is plainly gone names nothing, and says nothing; a file from standard input cannot be read
// again; a project started from files elsewhere names them.
TEST_F(ComposeUses, WhatIsGoneNamesNothingAndWhatWasGivenIsNamed)
{
    const QString gone = root.filePath("gone");
    EXPECT_EQ(namedBy({{}, gone, {}, "g"}), Docker::ComposeFileUses{});
    EXPECT_EQ(namedBy({{gone + "/compose.yaml"}, gone, {gone + "/.env"}, "g"}), Docker::ComposeFileUses{});
    write("file", "");
    EXPECT_EQ(namedBy({{root.filePath("file/compose.yaml")}, root.filePath("file"), {}, "g"}),
              Docker::ComposeFileUses{});

    write("b/compose.yaml", "services: {}\n");
    EXPECT_TRUE(namedBy({{"-"}, root.filePath("b"), {}, "b"}).unknown);

    const QString stack = write("elsewhere/stack.yml", "services: {web: {env_file: ./web.env}}\n");
    write("r/.env", "");
    const Docker::ComposeFileUses uses = namedBy({{stack}, root.filePath("r"), {}, "r"});
    EXPECT_EQ(uses.unknown, std::nullopt);
    EXPECT_TRUE(uses.paths.contains(stack));
    EXPECT_TRUE(uses.paths.contains(root.filePath("r/.env")));
    EXPECT_TRUE(uses.paths.contains(root.filePath("elsewhere") + "/./web.env"));
}

namespace {

// What `source` names, read by a process that may not search the folders a test locked. Root may
// search any folder, so a test run as root (as in CI) reads from a child that is nobody.
std::optional<Docker::ComposeFileUses> namedAsNobody(const Docker::ComposeSource& source)
{
    int pipe[2];
    if (::pipe(pipe) != 0)
        return std::nullopt;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << Docker::composeFileUses(source, Docker::shellVariables());
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t wrote = ::write(pipe[1], bytes.constData() + done, size_t(bytes.size() - done));
            if (wrote <= 0)
                ::_exit(3);
            done += wrote;
        }
        ::_exit(0);
    }
    ::close(pipe[1]);
    QByteArray bytes;
    char buffer[4096];
    for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof buffer)) != 0;)
        if (got > 0)
            bytes.append(buffer, got);
        else if (errno != EINTR)
            break;
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    Docker::ComposeFileUses uses;
    QDataStream in(bytes);
    in >> uses;
    return uses;
}

} // namespace

// Only what is plainly not there names nothing: a compose or env file in a folder that may not be
// searched, or behind a loop of links, makes what the project uses unknown, naming it and why.
TEST_F(ComposeUses, WhatCannotBeLookedAtIsUnknownNotGone)
{
    ASSERT_EQ(::chmod(QFile::encodeName(root.path()).constData(), 0755), 0);
    write("b/compose.yaml", "services: {web: {image: busybox}}\n");
    write("locked/compose.yaml", "services: {web: {volumes: [\"/srv/locked:/l\"]}}\n");
    write("locked/.env", "");
    const QString locked = root.filePath("locked");
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0), 0);
    const auto unlock = qScopeGuard([&] { ::chmod(QFile::encodeName(locked).constData(), 0755); });
    const struct {
        Docker::ComposeSource source;
        QString names;
    } denied[] = {
        {{{}, locked, {}, "l"}, locked},
        {{{locked + "/compose.yaml"}, {}, {}, "l"}, locked + "/compose.yaml"},
        {{{b("compose.yaml")}, root.filePath("b"), {locked + "/.env"}, "b"}, locked + "/.env"},
        {{{b("compose.yaml")}, locked + "/inner", {}, "b"}, locked + "/inner"},
    };
    for (const auto& row : denied) {
        const std::optional<Docker::ComposeFileUses> uses = namedAsNobody(row.source);
        ASSERT_TRUE(uses) << row.names.toStdString();
        ASSERT_TRUE(uses->unknown) << row.names.toStdString();
        EXPECT_TRUE(uses->unknown->startsWith(row.names)) << uses->unknown->toStdString();
        EXPECT_TRUE(uses->unknown->endsWith(QString::fromLocal8Bit(std::strerror(EACCES))))
            << uses->unknown->toStdString();
    }

    // A loop of links is no more "not there" than a folder that may not be searched, for root too.
    ASSERT_TRUE(QDir().mkpath(root.filePath("loop")));
    ASSERT_TRUE(QFile::link(root.filePath("loop/compose.yaml"), root.filePath("loop/compose.yaml")));
    write("looped-env/compose.yaml", "services: {}\n");
    ASSERT_TRUE(QFile::link(root.filePath("looped-env/.env"), root.filePath("looped-env/.env")));
    for (const Docker::ComposeSource& source :
         {Docker::ComposeSource{{}, root.filePath("loop"), {}, "l"},
          Docker::ComposeSource{{root.filePath("loop/compose.yaml")}, {}, {}, "l"},
          Docker::ComposeSource{{}, root.filePath("looped-env"), {}, "l"}}) {
        const Docker::ComposeFileUses uses = namedBy(source);
        ASSERT_TRUE(uses.unknown) << source.projectDir.toStdString();
        EXPECT_TRUE(uses.unknown->endsWith(QString::fromLocal8Bit(std::strerror(ELOOP))))
            << uses.unknown->toStdString();
    }
}

// Every field of the model that names a host path counts, whatever field it is; what compose plainly
// takes as a path inside the container, or as no path at all, does not, and a variable that is not
// set there makes nothing unknown.
TEST_F(ComposeUses, EveryFieldThatNamesAHostPathCounts)
{
    const ScopedEnv unset{"VSK_UNSET", std::nullopt};
    const Docker::ComposeFileUses uses = ofB(R"(
services:
  web:
    security_opt: ["seccomp=profile.json", "label=type:svirt_apache_t", "no-new-privileges:true"]
    logging: {driver: syslog, options: {syslog-address: "unix:///srv/log/sock"}}
    some_future_field: {deep: [{where: "opt=/srv/future,mode=ro"}]}
    cgroup_parent: ../cgroups
    working_dir: /app
    command: ["/bin/sh", "-c", "cat /etc/in-container"]
    entrypoint: /entry
    environment: {HOME_DIR: /home/in-container, FROM_SHELL: "${VSK_UNSET}"}
    labels: {path: /label/path}
    tmpfs: [/run/tmpfs]
    image: "registry.local:5000/team/app:${VSK_UNSET}"
    ports: ["${VSK_UNSET}:80"]
    user: "${VSK_UNSET}"
    healthcheck: {test: ["CMD", "/healthcheck"]}
    volumes:
      - ./data:/container/short
      - {type: bind, source: long, target: /container/long, bind: {create_host_path: true}}
    configs: [{source: c, target: /container/config}]
    x-notes: /ext/path
    develop: {watch: [{path: src, action: sync, target: /container/src}]}
configs:
  c: {file: cfg.txt}
networks:
  n: {driver_opts: {"com.example.socket": /srv/net.sock}}
x-top: {a: /ext/top}
)");
    EXPECT_EQ(uses.unknown, std::nullopt);
    for (const QString& path :
         {b("profile.json"), QString("/srv/log/sock"), QString("/srv/future"), b("../cgroups"), b("./data"),
          b("long"), b("src"), b("cfg.txt"), QString("/srv/net.sock")})
        EXPECT_TRUE(uses.paths.contains(path))
            << path.toStdString() << "\n in " << uses.paths.join('\n').toStdString();
    for (const QString& path : std::as_const(uses.paths))
        for (const char* notAHostPath :
             {"container", "/app", "/entry", "/label", "/run/tmpfs", "/ext", "/healthcheck", "registry"})
            EXPECT_FALSE(path.contains(notAHostPath)) << path.toStdString();

    // A field that may name a path through a variable that is not set here may name any path.
    for (const QString& body :
         {QString("security_opt: [\"seccomp=${VSK_UNSET}\"]"), QString("some_future_field: \"${VSK_UNSET}\""),
          QString("logging: {options: {address: \"unix://${VSK_UNSET}\"}}")})
        EXPECT_TRUE(ofB("services:\n  web:\n    " + body + "\n").unknown) << body.toStdString();
    EXPECT_EQ(
        namedBesidesItsFiles(ofB("services: {web: {some_future_field: \"/srv/known/${VSK_UNSET}/x\"}}\n")),
        QStringList{"/srv/known"});
}

// The volumes a project's files declare, by the names the engine gives them.
TEST_F(ComposeUses, TheVolumesItDeclaresByTheirEngineNames)
{
    const ScopedEnv unset{"VSK_UNSET", std::nullopt};
    write("b/.env", "VSK_VOL=shared\n");
    write("a/inc.yaml", "volumes: {included: {}}\n");
    Docker::ComposeFileUses uses = ofB(R"(
include: [../a/inc.yaml]
volumes:
  plain:
  named: {name: "${VSK_VOL}-data"}
  ext: {external: true}
  legacy: {external: {name: old-data}}
  extnamed: {external: true, name: outside}
  notext: {external: false}
  maybe: {external: "${VSK_UNSET}"}
)");
    EXPECT_EQ(uses.unknown, std::nullopt);
    uses.volumes.sort();
    EXPECT_EQ(uses.volumes, QStringList({"ext", "maybe", "old-data", "outside", "shared-data",
                                         "shop_included", "shop_maybe", "shop_notext", "shop_plain"}));

    // Told no name, the reader names the project as compose would started there without one.
    const QString compose = b("compose.yaml");
    const struct {
        QString compose;
        QString dotEnv;
        QString project;
        std::optional<QString> volume; // none: not known
    } rows[] = {
        {"volumes: {plain: {}}\n", "", "", "b_plain"},
        {"name: shop\nvolumes: {plain: {}}\n", "", "", "shop_plain"},
        {"name: shop\nvolumes: {plain: {}}\n", "COMPOSE_PROJECT_NAME=fromenv\n", "", "fromenv_plain"},
        {"name: shop\nvolumes: {plain: {}}\n", "COMPOSE_PROJECT_NAME=fromenv\n", "given", "given_plain"},
        {"name: \"${VSK_UNSET}\"\nvolumes: {plain: {}}\n", "", "", std::nullopt},
        {"volumes: {named: {name: \"${VSK_UNSET}\"}}\n", "", "b", std::nullopt},
    };
    for (const auto& row : rows) {
        write("b/compose.yaml", row.compose);
        write("b/.env", row.dotEnv);
        uses = namedBy({{compose}, root.filePath("b"), {}, row.project});
        EXPECT_EQ(uses.unknown.has_value(), !row.volume) << row.compose.toStdString();
        if (row.volume) {
            EXPECT_EQ(uses.volumes, QStringList{*row.volume}) << row.compose.toStdString();
        }
    }
    write("Odd Folder.x/compose.yaml", "volumes: {plain: {}}\n");
    EXPECT_EQ(namedBy({{root.filePath("Odd Folder.x/compose.yaml")}, {}, {}, ""}).volumes,
              QStringList{"oddfolderx_plain"});
}

// A compose or env file far larger than one can be is not read, and what the project uses is unknown,
// its volumes too.
TEST_F(ComposeUses, AFileTooLargeToBeReadIsUnknown)
{
    const QString padding(2 << 20, u'#');
    write("big/compose.yaml", "services: {}\n" + padding);
    write("bigenv/compose.yaml", "services: {}\n");
    write("bigenv/.env", "A=1\n" + padding);
    for (const QString& name : {QString("big/compose.yaml"), QString("bigenv/.env")}) {
        const QString dir = root.filePath(name.section('/', 0, 0));
        const Docker::ComposeFileUses uses = namedBy({{}, dir, {}, "p"});
        EXPECT_EQ(uses.unknown, root.filePath(name) + " is too large to be read");
        EXPECT_EQ(uses.volumesUnknown, uses.unknown);
    }
}
