#pragma once

#include "engine/ComposeProject.h"
#include "engine/Stats.h"
#include "engine/Usage.h"

#include <QString>

#include <optional>

// What one project alone takes of the machine, as the detail's three vital cards show it: the
// processor and memory its containers use and the disk its containers and their volumes take, each
// with the caption under its card. Absent figures stay none (the card's dash) with an empty unit.
struct ProjectUsage {
    struct Figure {
        std::optional<QString> value;
        QString unit;
        double fraction = 0;
        QString caption;

        bool operator==(const Figure&) const = default;
    };

    Figure processor;
    Figure memory;
    Figure disk;

    static ProjectUsage of(const ComposeProject& project, const std::optional<LiveStats>& stats,
                           const std::optional<DiskUsage>& usage);

    // How a container is named in a caption: its compose service, else its name.
    static QString shownName(const Container& container);

    bool operator==(const ProjectUsage&) const = default;
};
