#include "screens/ProjectFolder.h"

ProjectFolder ProjectFolder::from(const Docker::FolderFacts& facts)
{
    ProjectFolder folder;
    // Only a folder: the path comes from a container's label, and a file there is nothing to reveal.
    folder.exists = facts.folder;
    folder.composeFile = folder.exists && facts.composeFile.has_value();
    folder.builds = folder.composeFile && facts.builds;
    return folder;
}

ProjectFolder ProjectFolder::from(const Docker::ComposeFilesFound& found)
{
    ProjectFolder folder;
    folder.exists = found.there;
    folder.composeFile = found.there && found.missing.isEmpty();
    return folder;
}
