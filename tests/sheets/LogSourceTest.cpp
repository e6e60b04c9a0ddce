#include "sheets/LogSource.h"

#include "support/TestSupport.h"

namespace {

Container box()
{
    Container container;
    container.id = QStringLiteral("c0ffee");
    container.name = QStringLiteral("web-1");
    return container;
}

ComposeProject shop()
{
    ComposeProject project;
    project.name = QStringLiteral("shop");
    project.workingDir = QStringLiteral("/srv/shop-folder");
    return project;
}

DockerImage image(const QString& repository, const QString& tag)
{
    return DockerImage{QStringLiteral("sha256:abc"), repository, tag, QStringLiteral("5MB"), std::nullopt};
}

} // namespace

TEST(LogSource, ArgumentListsOfEverySource)
{
    struct Row {
        const char* what;
        LogSource source;
        std::optional<int> tail;
        std::optional<QString> since;
        QStringList args;
        std::optional<QStringList> boot;
    };
    const QString none = QStringLiteral("<none>");
    const Row rows[] = {
        {"container, both flags",
         LogSource::container(box()),
         300,
         QStringLiteral("1h"),
         {"logs", "-f", "--tail", "300", "--since", "1h", "c0ffee"},
         QStringList{"container", "logs", "--boot", "-f", "-n", "300", "web-1"}},
        {"container, no flags",
         LogSource::container(box()),
         std::nullopt,
         std::nullopt,
         {"logs", "-f", "c0ffee"},
         QStringList{"container", "logs", "--boot", "-f", "web-1"}},
        {"container, tail 0 is a tail",
         LogSource::container(box()),
         0,
         std::nullopt,
         {"logs", "-f", "--tail", "0", "c0ffee"},
         QStringList{"container", "logs", "--boot", "-f", "-n", "0", "web-1"}},
        {"project names itself",
         LogSource::project(shop()),
         300,
         QStringLiteral("24h"),
         {"compose", "-p", "shop", "logs", "-f", "--tail", "300", "--since", "24h"},
         std::nullopt},
        {"project, everything",
         LogSource::project(shop()),
         std::nullopt,
         std::nullopt,
         {"compose", "-p", "shop", "logs", "-f"},
         std::nullopt},
        {"inspect ignores the flags",
         LogSource::inspect(box()),
         300,
         QStringLiteral("1h"),
         {"inspect", "c0ffee"},
         std::nullopt},
        {"image by reference",
         LogSource::inspectImage(image("repo/sub", "1.0")),
         300,
         QStringLiteral("5m"),
         {"image", "inspect", "repo/sub:1.0"},
         std::nullopt},
        {"untagged image by id",
         LogSource::inspectImage(image("repo", none)),
         std::nullopt,
         std::nullopt,
         {"image", "inspect", "sha256:abc"},
         std::nullopt},
        {"system has no docker list", LogSource::system(), 300, QStringLiteral("1h"), {}, std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.source.args(row.tail, row.since), row.args) << row.what;
        EXPECT_EQ(row.source.bootArgs(row.tail), row.boot) << row.what;
    }
    EXPECT_EQ(LogSource::systemArgs(std::nullopt),
              (QStringList{"container", "system", "logs", "--last", "5m"}));
    EXPECT_EQ(LogSource::systemArgs(QStringLiteral("24h")),
              (QStringList{"container", "system", "logs", "--last", "24h"}));
}

TEST(LogSource, TitlesKindsAndFileNames)
{
    struct Row {
        LogSource source;
        QString title;
        QString kind;
        QString file;
        bool streaming;
    };
    const Row rows[] = {
        {LogSource::container(box()), "web-1", "LOGS", "web-1.log", true},
        {LogSource::project(shop()), "shop", QStringLiteral(u"PROJECT LOGS \u00b7 BY SERVICE"), "shop.log",
         true},
        {LogSource::inspect(box()), "web-1", "INSPECT", "web-1.json", false},
        {LogSource::inspectImage(image("repo/sub", "1.0")), "repo/sub:1.0", "INSPECT", "repo-sub-1.0.json",
         false},
        {LogSource::system(), "Apple container", "SYSTEM LOGS", "Apple container.log", true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.source.title(), row.title);
        EXPECT_EQ(row.source.kindLabel(false), row.kind);
        EXPECT_EQ(row.source.kindLabel(true), "BOOT LOG");
        EXPECT_EQ(row.source.saveName(), row.file);
        EXPECT_EQ(row.source.isStreaming(), row.streaming);
    }
}
