#include "sheets/LogSource.h"

LogSource LogSource::container(const Container& container)
{
    LogSource source(Kind::container);
    source.m_container = container;
    return source;
}

LogSource LogSource::project(const ComposeProject& project)
{
    LogSource source(Kind::project);
    source.m_project = project;
    return source;
}

LogSource LogSource::inspect(const Container& container)
{
    LogSource source(Kind::inspect);
    source.m_container = container;
    return source;
}

LogSource LogSource::inspectImage(const DockerImage& image)
{
    LogSource source(Kind::inspectImage);
    source.m_image = image;
    return source;
}

LogSource LogSource::system()
{
    return LogSource(Kind::system);
}

bool LogSource::isStreaming() const
{
    return m_kind == Kind::container || m_kind == Kind::project || m_kind == Kind::system;
}

QStringList LogSource::args(std::optional<int> tail, const std::optional<QString>& since) const
{
    QStringList flags;
    if (tail)
        flags << QStringLiteral("--tail") << QString::number(*tail);
    if (since)
        flags << QStringLiteral("--since") << *since;

    switch (m_kind) {
    case Kind::container:
        return QStringList{QStringLiteral("logs"), QStringLiteral("-f")} + flags +
               QStringList{m_container.id};
    case Kind::project:
        return QStringList{QStringLiteral("compose"), QStringLiteral("-p"), m_project.name,
                           QStringLiteral("logs"), QStringLiteral("-f")} +
               flags;
    case Kind::inspect:
        return {QStringLiteral("inspect"), m_container.id};
    case Kind::inspectImage:
        return {QStringLiteral("image"), QStringLiteral("inspect"), m_image.ref()};
    case Kind::system:
        break;
    }
    return {};
}

std::optional<QStringList> LogSource::bootArgs(std::optional<int> tail) const
{
    if (m_kind != Kind::container)
        return std::nullopt;
    QStringList list{QStringLiteral("container"), QStringLiteral("logs"), QStringLiteral("--boot"),
                     QStringLiteral("-f")};
    if (tail)
        list << QStringLiteral("-n") << QString::number(*tail);
    list << m_container.name;
    return list;
}

QStringList LogSource::systemArgs(const std::optional<QString>& since)
{
    return {QStringLiteral("container"), QStringLiteral("system"), QStringLiteral("logs"),
            QStringLiteral("--last"), since.value_or(QStringLiteral("5m"))};
}

QString LogSource::title() const
{
    switch (m_kind) {
    case Kind::container:
    case Kind::inspect:
        return m_container.name;
    case Kind::project:
        return m_project.displayName();
    case Kind::inspectImage:
        return m_image.repository + u':' + m_image.tag;
    case Kind::system:
        break;
    }
    return QStringLiteral("Apple container");
}

QString LogSource::kindLabel(bool boot) const
{
    if (boot)
        return QStringLiteral("BOOT LOG");
    switch (m_kind) {
    case Kind::container:
        return QStringLiteral("LOGS");
    case Kind::project:
        return QStringLiteral("PROJECT LOGS \u00b7 BY SERVICE");
    case Kind::inspect:
    case Kind::inspectImage:
        return QStringLiteral("INSPECT");
    case Kind::system:
        break;
    }
    return QStringLiteral("SYSTEM LOGS");
}

QString LogSource::saveName() const
{
    QString name = title();
    name.replace(u'/', u'-').replace(u':', u'-');
    return name + (isStreaming() ? QStringLiteral(".log") : QStringLiteral(".json"));
}
