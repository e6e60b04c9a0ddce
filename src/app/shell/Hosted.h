#pragma once

#include "engine/Container.h"
#include "platform/PreparedProcess.h"

#include <QString>

#include <optional>

class AppStore;
class QWidget;

// The screens and sheets of other parts of the application that the shell shows, each behind one
// function, so the shell asks for them in one way wherever they are built.
namespace Hosted {

// The Projects and Containers sections.
QWidget* projectsScreen(AppStore& store, QWidget* parent);
QWidget* containersScreen(AppStore& store, QWidget* parent);

// Sheets, opened window-modally over `parent`'s window. Each keeps its own copy of what it acts on.
void openRunImage(AppStore& store, const DockerImage& image, QWidget* parent);
void openInspectImage(AppStore& store, const DockerImage& image, QWidget* parent);
void openPushImage(AppStore& store, const DockerImage& image, QWidget* parent);
void openRegistryLogin(AppStore& store, QWidget* parent);
void openCloneProject(AppStore& store, QWidget* parent);
// The "Add project" menu's "From a folder…": the folder chooser with its runtime pop-up, then the store.
void addProject(AppStore& store, QWidget* parent);

// The button that opens the reclaim sheet for everything in scope.
QWidget* reclaimButton(AppStore& store, const QString& title, QWidget* parent);

// What a push of `image` runs and shows: `docker push <repository:tag>` on the image's runtime, else
// on `fallback` (the runtime shown when the sheet opens).
struct Push {
    QString title;
    QString banner;
    Platform::PreparedProcess process;
};
Push push(const DockerImage& image, const std::optional<Runtime>& fallback);

} // namespace Hosted
