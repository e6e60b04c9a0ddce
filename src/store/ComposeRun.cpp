#include "store/ComposeRun.h"

#include "engine/Compose.h"

// compose is told the project's name: left to itself it would take COMPOSE_PROJECT_NAME from our
// environment, the file's `name:` or the folder's name, and could act on another project, or on
// none and still succeed.
QStringList composeCommand(const QString& project, const QString& command, const QStringList& files,
                           const QString& dir, const QStringList& envFiles)
{
    QStringList args = QStringList{QStringLiteral("compose"), QStringLiteral("-p"), project} +
                       Docker::fileArgs(files, dir, envFiles);
    args << command;
    if (command == u"up")
        args << QStringLiteral("-d");
    return args;
}
