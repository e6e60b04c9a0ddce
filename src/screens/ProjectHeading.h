#pragma once

#include "engine/ComposeProject.h"
#include "screens/ProjectFolder.h"

#include <QWidget>

class ProjectStatusLine;
class RunRing;
class VoskLabel;
struct TextStyle;

// A project's name beside its run ring, with its status line and a muted note under the name (the
// runtime on a card, the folder on the detail page). The ring counts what runs of what should and
// fades once a look at the folder found that compose cannot act on it. Only what changed is touched.
class ProjectHeading : public QWidget {
    Q_OBJECT

public:
    ProjectHeading(const TextStyle& nameStyle, const TextStyle& noteStyle, int lineSpacing,
                   Qt::Alignment ringAlignment, QWidget* parent = nullptr);

    // An empty note is hidden. `unlisted`: what the status line says instead of what runs while the
    // project's runtime has not answered a listing (EmptyState::unlisted); the ring then counts nothing.
    void setProject(const ComposeProject& project, const ProjectFolder& folder, const QString& note,
                    const std::optional<QString>& unlisted = std::nullopt);

    RunRing* ring() const { return m_ring; }
    VoskLabel* note() const { return m_note; }

private:
    RunRing* m_ring;
    VoskLabel* m_name;
    ProjectStatusLine* m_status;
    VoskLabel* m_note;
    bool m_shown = false;
    ComposeProject m_project;
    ProjectFolder m_folder;
    std::optional<QString> m_unlisted;
};
