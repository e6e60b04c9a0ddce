#include "app/shell/Hosted.h"

#include "engine/Docker.h"
#include "screens/CloneProjectView.h"
#include "screens/ContainersView.h"
#include "screens/ProjectChooser.h"
#include "screens/ProjectsView.h"
#include "sheets/CommandRunView.h"
#include "sheets/LogSource.h"
#include "sheets/LogsView.h"
#include "sheets/ReclaimButton.h"
#include "sheets/RegistryLoginView.h"
#include "sheets/RunImageView.h"
#include "sheets/SheetHost.h"
#include "store/AppStore.h"

namespace Hosted {

QWidget* projectsScreen(AppStore& store, QWidget* parent)
{
    return new ProjectsView(store, parent);
}

QWidget* containersScreen(AppStore& store, QWidget* parent)
{
    return new ContainersView(store, parent);
}

void openRunImage(AppStore& store, const DockerImage& image, QWidget* parent)
{
    SheetHost::open(parent, new RunImageView(store, image));
}

void openInspectImage(AppStore& store, const DockerImage& image, QWidget* parent)
{
    const std::optional<Runtime> runtime = image.runtime ? image.runtime : store.runtime();
    SheetHost::open(parent, new LogsView(LogSource::inspectImage(image), runtime, false));
}

void openPushImage(AppStore& store, const DockerImage& image, QWidget* parent)
{
    const Push what = push(image, store.runtime());
    // Nothing to do when it ends: the next poll shows whatever changed.
    SheetHost::open(parent, new CommandRunView(
                                what.title, what.banner, [process = what.process] { return process; },
                                [](std::optional<int>) {}));
}

void openRegistryLogin(AppStore& store, QWidget* parent)
{
    SheetHost::open(parent, new RegistryLoginView(store));
}

void openCloneProject(AppStore& store, QWidget* parent)
{
    CloneProjectView::open(parent, store);
}

void addProject(AppStore& store, QWidget* parent)
{
    addChosenProject(&store, parent); // runs on by itself
}

QWidget* reclaimButton(AppStore& store, const QString& title, QWidget* parent)
{
    return new ReclaimButton(store, title, std::nullopt, parent);
}

Push push(const DockerImage& image, const std::optional<Runtime>& fallback)
{
    const QString name = image.repository + u':' + image.tag;
    const std::optional<Runtime> runtime = image.runtime ? image.runtime : fallback;
    return {QStringLiteral("Pushing ") + name, QStringLiteral("$ docker push ") + name,
            Docker::process({QStringLiteral("push"), name}, runtime)};
}

} // namespace Hosted
