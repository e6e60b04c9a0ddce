#pragma once

#include "app/design/KeyedRows.h"
#include "engine/ComposeProject.h"
#include "screens/CardWindow.h"
#include "screens/ProjectFolder.h"

#include <QHash>
#include <QPointer>
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
class QScrollArea;
class VitalsRow;

// The list of the projects screen: "Right now" with the vitals, "Your projects" as a grid of project
// cards, the containers that belong to no project, or the empty state when there is nothing. Follows
// the store; cards are kept by project id across refreshes. Only the cards near the part of the grid
// on screen are made (CardWindow), so hundreds of remembered projects cost what a screenful does; the
// others are made as they scroll near. Each project's folder is looked at off the window's thread when
// it is first listed, and those of the cards made at every checkFolders(); what was found is shared by
// its card, its controls and the emphasis rule, and a look that comes back with something new redraws.
// A refresh that finds the list hidden waits until it is shown again.
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

    // The card of a project id, or null (also while it is not made, far from the part on screen).
    ProjectCard* card(const QString& id) const;
    // Which cards are made now.
    const CardWindow& cardWindow() const { return m_window; }

    static constexpr double minimumCardWidth = 300;
    static constexpr double spacing = 14;
    // The fewest cards made, wherever the grid is scrolled: all of a list of ordinary length.
    static constexpr int leastCards = 36;

signals:
    // A card's "Details" was pressed.
    void opened(const ComposeProject& project);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Makes the cards of the window the part on screen calls for, and gives the rest their room.
    void placeCards();
    // placeCards() on the next turn of the event loop, once however often it is asked for meanwhile.
    void placeSoon();
    // emphasized() of the projects as of the last refresh, Start offered.
    std::optional<QString> emphasizedNow() const;
    // The scroll area the list is shown in, followed from the first time it is found.
    QScrollArea* scrollArea();

    AppStore& m_store;
    FolderChecks* m_checks;
    ChangeBatch* m_batch;
    bool m_stale = true;
    // Set by a change of the store beyond the listings and the statistics: every card applies it.
    bool m_cardsStale = true;
    std::optional<QString> m_emphasized;
    VitalsRow* m_vitals;
    QWidget* m_projectsSection;
    QWidget* m_gridHolder;
    AdaptiveGrid* m_grid;
    std::unique_ptr<KeyedRows<ComposeProject, ProjectCard, AdaptiveGrid>> m_cards;
    CardWindow m_window;
    // How tall a row of cards is, as the rows made last came out; none before any was made.
    double m_rowHeight = 0;
    QPointer<QScrollArea> m_area;
    // placeSoon() was asked for and has not run yet.
    bool m_placing = false;
    QList<ComposeProject> m_projects;        // as of the last refresh
    QStringList m_keys;                      // how each one's folder is looked at (FolderChecks::keyOf)
    QHash<QString, ProjectFolder> m_folders; // of the cards made, by project id
    LooseCard* m_loose;
    EmptyState* m_empty;
};
