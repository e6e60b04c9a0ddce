#pragma once

#include "engine/ComposeProject.h"
#include "engine/Container.h"

#include <QString>
#include <QStringList>

#include <optional>

// What a logs sheet shows: the followed output of a container or of a compose project, the inspect
// output of a container or an image, or the Apple runtime's own log. A plain value that turns itself
// into the argument lists that produce it; it starts nothing.
class LogSource {
public:
    enum class Kind { container, project, inspect, inspectImage, system };

    static LogSource container(const Container& container);
    static LogSource project(const ComposeProject& project);
    static LogSource inspect(const Container& container);
    static LogSource inspectImage(const DockerImage& image);
    static LogSource system();

    Kind kind() const { return m_kind; }
    // The payload of the kinds that carry one; default values for the others.
    const Container& containerValue() const { return m_container; }
    const ComposeProject& projectValue() const { return m_project; }
    const DockerImage& imageValue() const { return m_image; }

    // Container, project and system logs are followed, bounded and scrolled to their end; inspect
    // output ends by itself and is kept whole.
    bool isStreaming() const;

    // The docker client's arguments (without "docker" and the runtime) for this source. Project logs
    // name their project, so a folder whose compose file another project also runs from never shows
    // that other project's logs.
    QStringList args(std::optional<int> tail, const std::optional<QString>& since) const;
    // The Apple `container` tool's boot log of a container (program first); none for other kinds.
    std::optional<QStringList> bootArgs(std::optional<int> tail) const;
    // The Apple runtime's system log over the last `since` (five minutes when not given).
    static QStringList systemArgs(const std::optional<QString>& since);

    // The sheet's title, its kind label and the name a saved copy is offered under.
    QString title() const;
    QString kindLabel(bool boot) const;
    QString saveName() const;

    bool operator==(const LogSource&) const = default;

private:
    explicit LogSource(Kind kind) : m_kind(kind) {}

    Kind m_kind;
    Container m_container;
    ComposeProject m_project;
    DockerImage m_image;
};
