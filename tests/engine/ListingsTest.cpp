#include "engine/Listings.h"

#include "engine/Docker.h"
#include "engine/ExactLabels.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

using TestSupport::names;

namespace {

const Runtime colima = Runtime::context("colima");

Container named(const QList<Container>& list, const QString& name)
{
    for (const Container& c : list)
        if (c.name == name)
            return c;
    ADD_FAILURE() << "no container " << name.toStdString();
    return {};
}

Container labelled(const QString& name, const QMap<QString, QString>& labels,
                   const std::optional<Runtime>& runtime = std::nullopt, const QString& state = "running")
{
    return Container{"id-" + name, name, "img", state, "Up", "", labels, runtime};
}

} // namespace

// Output recorded from the real client: a compose project with health checks, exit codes, a paused
// service, a label holding commas, IPv4 and IPv6 bindings, and loose containers beside it.
TEST(RecordedListings, ContainersKeepEveryFieldTheClientPrinted)
{
    const auto list = Docker::parseContainers(TestSupport::fixture("engine/ps-recorded.ndjson"), colima);
    ASSERT_EQ(list.size(), 10);

    const Container web = named(list, "vskrecshop-web-1");
    EXPECT_EQ(web.id, "6f36b6cae04e");
    EXPECT_EQ(web.image, "voskel-test/busybox:latest");
    EXPECT_EQ(web.ports, "0.0.0.0:18281->80/tcp, [::]:18281->80/tcp, 127.0.0.1:18282->81/tcp");
    EXPECT_EQ(web.runtime, colima);
    EXPECT_EQ(web.project(), "vskrecshop");
    EXPECT_EQ(web.service(), "web");
    EXPECT_EQ(web.workingDir(), "/tmp/vskrec/shop");
    // The label value was "a, b=c,,d": the client's comma-joined text cannot tell its inner "b=c"
    // from a label of its own, and the doubled comma comes back single.
    EXPECT_EQ(web.labels.value("com.example.note"), "a");
    EXPECT_EQ(web.labels.value(" b"), "c,d");
    EXPECT_EQ(web.labels.value("com.docker.compose.depends_on"), "");
    EXPECT_EQ(Docker::shortPorts(web.ports), "18281:80, 18282:81");
    EXPECT_EQ(web.hostPorts(), (QStringList{"18281", "18282"}));

    const Container loose = named(list, "vskrec-loose");
    EXPECT_EQ(loose.labels, (QMap<QString, QString>{{"plain", "x"}}));
    EXPECT_EQ(Docker::shortPorts(loose.ports), "18283:80, 18284:8080");
    EXPECT_FALSE(loose.project().has_value());

    const Container legacy = named(list, "vskrec-legacy");
    EXPECT_EQ(legacy.workingDir(), "/srv/legacy");
}

// Recorded from the real client: projects started from folders named "shop,env=prod" (beside a
// folder "shop"), "shop," (with an override file), "a,,b" and "bad" followed by the byte 0xFF, and a
// container with an empty project label and a note quoting a service label. The compose labels come
// through whole; the byte the engine could not keep comes through as U+FFFD.
TEST(RecordedListings, ComposeLabelsComeThroughWholeWhateverTheFolderIsNamed)
{
    const auto list = Docker::parseContainers(TestSupport::fixture("engine/ps-names.ndjson"), std::nullopt);
    ASSERT_EQ(list.size(), 5);
    const QString cm = "/tmp/vskrec/cm/";
    const struct {
        const char* name;
        std::optional<QString> project, service, workingDir;
        QStringList configFiles;
    } rows[] = {
        {"vskrecenv-app-1", "vskrecenv", "app", cm + "shop,env=prod", {cm + "shop,env=prod/compose.yaml"}},
        {"vskrectrail-app-1",
         "vskrectrail",
         "app",
         cm + "shop,",
         {cm + "shop,/compose.yaml", cm + "shop,/override.yaml"}},
        {"vskrecdouble-app-1", "vskrecdouble", "app", cm + "a,,b", {cm + "a,,b/compose.yaml"}},
        {"vskrecbad-app-1",
         "vskrecbad",
         "app",
         cm + QStringLiteral("bad\uFFFD"),
         {cm + QStringLiteral("bad\uFFFD/compose.yaml")}},
        {"vskrec-unnamed", "", std::nullopt, std::nullopt, {}},
    };
    for (const auto& row : rows) {
        const Container c = named(list, row.name);
        EXPECT_EQ(c.project(), row.project) << row.name;
        EXPECT_EQ(c.service(), row.service) << row.name;
        EXPECT_EQ(c.workingDir(), row.workingDir) << row.name;
        EXPECT_EQ(c.configFiles(), row.configFiles) << row.name;
    }

    const auto projects = Docker::group(list);
    EXPECT_EQ(names(projects), (QStringList{"", "vskrecbad", "vskrecdouble", "vskrecenv", "vskrectrail"}));
    EXPECT_TRUE(Docker::ungrouped(list).isEmpty());
    EXPECT_FALSE(projects[0].workingDir.has_value());

    // A volume whose note quotes a project label is nobody's; compose's own carry their project.
    const auto volumes =
        Docker::parseVolumes(TestSupport::fixture("engine/volumes-names.ndjson"), std::nullopt);
    ASSERT_EQ(volumes.size(), 5);
    for (const DockerVolume& volume : volumes) {
        const auto project = volume.labels.constFind(Docker::projectLabel);
        if (volume.name == "vskrec-quoted")
            EXPECT_EQ(project, volume.labels.cend());
        else
            EXPECT_EQ(volume.name, *project + "_data");
    }
}

// Each listing repeats the labels of the one before; what was read is taken again only while every
// label column reads the same: a folder that changes in its own column alone still comes through.
TEST(RecordedListings, ALabelColumnThatChangesAloneIsReadAgain)
{
    const QString text = TestSupport::fixture("engine/ps-names.ndjson");
    const auto first = Docker::parseContainers(text, std::nullopt);
    const auto again = Docker::parseContainers(text, std::nullopt);
    EXPECT_EQ(again, first);

    QString moved = text;
    moved.replace(QStringLiteral("\"com.docker.compose.project.working_dir\":\"/tmp/vskrec/cm/shop,\""),
                  QStringLiteral("\"com.docker.compose.project.working_dir\":\"/tmp/vskrec/cm/shop,moved\""));
    ASSERT_NE(moved, text);
    const auto list = Docker::parseContainers(moved, std::nullopt);
    EXPECT_EQ(named(list, "vskrectrail-app-1").workingDir(), QStringLiteral("/tmp/vskrec/cm/shop,moved"));
    EXPECT_EQ(named(list, "vskrecenv-app-1"), named(first, "vskrecenv-app-1"));
}

// The recorded fixtures are what the listing's own template prints: every field it asks for, and
// nothing else.
TEST(RecordedListings, FixturesHoldTheFieldsTheListingAsksFor)
{
    const auto fieldsOf = [](const QString& format) {
        QStringList fields;
        for (const QJsonObject& object :
             Docker::ndjson(QString(format).replace(QRegularExpression("\\{\\{[^}]*\\}\\}"), "0")))
            fields = object.keys();
        return fields;
    };
    const QStringList ps = fieldsOf(Docker::containerListingArgs().last());
    const QStringList volume = fieldsOf(Docker::volumeListingArgs().last());
    ASSERT_TRUE(ps.contains("com.docker.compose.project.working-dir")) << ps.join(' ').toStdString();
    ASSERT_TRUE(volume.contains("com.docker.compose.project")) << volume.join(' ').toStdString();
    for (const auto& [file, fields] :
         {std::pair{"engine/ps-recorded.ndjson", ps}, std::pair{"engine/ps-names.ndjson", ps},
          std::pair{"engine/volumes.ndjson", volume}, std::pair{"engine/volumes-names.ndjson", volume}})
        for (const QJsonObject& line : Docker::ndjson(TestSupport::fixture(file)))
            EXPECT_EQ(line.keys(), fields) << file;
}

// The joined label text is read only to tell a compose label present with an empty value from an
// absent one; its own reading of a compose label never wins over the label's field.
TEST(ListingLabels, EmptyComposeLabelsArePresentAndQuotedOnesAreNot)
{
    const auto line = [](const QString& joined, const QString& project, const QString& dir = {}) {
        QJsonObject object{
            {"ID", "x"}, {"Labels", joined}, {Docker::projectLabel, project}, {Docker::workingDirLabel, dir}};
        return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    };
    const QString P = Docker::projectLabel;
    const QString W = Docker::workingDirLabel;
    const struct {
        QString line;
        std::optional<QString> project, workingDir;
    } rows[] = {
        {line(P + "=", ""), "", std::nullopt},
        {line("a=1," + P + "=,b=2", ""), "", std::nullopt},
        {line("a=1," + P + "=", ""), "", std::nullopt},
        {line(P + "=," + W + "=", ""), "", ""},
        {line("", ""), std::nullopt, std::nullopt},
        {line(P + "=x", ""), std::nullopt, std::nullopt}, // a field says more than the text
        {line(P + "x=", ""), std::nullopt, std::nullopt},
        {line("a=" + P + "=", ""), std::nullopt, std::nullopt},
        {line(P + "=shop,env=prod," + W + "=/srv/a,b=c", "shop,env=prod", "/srv/a,b=c"), "shop,env=prod",
         "/srv/a,b=c"},
        {line(W + "=/srv/x," + P + "=evil", "shop", "/srv/x," + P + "=evil"), "shop",
         "/srv/x," + P + "=evil"},
    };
    for (const auto& row : rows) {
        const auto list = Docker::parseContainers(row.line, std::nullopt);
        ASSERT_EQ(list.size(), 1) << row.line.toStdString();
        EXPECT_EQ(list[0].project(), row.project) << row.line.toStdString();
        EXPECT_EQ(list[0].workingDir(), row.workingDir) << row.line.toStdString();
    }
}

// An empty project label only the joined text shows is settled by the engine's own labels; a container
// or volume the engine gives none for in time belongs to no project, never to the nameless group that
// gathers every such container on the engine.
TEST(ListingLabels, AnUnsureLabelTheEngineDoesNotAnswerForIsDropped)
{
    const QString P = Docker::projectLabel;
    Container container;
    container.id = TestSupport::uniqueName("unanswered");
    container.labels = {{P, QString()}, {"keep", "1"}};
    QList<Container> containers{container};
    QList<DockerVolume> volumes{
        {TestSupport::uniqueName("unanswered"), "local", "/v", std::nullopt, {{P, QString()}}}};
    // No time left: the engine is not even asked.
    Docker::settleUnsureLabels(containers, {P}, std::nullopt, std::chrono::milliseconds(0));
    Docker::settleUnsureLabels(volumes, {P}, std::nullopt, std::chrono::milliseconds(0));
    EXPECT_EQ(containers[0].project(), std::nullopt);
    EXPECT_EQ(containers[0].labels, (Docker::LabelMap{{"keep", "1"}}));
    EXPECT_FALSE(volumes[0].labels.contains(P));
    // Not gone, but unknown: whoever plans by these labels is told they were not answered.
    EXPECT_TRUE(containers[0].labelsUnanswered);
    EXPECT_TRUE(volumes[0].labelsUnanswered);
}

TEST(RecordedListings, HealthAndExitCodesDecideTrouble)
{
    const auto list =
        Docker::parseContainers(TestSupport::fixture("engine/ps-recorded.ndjson"), std::nullopt);
    struct Row {
        const char* name;
        bool failed, troubled, live;
    };
    const Row rows[] = {
        {"vskrecshop-web-1", false, false, true},   // Up (healthy)
        {"vskrecshop-worker-1", false, true, true}, // Up (unhealthy)
        {"vskrecshop-slow-1", false, false, true},  // Up (health: starting)
        {"vskrecshop-job-1", true, true, false},    // Exited (2)
        {"vskrecshop-once-1", false, false, false}, // Exited (0)
        {"vskrecshop-nap-1", false, false, true},   // paused
        {"vskrec-killed", true, true, false},       // Exited (137)
        {"vskrec-created", false, false, false},    // Created
    };
    for (const Row& row : rows) {
        const Container c = named(list, row.name);
        EXPECT_EQ(c.isFailed(), row.failed) << row.name;
        EXPECT_EQ(c.isTroubled(), row.troubled) << row.name;
        EXPECT_EQ(c.isLive(), row.live) << row.name;
    }
}

TEST(RecordedListings, ImagesAndVolumes)
{
    const auto images = Docker::parseImages(TestSupport::fixture("engine/images.ndjson"), std::nullopt);
    ASSERT_EQ(images.size(), 3);
    EXPECT_EQ(images[0].repository, "<none>"); // printed as \u003cnone\u003e
    EXPECT_EQ(images[0].ref(), "baf3daa6a43a");
    EXPECT_EQ(images[1].ref(), "voskel-test/busybox:latest");
    EXPECT_EQ(images[2].ref(), "vskrec/busybox:v1");
    EXPECT_EQ(images[2].size, "1.98MB");

    const auto volumes = Docker::parseVolumes(TestSupport::fixture("engine/volumes.ndjson"), colima);
    ASSERT_EQ(volumes.size(), 2);
    EXPECT_EQ(volumes[1].name, "vskrec_web_data");
    EXPECT_EQ(volumes[1].driver, "local");
    EXPECT_EQ(volumes[1].mountpoint, "/var/lib/docker/volumes/vskrec_web_data/_data");
    EXPECT_EQ(volumes[1].id(), "colima/vskrec_web_data");
    EXPECT_EQ(Docker::parseVolumes(TestSupport::fixture("engine/volumes.ndjson"), std::nullopt)[1].id(),
              "/vskrec_web_data");
}

// The client lists the newest image first and its equals in any order: two listings of an unchanged
// engine give the same rows, the newest still first.
TEST(RecordedListings, ImagesTheClientListsAsEqualsKeepOneOrder)
{
    const auto line = [](const char* id, const char* repository, const char* tag, const char* created) {
        return QStringLiteral(R"({"ID":"%1","Repository":"%2","Tag":"%3","Size":"1MB","CreatedAt":"%4"})")
            .arg(id, repository, tag, created);
    };
    const QString newest = line("aaa111", "web", "dev", "2026-12-07 16:14:49 +0000 UTC");
    const QStringList sameImage = {line("bbb222", "web", "latest", "2026-12-07 04:18:46 +0000 UTC"),
                                   line("bbb222", "mirror/web", "v1", "2026-12-07 04:18:46 +0000 UTC")};
    const QStringList sameSecond = {line("ccc333", "<none>", "<none>", "2026-12-06 09:00:00 +0000 UTC"),
                                    line("ccc222", "<none>", "<none>", "2026-12-06 09:00:00 +0000 UTC"),
                                    line("ddd444", "db", "1", "2026-12-06 09:00:00 +0000 UTC")};
    const QString once =
        QStringList{newest, sameImage[0], sameImage[1], sameSecond[0], sameSecond[1], sameSecond[2]}.join(
            '\n');
    const QString again =
        QStringList{newest, sameImage[1], sameImage[0], sameSecond[2], sameSecond[1], sameSecond[0]}.join(
            '\n');

    const auto rows = [](const QString& listing) {
        QStringList out;
        for (const DockerImage& image : Docker::parseImages(listing, std::nullopt))
            out << image.repository + ':' + image.tag + ' ' + image.id;
        return out;
    };
    const QStringList expected{"web:dev aaa111",       "mirror/web:v1 bbb222", "web:latest bbb222",
                               "<none>:<none> ccc222", "<none>:<none> ccc333", "db:1 ddd444"};
    EXPECT_EQ(rows(once), expected);
    EXPECT_EQ(rows(again), expected);
}

TEST(RecordedListings, MissingKeysAndOddLinesNeitherFailNorShift)
{
    const QString text = "{\"ID\":\"a1\",\"Names\":\"only-id\"}\nnot json\n[{\"ID\":\"x\"}]\n"
                         "{\"ID\":7,\"Names\":\"numeric-id\",\"Labels\":null}\n";
    const auto list = Docker::parseContainers(text, std::nullopt);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].id, "a1");
    EXPECT_EQ(list[0].state, "");
    EXPECT_TRUE(list[0].labels.isEmpty());
    EXPECT_EQ(list[1].id, "");
    EXPECT_EQ(list[1].name, "numeric-id");
}

// The listing reader takes a fast path for the client's flat objects; whatever a line holds, it must
// read it exactly as the general JSON reader does.
class FastReaderAgrees : public testing::TestWithParam<QString> {};

TEST_P(FastReaderAgrees, WithTheGeneralReader)
{
    const QList<QLatin1StringView> keys{QLatin1StringView("ID"), QLatin1StringView("Names"),
                                        QLatin1StringView("Labels")};
    QList<QStringList> expected;
    for (const QJsonObject& object : Docker::ndjson(GetParam())) {
        QStringList row;
        for (const auto key : keys)
            row << Docker::str(object, key);
        expected << row;
    }
    EXPECT_EQ(Docker::ndjsonStrings(GetParam(), keys), expected) << GetParam().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FastReaderAgrees,
    testing::Values(
        R"({"ID":"a","Names":"b","Labels":"k=v,w"})", R"(  { "ID" : "a" , "Names":"b" }  )",
        "{\"ID\":\"a\"}\r", R"({})", R"({"ID":"\u003cnone\u003e","Names":"q\"uote\\back\/slash\n\t\b\f\r"})",
        R"({"ID":"\ud83d\ude00 pair","Names":"lone \ud800 high"})", R"({"ID":"lone \udc00 low"})",
        QString::fromUtf8(R"({"ID":"raw 😀 emoji","Names":"é"})"), R"({"I\u0044":"escaped key"})",
        R"({"ID":"first","ID":"second"})", R"({"ID":1,"Names":true,"Labels":null})",
        R"({"ID":{"Names":"inner"},"Names":["x","}"],"Labels":"ok"})",
        R"({"N":-0.5,"M":12,"E":1e5,"Z":012,"ID":"after numbers"})",
        R"({"N":123456789012345678901234,"ID":"big"})", R"({"N":-,"ID":"x"})", R"({"N":1.,"ID":"x"})",
        R"({"ID":"a"} trailing)", R"({"ID":"a",})", R"({"ID":"a")", R"({"ID" "a"})",
        R"({"ID":"bad \x escape"})", R"({"ID":"short \u12"})", "{\"ID\":\"raw\ttab\"}", R"({"ID":tru})",
        R"({"ID":nulls})", R"(["ID","a"])", R"("ID")", "   ", "\n\n",
        R"({"a":[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["deep"]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]],"ID":"d"})",
        "{\"ID\":\"one\"}\n\n{\"ID\":\"two\"}\nnoise\n{\"ID\":\"three\"}",
        QString::fromUtf8("{\"ID\":\"a\",\"Names\":\"\xEF\xBB\xBFweb\"}"),
        QString::fromUtf8("\xEF\xBB\xBF{\"ID\":\"marked line\",\"\xEF\xBB\xBFNames\":\"marked key\"}")));

TEST(FastReaderAgrees, AByteOrderMarkInsideAValueIsPartOfIt)
{
    // The name "\uFEFFweb" is not "web": a command given the one must never reach the other.
    const QString line = QString::fromUtf8("{\"ID\":\"a\",\"Names\":\"\xEF\xBB\xBFweb\"}");
    ASSERT_EQ(Docker::parseContainers(line, std::nullopt).size(), 1);
    EXPECT_EQ(Docker::parseContainers(line, std::nullopt)[0].name, QStringLiteral(u"\uFEFFweb"));
    EXPECT_EQ(Docker::str(Docker::ndjson(line).value(0), QStringLiteral("Names")),
              QStringLiteral(u"\uFEFFweb"));
}

TEST(Labels, CommasInValuesAreRejoined)
{
    const struct {
        QString text;
        QMap<QString, QString> labels;
    } rows[] = {
        {"", {}},
        {"a=1,b=x,y,z,c=3", {{"a", "1"}, {"b", "x,y,z"}, {"c", "3"}}},
        {"com.docker.compose.project=web,com.docker.compose.service=db",
         {{"com.docker.compose.project", "web"}, {"com.docker.compose.service", "db"}}},
        {"stray,a=1", {{"a", "1"}}},
        {"a=x=y,,b=", {{"a", "x=y"}, {"b", ""}}},
        {"a=1,,,tail", {{"a", "1,tail"}}},
        {"=v,a=1,a=2", {{"", "v"}, {"a", "2"}}},
        {" k = v ", {{" k ", " v "}}},
    };
    // One pool across all rows, as a listing shares it: a value rejoined from pieces must not
    // change the same text held by another label or container.
    Docker::TextPool pool;
    for (const auto& row : rows) {
        EXPECT_EQ(Docker::parseLabels(row.text), row.labels) << row.text.toStdString();
        EXPECT_EQ(Docker::parseLabels(row.text, &pool), row.labels) << row.text.toStdString();
    }
    EXPECT_EQ(Docker::parseLabels(u"a=x,b=x,y,c=x", &pool),
              (QMap<QString, QString>{{"a", "x"}, {"b", "x,y"}, {"c", "x"}}));
}

TEST(Ports, ShortFormAndHostPorts)
{
    const struct {
        QString column;
        QString shortForm;
        QStringList hosts;
    } rows[] = {
        {"", "", {}},
        {"80/tcp", "", {}},
        {"0.0.0.0:8080->80/tcp, :::8080->80/tcp, 443/tcp", "8080:80", {"8080"}},
        {"0.0.0.0:8080->80/tcp, [::]:8080->80/tcp, 127.0.0.1:9000->9000/udp",
         "8080:80, 9000:9000",
         {"8080", "9000"}},
        {"[::1]:5432->5432/tcp", "5432:5432", {"5432"}},
        {"0.0.0.0:7000-7001->7000-7001/tcp", "7000-7001:7000-7001", {"7000-7001"}},
        {"8080->80/tcp", "", {}}, // no host address: nothing before the port
        {"0.0.0.0:->80/tcp, 0.0.0.0:81->/tcp", "", {}},
        {"0.0.0.0:3000->3000", "3000:3000", {"3000"}},
        {",, \t0.0.0.0:1->2/tcp\t,", "1:2", {"1"}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Docker::shortPorts(row.column), row.shortForm) << row.column.toStdString();
        Container c;
        c.ports = row.column;
        EXPECT_EQ(c.hostPorts(), row.hosts) << row.column.toStdString();
    }
}

TEST(ContainerLabels, WorkingDirPrefersTheUnderscoreKey)
{
    EXPECT_EQ(labelled("a", {{Docker::workingDirLabelAlt, "/alt"}}).workingDir(), "/alt");
    EXPECT_EQ(labelled("a", {{Docker::workingDirLabelAlt, "/alt"}, {Docker::workingDirLabel, "/main"}})
                  .workingDir(),
              "/main");
    EXPECT_EQ(
        labelled("a", {{Docker::workingDirLabel, ""}, {Docker::workingDirLabelAlt, "/alt"}}).workingDir(),
        "");
    EXPECT_FALSE(labelled("a", {}).workingDir().has_value());
}

// compose joins the absolute paths of a project's files with commas; only the commas before a "/"
// can part them, and those inside the project's own folder do not.
TEST(ContainerLabels, ConfigFilesArePartedOnlyWhereAPathCanStart)
{
    const QString F = Docker::configFilesLabel;
    const QString W = Docker::workingDirLabel;
    const struct {
        QMap<QString, QString> labels;
        QStringList files;
    } rows[] = {
        {{}, {}},
        {{{F, ""}}, {}},
        {{{F, "/a/x.yml,/a/y.yml"}}, {"/a/x.yml", "/a/y.yml"}},
        {{{F, "/srv/shop, old/compose.yaml,/srv/shop, old/prod.yaml"}},
         {"/srv/shop, old/compose.yaml", "/srv/shop, old/prod.yaml"}},
        {{{F, "/srv/a,,b/compose.yaml"}}, {"/srv/a,,b/compose.yaml"}},
        {{{F, "/srv/x/compose.yaml,,/srv/y/o.yaml"}}, {"/srv/x/compose.yaml,", "/srv/y/o.yaml"}},
        {{{F, "/srv/shop,/compose.yaml,/srv/shop,/o.yaml"}, {W, "/srv/shop,"}},
         {"/srv/shop,/compose.yaml", "/srv/shop,/o.yaml"}},
        {{{F, "/srv/shop,/compose.yaml,/etc/base.yaml"}, {W, "/srv/shop,"}},
         {"/srv/shop,/compose.yaml", "/etc/base.yaml"}},
        {{{F, "compose.yaml,/srv/o.yaml"}, {W, "/srv"}}, {"compose.yaml", "/srv/o.yaml"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(labelled("a", row.labels).configFiles(), row.files) << row.labels.value(F).toStdString();
}

TEST(Addresses, FirstNetworkAddressWithoutPrefixLength)
{
    const QString json = R"([
        {"id":"web","status":{"networks":[{"ipv4Address":"192.168.64.3/24"},{"ipv4Address":"10.0.0.1/8"}]}},
        {"id":"no-nets","status":{"networks":[]}},
        {"id":"no-status"},
        {"id":"empty","status":{"networks":[{"ipv4Address":""}]}},
        {"id":"slashes","status":{"networks":[{"ipv4Address":"//"}]}},
        {"id":"bare","status":{"networks":[{"ipv4Address":"10.1.2.3"}]}},
        {"id":"wrong-type","status":{"networks":{"ipv4Address":"10.9.9.9/8"}}},
        {"status":{"networks":[{"ipv4Address":"10.7.7.7/8"}]}},
        "not an object",
        {"id":"bare","status":{"networks":[{"ipv4Address":"10.1.2.4/16"}]}}
    ])";
    const QMap<QString, QString> expected{{"web", "192.168.64.3"}, {"bare", "10.1.2.4"}, {"", "10.7.7.7"}};
    EXPECT_EQ(Docker::parseAddresses(json), expected);
    for (const char* junk : {"", "not json", "{}", "{\"id\":\"x\"}", "42"})
        EXPECT_TRUE(Docker::parseAddresses(junk).isEmpty()) << junk;
}

TEST(RunArgs, WhatTheUserTypedBecomesOneArgumentEach)
{
    EXPECT_EQ(
        Docker::runArgs("nginx", "  web\t", "8080:80, 8443:443", "A=1\n   \n", ""),
        (QStringList{"run", "-d", "--name", "web", "-p", "8080:80", "-p", "8443:443", "-e", "A=1", "nginx"}));
    EXPECT_EQ(Docker::runArgs("img:1", "", "", "", ""), (QStringList{"run", "-d", "img:1"}));
    EXPECT_EQ(
        Docker::runArgs("img", " ", "1:1\n2:2\t3:3,,", "\tKEY=two words \r\nB=2\u2028C=3", "sh -c 'echo hi'"),
        (QStringList{"run", "-d", "-p", "1:1", "-p", "2:2", "-p", "3:3", "-e", "KEY=two words", "-e", "B=2",
                     "-e", "C=3", "img", "sh", "-c", "'echo", "hi'"}));
    // A name with inner blanks is passed as it stands; the client reports it.
    EXPECT_EQ(Docker::runArgs("img", "my app", "", "", "").mid(2, 2), (QStringList{"--name", "my app"}));
}

TEST(Grouping, RecordedProjectAndLooseContainers)
{
    const auto list =
        Docker::parseContainers(TestSupport::fixture("engine/ps-recorded.ndjson"), std::nullopt);
    const auto projects = Docker::group(list);
    ASSERT_EQ(projects.size(), 2);
    EXPECT_EQ(projects[0].name, "vskreclegacy");
    EXPECT_EQ(projects[0].workingDir, "/srv/legacy");
    EXPECT_EQ(projects[1].name, "vskrecshop");
    EXPECT_EQ(projects[1].id(), "/vskrecshop");
    EXPECT_EQ(names(projects[1].containers),
              (QStringList{"vskrecshop-job-1", "vskrecshop-nap-1", "vskrecshop-once-1", "vskrecshop-slow-1",
                           "vskrecshop-web-1", "vskrecshop-worker-1"}));
    EXPECT_EQ(projects[1].serviceCount, 0);
    EXPECT_EQ(projects[1].runningCount(), 3); // the paused one does not count
    EXPECT_EQ(projects[1].statusText(), "3 of 6 running");
    EXPECT_EQ(names(projects[1].troubled()), (QStringList{"vskrecshop-job-1", "vskrecshop-worker-1"}));
    EXPECT_EQ(names(Docker::ungrouped(list)),
              (QStringList{"vskrec-created", "vskrec-killed", "vskrec-loose"}));
}

TEST(Grouping, OneProjectPerRuntimeAndLabel)
{
    const QString P = Docker::projectLabel;
    const QString W = Docker::workingDirLabel;
    const QList<Container> list{
        labelled("web-2", {{P, "web"}}, colima),
        labelled("web-1", {{P, "web"}, {W, "/srv/web"}}, colima),
        labelled("web-9", {{P, "web"}, {W, "/other"}}, colima),
        labelled("web-1", {{P, "web"}}),
        labelled("loose-b", {}),
        labelled("api-1", {{P, "api"}}, colima),
        labelled("unnamed", {{P, ""}}),
        labelled("loose-a", {{"com.docker.compose.service", "s"}}),
        labelled("loose-b", {}, colima, "exited"),
    };
    const auto projects = Docker::group(list);
    QStringList ids;
    for (const auto& p : projects)
        ids << p.id();
    EXPECT_EQ(ids, (QStringList{"/", "colima/api", "/web", "colima/web"}));
    const ComposeProject& colimaWeb = projects[3];
    EXPECT_EQ(colimaWeb.workingDir, "/srv/web"); // the first container that has one, in listing order
    EXPECT_EQ(names(colimaWeb.containers), (QStringList{"web-1", "web-2", "web-9"}));
    EXPECT_EQ(colimaWeb.runtime, colima);
    EXPECT_FALSE(projects[2].workingDir.has_value());
    EXPECT_EQ(projects[2].runtime, std::nullopt);

    const auto loose = Docker::ungrouped(list);
    EXPECT_EQ(names(loose), (QStringList{"loose-a", "loose-b", "loose-b"}));
    EXPECT_EQ(loose[1].runtime, std::nullopt); // stable for equal names
    EXPECT_EQ(loose[2].runtime, colima);

    EXPECT_TRUE(Docker::group({}).isEmpty());
    EXPECT_TRUE(Docker::ungrouped({}).isEmpty());
}
