#include "screens/ProjectFolder.h"

#include "engine/Compose.h"

#include <QFileInfo>

ProjectFolder ProjectFolder::of(const ComposeProject& project)
{
    if (!project.workingDir || project.workingDir->isEmpty())
        return {};
    return at(*project.workingDir);
}

ProjectFolder ProjectFolder::at(const QString& dir)
{
    ProjectFolder folder;
    if (dir.isEmpty())
        return folder;
    // Only a folder: the path comes from a container's label, and a file there is nothing to reveal.
    folder.exists = QFileInfo(dir).isDir();
    if (!folder.exists)
        return folder;
    const std::optional<QString> file = Docker::composeFile(dir);
    folder.composeFile = file.has_value();
    folder.builds = file && ComposeProject::builds(dir, *file);
    return folder;
}
