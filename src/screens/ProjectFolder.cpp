#include "screens/ProjectFolder.h"

#include "engine/Compose.h"

#include <QFileInfo>

ProjectFolder ProjectFolder::of(const ComposeProject& project)
{
    ProjectFolder folder;
    if (!project.workingDir || project.workingDir->isEmpty())
        return folder;
    folder.exists = QFileInfo::exists(*project.workingDir);
    if (!folder.exists)
        return folder;
    folder.composeFile = Docker::composeFile(*project.workingDir).has_value();
    folder.builds = folder.composeFile && project.hasBuild();
    return folder;
}
