#pragma once

#include "app/design/KeyedRows.h"
#include "engine/ComposeProject.h"
#include "screens/ProjectFolder.h"

#include <QHash>
#include <QWidget>

#include <memory>
#include <optional>

class AdaptiveGrid;
class AppStore;
class ChangeBatch;
class EmptyState;
class FolderChecks;
class LooseCard;
class ProjectCard;
class VitalsRow;

// The list of the projects screen: "Right now" with the vitals, "Your projects" as a grid of project
// cards, the containers that belong to no project, or the empty state when there is nothing. Follows
// the store; cards are kept by project id across refreshes. Each project's folder is looked at off
// the window's thread when it is first listed and at every checkFolders(), and what was found is
// shared by its card, its controls and the emphasis rule; a look that comes back with something new
// redraws. A refresh that finds the list hidden waits until it is shown again.
class ProjectsContent : public QWidget {
    Q_OBJECT

public:
    explicit ProjectsContent(AppStore& store, QWidget* parent = nullptr);
    ~ProjectsContent() override;

    // Applies the store's present state now rather than on the next turn of the event loop.
    void refresh();
    // Looks at the shown projects' folders again; one that changed on disk (moved away, compose file
    // written or removed), which the store's listings do not tell, redraws once the look comes back.
    void checkFolders();
    // Waits for the looks at the folders under way and shows what they found; for pictures and tests.
    void waitForFolders();
    // The looks at the folders, shared with the detail of an opened project.
    FolderChecks* folderChecks() const { return m_checks; }

    // The id of the first project that compose could bring up and that does not fully run; none when
    // no project qualifies. Its card's Start is the accented one.
    static std::optional<QString> emphasized(const QList<ComposeProject>& projects,
                                             const QHash<QString, ProjectFolder>& folders);
    std::optional<QString> emphasizedId() const { return m_emphasized; }

    // Has `batch` run on every change of the store that the projects screen shows.
    static void watch(ChangeBatch& batch, const AppStore& store);

    // The card of a project id, or null.
    ProjectCard* card(const QString& id) const;

    static constexpr double minimumCardWidth = 300;
    static constexpr double spacing = 14;

signals:
    // A card's "Details" was pressed.
    void opened(const ComposeProject& project);

protected:
    void showEvent(QShowEvent* event) override;

private:
    AppStore& m_store;
    FolderChecks* m_checks;
    ChangeBatch* m_batch;
    bool m_stale = true;
    // Set by a change of the store beyond the listings and the statistics: every card applies it.
    bool m_cardsStale = true;
    std::optional<QString> m_emphasized;
    VitalsRow* m_vitals;
    QWidget* m_projectsSection;
    AdaptiveGrid* m_grid;
    std::unique_ptr<KeyedRows<ComposeProject, ProjectCard, AdaptiveGrid>> m_cards;
    QList<ComposeProject> m_projects; // as of the last refresh
    QHash<QString, ProjectFolder> m_folders;
    LooseCard* m_loose;
    EmptyState* m_empty;
};
