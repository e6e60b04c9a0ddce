#include "diagnostics/selftest/Cases.h"

#include "diagnostics/selftest/Check.h"
#include "diagnostics/selftest/Fixtures.h"
#include "engine/ComposeProject.h"
#include "engine/Reclaim.h"
#include "engine/Stats.h"
#include "engine/Teardown.h"
#include "engine/Usage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace SelfTest {

namespace {

QStringList volumeNames(const QList<VolumeUse>& volumes)
{
    return textsOf(volumes, &VolumeUse::name);
}

// Nothing in these plans is declared external: that list is the compose file's, and the plans here
// have none.
TeardownPlan planOf(const ComposeProject& project, const QList<Container>& all,
                    const Docker::MountMap& mounts, const QStringList& declared = {},
                    const QMap<QString, QString>& sizes = {})
{
    return Docker::plan(project, all, mounts, declared, sizes, {});
}

void mounts()
{
    const Docker::MountMap parsed = Docker::parseMounts(QStringLiteral(
        "/website-frontend-1|website-frontend-1_data,\n/marl-test-db|marl-test-db_data,\n/kelp-php-1|"));
    checkEqual(parsed.value(QStringLiteral("website-frontend-1")),
               QStringList{QStringLiteral("website-frontend-1_data")},
               QStringLiteral("the volumes one container mounts"));
    check(parsed.contains(QStringLiteral("kelp-php-1")) &&
              parsed.value(QStringLiteral("kelp-php-1")).isEmpty(),
          QStringLiteral("a container that mounts nothing maps to no volumes"));
    check(!parsed.contains(QStringLiteral("/kelp-php-1")), QStringLiteral("the leading slash is dropped"));
    check(Docker::parseMounts(QString()).isEmpty(), QStringLiteral("no lines give no mounts"));
}

} // namespace

void testTeardownPlan()
{
    const CaseScope scope(QStringLiteral("testTeardownPlan"));
    mounts();

    const auto member = [](const QString& name, const QString& project) {
        return makeContainer({.id = name,
                              .name = name,
                              .labels = composeLabels(project, std::nullopt, QStringLiteral("/tmp"))});
    };
    const Container app1 = member(QStringLiteral("app-1"), QStringLiteral("app"));
    const Container appDb = member(QStringLiteral("app-db-1"), QStringLiteral("app"));
    const Container otherApi = member(QStringLiteral("other-api-1"), QStringLiteral("other"));
    const Container portainer =
        makeContainer({.id = QStringLiteral("portainer"), .name = QStringLiteral("portainer")});
    const QString gone = QStringLiteral("/nope/gone");
    const ComposeProject p{QStringLiteral("app"), gone, {app1, appDb}, 0, std::nullopt};
    const QString appCode = QStringLiteral("app_code");
    const QString appData = QStringLiteral("app_data");

    const TeardownPlan alone = planOf(p, {app1, appDb}, {{app1.name, {appCode}}, {appDb.name, {appData}}});
    checkEqual(volumeNames(alone.removable()), QStringList{appCode, appData},
               QStringLiteral("volumes only the project mounts are removable"));
    check(alone.kept().isEmpty(), QStringLiteral("a project alone keeps no volume"));
    checkEqual(alone.containers, QStringList{app1.name, appDb.name}, QStringLiteral("the plan's containers"));
    checkEqual(alone.workingDir, std::optional<QString>(),
               QStringLiteral("a folder that does not exist is not offered for the Trash"));

    const TeardownPlan shared =
        planOf(p, {app1, appDb, otherApi},
               {{app1.name, {appCode}}, {appDb.name, {appData}}, {otherApi.name, {appData}}});
    checkEqual(volumeNames(shared.removable()), QStringList{appCode},
               QStringLiteral("a volume another project mounts is not removable"));
    checkEqual(volumeNames(shared.kept()), QStringList{appData},
               QStringLiteral("a volume another project mounts is kept"));
    checkEqual(shared.kept().value(0).usedBy, QStringList{otherApi.name},
               QStringLiteral("a kept volume names who else mounts it"));

    const TeardownPlan loose =
        planOf(p, {app1, appDb, portainer}, {{appDb.name, {appData}}, {portainer.name, {appData}}});
    checkEqual(volumeNames(loose.kept()), QStringList{appData},
               QStringLiteral("a volume a container of no project mounts is kept"));
    checkEqual(loose.kept().value(0).usedBy, QStringList{portainer.name},
               QStringLiteral("a kept volume names the container of no project"));
    check(loose.removable().isEmpty(), QStringLiteral("nothing is removable when the only volume is shared"));

    const TeardownPlan inside = planOf(p, {app1, appDb}, {{app1.name, {appData}}, {appDb.name, {appData}}});
    checkEqual(volumeNames(inside.removable()), QStringList{appData},
               QStringLiteral("a volume shared inside the project is listed once"));

    const ComposeProject empty{QStringLiteral("app"), gone, {}, 0, std::nullopt};
    const TeardownPlan declared =
        planOf(empty, {otherApi}, {{otherApi.name, {appData}}}, {appData, QStringLiteral("app_cache")});
    checkEqual(volumeNames(declared.volumes), QStringList{QStringLiteral("app_cache"), appData},
               QStringLiteral("a project without containers plans its declared volumes, by name"));
    checkEqual(volumeNames(declared.removable()), QStringList{QStringLiteral("app_cache")},
               QStringLiteral("a declared volume nobody mounts is removable"));
    checkEqual(volumeNames(declared.kept()), QStringList{appData},
               QStringLiteral("a declared volume another project mounts is kept"));
    check(declared.containers.isEmpty(), QStringLiteral("a project without containers plans none"));

    const QString folder = makeTemporaryFolder(QStringLiteral("voskel-selftest-teardown-"));
    const ComposeProject here{QStringLiteral("app"), folder, {}, 0, std::nullopt};
    checkEqual(planOf(here, {app1, appDb}, {}).workingDir, std::optional<QString>(folder),
               QStringLiteral("an existing folder is offered for the Trash"));

    const TeardownPlan sized =
        planOf(p, {app1, appDb}, {{app1.name, {appData}}}, {}, {{appData, QStringLiteral("113 MB")}});
    check(!sized.removable().isEmpty(), QStringLiteral("a mounted volume of the project is removable"));
    checkEqual(sized.removable().first().size, std::optional<QString>(QStringLiteral("113 MB")),
               QStringLiteral("a removable volume carries its size"));
    check(sized.removable().first().usedBy.isEmpty(), QStringLiteral("a removable volume is used by no one"));
    removeFolder(folder);
}

namespace {

using Fields = std::initializer_list<std::pair<const char*, const char*>>;

// One row of the engine's report: an object of text values, as the engine prints every figure.
QJsonObject row(Fields fields)
{
    QJsonObject object;
    for (const auto& [key, value] : fields)
        object.insert(QLatin1StringView(key), QString::fromUtf8(value));
    return object;
}

QJsonArray rows(std::initializer_list<Fields> table)
{
    QJsonArray array;
    for (const Fields& fields : table)
        array.append(row(fields));
    return array;
}

QString summary()
{
    QString lines;
    for (const Fields& fields : std::initializer_list<Fields>{
             {{"Active", "2"},
              {"Reclaimable", "469.5MB (1%)"},
              {"Size", "26GB"},
              {"TotalCount", "5"},
              {"Type", "Images"}},
             {{"Active", "1"},
              {"Reclaimable", "4GB (50%)"},
              {"Size", "8GB"},
              {"TotalCount", "3"},
              {"Type", "Containers"}},
             {{"Active", "1"},
              {"Reclaimable", "70MB (2%)"},
              {"Size", "3GB"},
              {"TotalCount", "3"},
              {"Type", "Local Volumes"}},
             {{"Active", "0"},
              {"Reclaimable", "1GB"},
              {"Size", "1GB"},
              {"TotalCount", "4"},
              {"Type", "Build Cache"}},
         })
        lines += QString::fromUtf8(QJsonDocument(row(fields)).toJson(QJsonDocument::Compact)) + u'\n';
    return lines;
}

QString detail()
{
    const char* app = "com.docker.compose.project=app,com.docker.compose.project.working_dir=/work/app";
    QJsonObject report;
    report.insert(QLatin1StringView("Images"), rows({
                                                   {{"Containers", "2"},
                                                    {"ID", "sha256:aaa"},
                                                    {"Repository", "postgres"},
                                                    {"Tag", "16-alpine"},
                                                    {"Size", "114MB"},
                                                    {"UniqueSize", "113.9MB"}},
                                                   {{"Containers", "0"},
                                                    {"ID", "sha256:bbb"},
                                                    {"Repository", "node"},
                                                    {"Tag", "20-alpine"},
                                                    {"Size", "49MB"},
                                                    {"UniqueSize", "40MB"}},
                                                   {{"Containers", "0"},
                                                    {"ID", "sha256:ccc"},
                                                    {"Repository", "<none>"},
                                                    {"Tag", "<none>"},
                                                    {"Size", "233kB"},
                                                    {"UniqueSize", "232.7kB"}},
                                                   {{"Containers", "0"},
                                                    {"ID", "sha256:ddd"},
                                                    {"Repository", "ghcr.io/apple/containerization/vminit"},
                                                    {"Tag", "0.47.0"},
                                                    {"Size", "69.3MB"},
                                                    {"UniqueSize", "69.25MB"}},
                                                   {{"ID", "sha256:eee"},
                                                    {"Repository", "mystery"},
                                                    {"Tag", "1"},
                                                    {"Size", "10MB"},
                                                    {"UniqueSize", "10MB"}},
                                               }));
    report.insert(
        QLatin1StringView("Containers"),
        rows({
            {{"Names", "app-db-1"},
             {"State", "running"},
             {"Size", "2GB"},
             {"LocalVolumes", "1"},
             {"Labels", app}},
            {{"Names", "app-api-1"},
             {"State", "exited"},
             {"Size", "3GB"},
             {"LocalVolumes", "1"},
             {"Labels", app}},
            {{"Names", "demo-pg"},
             {"State", "exited"},
             {"Size", "1GB"},
             {"LocalVolumes", "0"},
             {"Labels", ""}},
            {{"Names", "held"}, {"State", "paused"}, {"Size", "2GB"}, {"LocalVolumes", "0"}},
            {{"Names", "old-web-1"},
             {"State", "exited"},
             {"Size", "500MB"},
             {"LocalVolumes", "1"},
             {"Labels", "com.docker.compose.project=old,com.docker.compose.project.working-dir=/work/old"}},
            {{"Names", "buildkit"},
             {"State", "exited"},
             {"Size", "4GB"},
             {"LocalVolumes", "0"},
             {"Labels", "com.apple.container.plugin=builder,com.apple.container.resource.role=builder"}},
        }));
    report.insert(QLatin1StringView("Volumes"), rows({
                                                    {{"Name", "app_data"}, {"Links", "1"}, {"Size", "2.9GB"}},
                                                    {{"Name", "orphan"}, {"Links", "0"}, {"Size", "70MB"}},
                                                    {{"Name", "unmeasured"}, {"Links", "0"}, {"Size", "-1B"}},
                                                }));
    report.insert(QLatin1StringView("BuildCache"), QJsonArray());
    return QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Compact));
}

bool canCompose(const QString& dir)
{
    return dir == u"/work/app";
}

QStringList offered(const DiskUsage& usage, Reclaimable::Kind kind)
{
    QStringList names;
    for (const Reclaimable& item : usage.candidates)
        if (item.kind == kind)
            names << item.name;
    return names;
}

const Reclaimable& item(const QList<Reclaimable>& candidates, const QString& name)
{
    const auto found = std::find_if(candidates.cbegin(), candidates.cend(),
                                    [&](const Reclaimable& candidate) { return candidate.name == name; });
    check(found != candidates.cend(),
          QStringLiteral("a candidate named ") + describe(name) + QStringLiteral(" is offered"));
    return *found;
}

QList<Reclaimable> items(const QList<Reclaimable>& candidates, const QStringList& names)
{
    QList<Reclaimable> picked;
    for (const QString& name : names)
        picked << item(candidates, name);
    return picked;
}

QString recoveryName(Reclaimable::Recovery recovery)
{
    switch (recovery) {
    case Reclaimable::Recovery::Restorable:
        return QStringLiteral("restorable");
    case Reclaimable::Recovery::NeedsSource:
        return QStringLiteral("needsSource");
    case Reclaimable::Recovery::Gone:
        return QStringLiteral("gone");
    }
    return {};
}

void sizes()
{
    const std::pair<const char*, std::optional<qint64>> rows[] = {
        {"2.24GB", 2240000000}, {"8.19kB", 8190},      {"0B", 0},          {"469.5MB (1%)", 469500000},
        {"-1B", std::nullopt},  {"N/A", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& [text, expected] : rows)
        checkEqual(Docker::bytes(QString::fromLatin1(text)), expected,
                   QStringLiteral("Docker::bytes(") + describe(text) + u')');
}

void report(const DiskUsage& u)
{
    checkEqual(u.total, qint64(38000000000), QStringLiteral("the total is the sum of the summary's sizes"));
    checkEqual(u.containerSize.value(QStringLiteral("app-db-1")), qint64(2000000000),
               QStringLiteral("the size of app-db-1"));
    check(!u.volumeSize.contains(QStringLiteral("unmeasured")),
          QStringLiteral("an unmeasured volume has no size"));

    using Kind = Reclaimable::Kind;
    checkEqual(offered(u, Kind::Container),
               QStringList{QStringLiteral("buildkit"), QStringLiteral("app-api-1"), QStringLiteral("demo-pg"),
                           QStringLiteral("old-web-1")},
               QStringLiteral("the containers offered, largest first"));
    checkEqual(offered(u, Kind::Image),
               QStringList{QStringLiteral("node:20-alpine"), QStringLiteral("untagged")},
               QStringLiteral("the images offered"));
    checkEqual(offered(u, Kind::Volume), QStringList{QStringLiteral("orphan")},
               QStringLiteral("the volumes offered"));
    checkEqual(offered(u, Kind::BuildCache), QStringList{QStringLiteral("Build cache")},
               QStringLiteral("the build cache offered"));
    checkEqual(u.reclaimable(), qint64(9610232700), QStringLiteral("the bytes of all candidates"));
    checkEqual(item(u.candidates, QStringLiteral("node:20-alpine")).bytes, qint64(40000000),
               QStringLiteral("an image frees its unique size"));

    struct Row {
        const char* name;
        Reclaimable::Recovery recovery;
        std::optional<std::optional<QString>> note; // outer none: not asserted
        std::optional<std::optional<QString>> project;
    };
    using Recovery = Reclaimable::Recovery;
    const std::optional<QString> none;
    const Row rows[] = {
        {"app-api-1", Recovery::Restorable, none, QStringLiteral("app")},
        {"demo-pg", Recovery::Gone, QStringLiteral(u"not in a project \u00B7 no volume"), std::nullopt},
        {"old-web-1", Recovery::Gone, QStringLiteral("compose file missing"), std::nullopt},
        {"buildkit", Recovery::Restorable, none, std::nullopt},
        {"orphan", Recovery::Gone, std::nullopt, std::nullopt},
        {"untagged", Recovery::Gone, QStringLiteral("no tag"), std::nullopt},
        {"node:20-alpine", Recovery::Restorable, std::nullopt, std::nullopt},
    };
    for (const Row& row : rows) {
        const QString name = QString::fromLatin1(row.name);
        const Reclaimable& candidate = item(u.candidates, name);
        checkEqual(recoveryName(candidate.recovery), recoveryName(row.recovery),
                   QStringLiteral("whether ") + describe(name) + QStringLiteral(" can come back"));
        if (row.note)
            checkEqual(candidate.note, *row.note, QStringLiteral("the note of ") + describe(name));
        if (row.project)
            checkEqual(candidate.project, *row.project, QStringLiteral("the project of ") + describe(name));
    }
}

void systemImages()
{
    check(QString::fromLatin1(Docker::appleSystemImagePrefix).size() == 23,
          QStringLiteral("the Apple runtime's image prefix is the registry and /apple/container"));
    check(Docker::isSystemImage(QStringLiteral("ghcr.io/apple/container-builder-shim/builder")),
          QStringLiteral("the builder image belongs to the Apple runtime"));
    check(Docker::isSystemImage(QStringLiteral("socktainer-dns")),
          QStringLiteral("the bridge's images belong to it"));
    check(!Docker::isSystemImage(QStringLiteral("ghcr.io/someone/app")),
          QStringLiteral("an outside image on the same registry does not"));
}

void localBuilds(const DiskUsage& u, QList<Reclaimable>& marked)
{
    const Docker::LocalBuilds built = Docker::parseLocalBuilds(
        {QStringLiteral("web:latest"), QStringLiteral("node:20-alpine"), QStringLiteral("handmade:1")},
        QStringLiteral("website|1\n|1\n|0\n"));
    const Docker::LocalBuilds expected{{QStringLiteral("web:latest"), QStringLiteral("website")},
                                       {QStringLiteral("handmade:1"), QString()}};
    checkEqual(built, expected, QStringLiteral("images with a project label or no digest are built here"));
    check(Docker::parseLocalBuilds({QStringLiteral("a:1"), QStringLiteral("b:1")},
                                   QStringLiteral("website|1\n"))
              .isEmpty(),
          QStringLiteral("lines that do not pair with the images mark nothing"));
    check(Docker::parseLocalBuilds({QStringLiteral("a:1")}, QStringLiteral("<no value>|1\n")).isEmpty(),
          QStringLiteral("\"<no value>\" is no project"));
    check(Docker::parseLocalBuilds({}, QString()).isEmpty(), QStringLiteral("no images mark nothing"));

    marked = Docker::marking(u.candidates, {{QStringLiteral("node:20-alpine"), QStringLiteral("app")}});
    const Reclaimable& node = item(marked, QStringLiteral("node:20-alpine"));
    checkEqual(recoveryName(node.recovery), QStringLiteral("needsSource"),
               QStringLiteral("a local build needs its source"));
    checkEqual(node.note, std::optional<QString>(QStringLiteral("built here")),
               QStringLiteral("a local build's note"));
    checkEqual(node.project, std::optional<QString>(QStringLiteral("app")),
               QStringLiteral("a local build's project"));
    check(marked.size() == u.candidates.size(), QStringLiteral("marking keeps every candidate"));
    for (qsizetype i = 0; i < marked.size(); ++i)
        if (marked.at(i).name != u"node:20-alpine")
            check(marked.at(i) == u.candidates.at(i), QStringLiteral("marking leaves ") +
                                                          describe(marked.at(i).name) +
                                                          QStringLiteral(" as it was"));
}

void warningsAndProjects(const QList<Reclaimable>& marked)
{
    const std::pair<QStringList, std::optional<QString>> warnings[] = {
        {{QStringLiteral("app-api-1"), QStringLiteral("buildkit")}, std::nullopt},
        {{QStringLiteral("demo-pg"), QStringLiteral("orphan"), QStringLiteral("app-api-1")},
         QStringLiteral("2 cannot come back")},
        {{QStringLiteral("untagged"), QStringLiteral("node:20-alpine")},
         QStringLiteral(u"1 cannot come back \u00B7 1 needs its source")},
        {{}, std::nullopt},
    };
    for (const auto& [names, expected] : warnings)
        checkEqual(Docker::reclaimWarning(items(marked, names)), expected,
                   QStringLiteral("the warning before removing ") + describe(names));

    DiskUsage markedUsage;
    markedUsage.candidates = marked;
    checkEqual(textsOf(markedUsage.candidatesIn(QStringLiteral("app")), &Reclaimable::name),
               QStringList{QStringLiteral("app-api-1"), QStringLiteral("node:20-alpine")},
               QStringLiteral("the candidates of the project app"));
    check(markedUsage.candidatesIn(QStringLiteral("nobody")).isEmpty(),
          QStringLiteral("a project with no candidates has none"));
}

void emptyReports(DiskUsage u)
{
    const DiskUsage unreadable = Docker::parseUsage(QString(), QStringLiteral("not json"), canCompose);
    checkEqual(unreadable.total, qint64(0), QStringLiteral("an unreadable report has no total"));
    check(unreadable.candidates.isEmpty(), QStringLiteral("an unreadable report offers nothing"));
    check(Docker::parseUsage(
              QStringLiteral("{\"Reclaimable\":\"0B\",\"Size\":\"0B\",\"Type\":\"Build Cache\"}"),
              QStringLiteral("{}"), canCompose)
              .candidates.isEmpty(),
          QStringLiteral("a build cache with nothing to reclaim is not offered"));

    u.mounts = {{QStringLiteral("app-db-1"), {QStringLiteral("app_data")}},
                {QStringLiteral("app-api-1"), {QStringLiteral("app_data")}}};
    const auto container = [](const char* name) {
        return makeContainer({.id = QString::fromLatin1(name), .name = QString::fromLatin1(name)});
    };
    const ComposeProject app{QStringLiteral("app"),
                             std::nullopt,
                             {container("app-api-1"), container("app-db-1")},
                             0,
                             std::nullopt};
    checkEqual(u.bytes(app), qint64(7900000000),
               QStringLiteral("a project's containers and the volume they share, counted once"));
    checkEqual(u.bytes(ComposeProject{QStringLiteral("gone"), std::nullopt, {}, 0, std::nullopt}), qint64(0),
               QStringLiteral("a project without containers uses nothing"));
}

void commands(const QList<Reclaimable>& marked)
{
    // Nothing is forced: a container or image in use again since the measurement fails its removal
    // instead of being removed.
    const QList<QStringList> expected{
        {QStringLiteral("rm"), QStringLiteral("demo-pg")},
        {QStringLiteral("volume"), QStringLiteral("rm"), QStringLiteral("orphan")},
        {QStringLiteral("rmi"), QStringLiteral("node:20-alpine"), QStringLiteral("sha256:ccc")},
    };
    checkEqual(Docker::reclaimCommands(
                   items(marked, {QStringLiteral("demo-pg"), QStringLiteral("orphan"),
                                  QStringLiteral("node:20-alpine"), QStringLiteral("untagged")})),
               expected, QStringLiteral("the commands that remove a container, a volume and two images"));
    checkEqual(Docker::reclaimCommands(items(marked, {QStringLiteral("Build cache")})),
               QList<QStringList>{{QStringLiteral("builder"), QStringLiteral("prune"), QStringLiteral("-f")}},
               QStringLiteral("the command that empties the build cache"));
    check(Docker::reclaimCommands({}).isEmpty(), QStringLiteral("nothing to remove runs nothing"));
}

} // namespace

void testUsage()
{
    const CaseScope scope(QStringLiteral("testUsage"));
    sizes();
    const DiskUsage u = Docker::parseUsage(summary(), detail(), canCompose);
    report(u);
    systemImages();
    QList<Reclaimable> marked;
    localBuilds(u, marked);
    warningsAndProjects(marked);
    emptyReports(u);
    commands(marked);
}

} // namespace SelfTest
