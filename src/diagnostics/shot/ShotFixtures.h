#pragma once

#include "engine/Container.h"
#include "engine/ProjectRegistry.h"
#include "engine/Stats.h"
#include "engine/Usage.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class AppStore;

// The made-up machine the screenshots show: project folders on disk, containers in every state a
// project can be in, remembered projects, disk usage and live figures. Usage and figures are fed
// through the engine's own parsers, so the pictures show what those make of such output.
namespace ShotFixtures {

// What the run made on disk, so that only that is taken away again.
struct CreatedPaths {
    QStringList folders;            // in creation order; the projects folder first when the run made it
    QStringList composeFiles;       // the stub compose files written into new folders
    std::optional<QString> failure; // the first folder or stub file that could not be made

    bool operator==(const CreatedPaths&) const = default;
};

// The folder every fixture project lives in: the home folder's "Projects".
QString root();
// The project folders, in the order they are made; the last has no compose file.
const QStringList& folderNames();
// What each stub compose file holds.
QByteArray stubCompose();

// Makes the projects folder and each project folder that is not there yet, with a stub compose file
// in each but the last. A folder that exists already is left alone and not listed. Stops at the first
// folder or file that cannot be made, and names it: the screens would show it missing.
CreatedPaths makeFixtureDirs();
// Takes away what makeFixtureDirs made: a stub file only while it still holds exactly the stub, then
// the folders from the last made to the first, each only when it is empty. Whatever someone put
// there meanwhile stays, and so do the folders holding it.
void removeFixtureDirs(const CreatedPaths& created);

// A stable identifier made from a container's name: at most twelve decimal digits, the same in
// every run, so two runs draw the same pictures.
QString containerId(const QString& name);

// A fresh list on every call; equal ids from call to call.
QList<Container> containers();
// One project remembered under `runtimeId`, without containers.
ProjectRegistry registry(const std::optional<QString>& runtimeId);
// Disk usage as measured on `runtime`.
DiskUsage usage(const std::optional<Runtime>& runtime);
LiveStats stats();
// The address of every running container of `containers` by name, counting up from 192.168.64.2.
QMap<QString, QString> addresses(const QList<Container>& containers);

// Fills the store field by field through its own setters; starts nothing.
void fill(AppStore& store);

} // namespace ShotFixtures
