#pragma once

#include "engine/ComposeProject.h"

// What a project's folder holds: whether it is still there, holds a compose file and builds an
// image from source. Looked at once per refresh of the screen that shows the project and handed to
// every part of it, never while painting.
struct ProjectFolder {
    bool exists = false;      // the working directory is known and is a folder
    bool composeFile = false; // it holds one of the compose file names
    bool builds = false;      // that compose file has a build section

    // compose can act on the project: its folder is there and holds a compose file.
    bool atHand() const { return exists && composeFile; }

    static ProjectFolder of(const ComposeProject& project);

    bool operator==(const ProjectFolder&) const = default;
};
