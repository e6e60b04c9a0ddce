#pragma once

#include "engine/ComposeProject.h"
#include "screens/ProjectDetailContent.h"

#include <QPointer>
#include <QWidget>

#include <chrono>
#include <optional>

class AppStore;
class ChangeBatch;
class ProjectsContent;
class QScrollArea;
class QTimer;

// The Projects section: the project list, or the detail of the project opened from its card, in one
// vertical scroll area. The opened project is remembered by id, so the detail survives every refresh
// and comes back by itself when a project of that id is listed again; while it is not listed (deleted,
// filtered out, its runtime out of scope) the list shows.
class ProjectsView : public QWidget {
    Q_OBJECT

public:
    explicit ProjectsView(AppStore& store, QWidget* parent = nullptr);

    const std::optional<QString>& opened() const { return m_opened; }
    void open(const ComposeProject& project);
    void close();

    ProjectsContent* content() const { return m_content; }
    // The detail while one shows, else null.
    ProjectDetailContent* detail() const { return m_detail; }

    // Shows the list or the detail for the store's present state now.
    void route();

    // How often the shown projects' folders are looked at again while the window stays active; they
    // are looked at also whenever it becomes active, as the user comes back from moving one.
    static constexpr std::chrono::milliseconds folderCheckInterval{10000};

protected:
    bool event(QEvent* event) override;

private:
    void checkFolders();

    AppStore& m_store;
    ChangeBatch* m_batch;
    std::optional<QString> m_opened;
    QScrollArea* m_scroll;
    ProjectsContent* m_content;
    QPointer<ProjectDetailContent> m_detail;
    int m_listOffset = 0;
    QTimer* m_folderCheck;
};
