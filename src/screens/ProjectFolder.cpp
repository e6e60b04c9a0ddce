#include "screens/ProjectFolder.h"

#include "engine/Compose.h"

#include <QFileInfo>

ProjectFolder ProjectFolder::of(const ComposeProject& project)
{
    ProjectFolder folder;
    if (!project.workingDir || project.workingDir->isEmpty())
        return folder;
    // Only a folder: the path comes from a container's label, and a file there is nothing to reveal.
    folder.exists = QFileInfo(*project.workingDir).isDir();
    if (!folder.exists)
        return folder;
    folder.composeFile = Docker::composeFile(*project.workingDir).has_value();
    folder.builds = folder.composeFile && project.hasBuild();
    return folder;
}
