#pragma once

#include "engine/ProjectLooks.h"

// What a project's folder holds: whether it is still there, holds a compose file and builds an
// image from source. Looked at off the window's thread (FolderChecks) and handed to every part of the
// screen that shows the project, never read while painting.
struct ProjectFolder {
    bool exists = false;      // the working directory is known and is a folder
    bool composeFile = false; // it holds one of the compose file names
    bool builds = false;      // that compose file has a build section
    bool known = true;        // false until the folder has been looked at: the rest says nothing yet

    // compose can act on the project: its folder is there and holds a compose file.
    bool atHand() const { return exists && composeFile; }
    // The folder was looked at and compose cannot act on it: gone, or without a compose file.
    bool unusable() const { return known && !atHand(); }

    // What a look server found of the folder (FolderChecks asks for it).
    static ProjectFolder from(const Docker::FolderFacts& facts);
    // Of a project started from files it names: its folder is there, and so is every one of them.
    static ProjectFolder from(const Docker::ComposeFilesFound& found);

    bool operator==(const ProjectFolder&) const = default;
};
