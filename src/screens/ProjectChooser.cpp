#include "screens/ProjectChooser.h"

#include "app/parts/Host.h"
#include "store/AppStore.h"

#include <QWidget>

namespace {

Host::FolderRequest projectFolderRequest(const QString& title)
{
    Host::FolderRequest request;
    request.title = title;
    request.prompt = QStringLiteral("Add");
    request.message = QStringLiteral("Choose a project directory containing a compose file.");
    return request;
}

} // namespace

QCoro::Task<std::optional<ProjectToAdd>> chooseProjectToAdd(AppStore& store, QWidget* parent)
{
    // Read now: the store may change while the chooser is open, and the index the pop-up answers
    // with counts in this list.
    const QList<Runtime> runtimes = store.addableRuntimes();
    const std::optional<Runtime> preferred = store.defaultAddRuntime();

    Host::FolderRequest request = projectFolderRequest(QStringLiteral("Add a Project"));
    if (!runtimes.isEmpty()) {
        request.choicesLabel = QStringLiteral("Run on:");
        for (const Runtime& runtime : runtimes)
            request.choices << runtime.id();
        const qsizetype index = preferred ? runtimes.indexOf(*preferred) : -1;
        request.chosen = index >= 0 ? int(index) : 0;
    }

    const std::optional<Host::FolderChoice> choice = co_await Host::current().chooseFolder(parent, request);
    if (!choice)
        co_return std::nullopt;
    std::optional<Runtime> runtime;
    if (choice->choice && *choice->choice >= 0 && *choice->choice < runtimes.size())
        runtime = runtimes.at(*choice->choice);
    co_return ProjectToAdd{choice->path, runtime};
}

QCoro::Task<std::optional<QString>> chooseProjectDirectory(QWidget* parent)
{
    const std::optional<Host::FolderChoice> choice = co_await Host::current().chooseFolder(
        parent, projectFolderRequest(QStringLiteral("Locate the Project")));
    if (!choice)
        co_return std::nullopt;
    co_return choice->path;
}

QCoro::Task<> addChosenProject(QPointer<AppStore> store, QPointer<QWidget> parent)
{
    if (!store)
        co_return;
    const std::optional<ProjectToAdd> chosen = co_await chooseProjectToAdd(*store, parent.data());
    if (!chosen || !store)
        co_return;
    const std::optional<QString> message = co_await store->addProject(chosen->dir, chosen->runtime);
    if (message && store)
        store->setError(message);
}
