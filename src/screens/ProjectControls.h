#pragma once

#include "engine/ComposeProject.h"
#include "screens/ProjectFolder.h"

#include <QWidget>

#include <optional>

class AppStore;
class EllipsisMenuButton;
class FlowLayout;
class QAction;
class QMenu;
class ReclaimButton;
class VoskButton;

// What acts on one compose project: Start, Stop, the button that frees the project's disk space and
// the "…" menu (logs, reveal, locate, up, rebuild, down, forget, delete). Presence follows the project
// and its folder as of the last refresh; every action looks the project up again in the store without
// the filter, so a project shown with only its matching containers is still started, stopped, brought
// down or deleted whole. Sheets and alerts open over the window and keep their own copy of the
// project, so a refresh that drops this row takes none of them with it.
class ProjectControls : public QWidget {
    Q_OBJECT

public:
    // What the controls offer for a project, its folder and whether the registry remembers it.
    struct Offer {
        bool start = false;
        bool startComposes = false; // Start brings the project up from its compose file
        bool stop = false;
        bool logs = false; // "Project logs…" is enabled (it is always listed)
        bool reveal = false;
        bool locate = false;
        bool up = false;
        bool rebuild = false;
        bool down = false;
        bool forget = false;
        bool remove = true;    // "Delete project…" is enabled (it is always listed)
        bool freeSpace = true; // the project's disk space may be offered

        bool group() const { return up || rebuild || down; }
        // `listed`: whether the listings hold the containers of the project's runtime. Until they do,
        // nothing that needs the engine is offered: what the project runs is not known, and a runtime
        // that does not answer would hold such an action for as long as it stays silent.
        static Offer of(const ComposeProject& project, const ProjectFolder& folder, bool remembered,
                        bool listed = true);

        bool operator==(const Offer&) const = default;
    };

    ProjectControls(AppStore& store, const ComposeProject& project, const ProjectFolder& folder,
                    bool emphasize, QWidget* parent = nullptr);

    // A refresh: the project as now shown, its folder as just looked at, and whether its Start is the
    // screen's emphasized one. Widgets change only where the offer did.
    void setProject(const ComposeProject& project, const ProjectFolder& folder, bool emphasize);
    // The same project with only its containers' status texts moved on ("Up 5 seconds"): kept for the
    // actions; what is offered does not read those texts, so nothing is worked out again.
    void takeStatuses(const ComposeProject& project);

    const ComposeProject& project() const { return m_project; }
    const Offer& offer() const { return m_offer; }
    // Bytes the project's reclaim candidates would free; 0 without a disk-usage measurement.
    qint64 freeable() const { return m_freeable; }
    QMenu* menu() const { return m_menu; }

    // What stands in for the project's state while the listings do not hold its runtime ("Waiting for
    // <runtime>…", "<runtime> is not answering"); none once they do.
    static std::optional<QString> unlisted(const AppStore& store, const ComposeProject& project);

    // The confirmation's text for `project`, of its containers as it stands: compose takes a project
    // down with its network, while one of a name compose does not take loses its containers one by one.
    static QString downMessage(const ComposeProject& project);

private:
    void apply();
    void start();
    void stop();
    void openLogs();
    void reveal();
    void locate();
    void up();
    void openRebuild();
    void confirmDown();
    void forget();
    void openDelete();

    // The project as it stands in the store now, with every container the filter may hide.
    ComposeProject whole() const;
    std::optional<Runtime> runtime() const;
    // What sheets and alerts open over: the window, which outlives this row.
    QWidget* host() const;

    AppStore& m_store;
    ComposeProject m_project;
    ProjectFolder m_folder;
    bool m_emphasize = false;
    Offer m_offer;
    qint64 m_freeable = 0;
    bool m_applied = false;

    FlowLayout* m_flow;
    VoskButton* m_start;
    VoskButton* m_stop;
    ReclaimButton* m_free;
    EllipsisMenuButton* m_more;
    QMenu* m_menu;
    QAction* m_logs;
    QAction* m_reveal;
    QAction* m_locate;
    QAction* m_groupLine;
    QAction* m_up;
    QAction* m_rebuild;
    QAction* m_down;
    QAction* m_forget;
    QAction* m_delete;
};
