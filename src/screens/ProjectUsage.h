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

    // `answering`: whether the runtimes in scope answered the last refresh and disk figures are on their
    // way; without it the disk card says it was not measured rather than that a measurement is under way.
    static ProjectUsage of(const ComposeProject& project, const std::optional<LiveStats>& stats,
                           const std::optional<DiskUsage>& usage, bool answering = true);

    // How a container is named in a caption: its compose service, else its name.
    static QString shownName(const Container& container);

    bool operator==(const ProjectUsage&) const = default;
};
