#pragma once

#include "app/design/KeyedRows.h"
#include "engine/ComposeProject.h"
#include "screens/ProjectFolder.h"
#include "screens/ProjectUsage.h"

#include <QWidget>

#include <memory>

class AppStore;
class ContainerGrid;
class Eyebrow;
class FolderChecks;
class ProjectControls;
class ProjectHeading;
class QBoxLayout;
class QVBoxLayout;
class TroubleNotice;
class VitalCaption;
class VitalCard;
class VoskLabel;

// The page of one opened project: back to the list, its header and controls, the containers in
// trouble, what the project alone uses of the machine, and one card per container. It has no scroll
// area of its own (the projects screen holds it in one) and no state beyond what it shows; the screen
// hands it the project again on every refresh and it changes only what changed.
class ProjectDetailContent : public QWidget {
    Q_OBJECT

public:
    // `checks`: the looks at the folders the projects screen shares with its pages; none, looks of its
    // own.
    ProjectDetailContent(AppStore& store, const ComposeProject& project, QWidget* parent = nullptr,
                         FolderChecks* checks = nullptr);

    // The project as the store now lists it; a folder not looked at before is, off the window's thread.
    void setProject(const ComposeProject& project);
    const ComposeProject& project() const { return m_project; }
    // Looks at the folder again; a change on disk since the last refresh redraws once the look is back.
    void checkFolder();
    // Waits for the look at the folder under way and shows what it found; for pictures and tests.
    void waitForFolder();
    ProjectControls* controls() const { return m_controls; }

    // The working-directory line: the folder with a leading home as "~", after the runtime's name
    // while all runtimes are shown; a folder that is gone says so, without the runtime.
    static QString shortDir(const ComposeProject& project, bool folderExists, bool showAll);
    // Whether the three usage cards sit side by side at `width` (else they stack).
    bool usageSideBySide() const;

    static constexpr double minimumUsageCardWidth = 170;
    static constexpr double usageSpacing = 14;

signals:
    // "All projects" was pressed.
    void back();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void apply();
    void arrangeUsage();
    // Shows what the last look at the folder found, when that is news.
    void followFolder();

    AppStore& m_store;
    FolderChecks* m_checks;
    ComposeProject m_project;
    ProjectFolder m_folder;
    ProjectUsage m_usage;
    bool m_applied = false;

    ProjectHeading* m_heading;
    ProjectControls* m_controls;
    QVBoxLayout* m_troubleBox;
    std::unique_ptr<KeyedRows<Container, TroubleNotice>> m_troubles;
    QWidget* m_usageRow;
    QBoxLayout* m_usageLayout;
    VitalCard* m_processor;
    VitalCard* m_memory;
    VitalCard* m_disk;
    VitalCaption* m_processorCaption;
    VitalCaption* m_memoryCaption;
    VitalCaption* m_diskCaption;
    VoskLabel* m_noContainers;
    QWidget* m_containersSection;
    Eyebrow* m_containersTitle;
    ContainerGrid* m_grid;
};
