#include "screens/ProjectHeading.h"

#include "app/design/RunRing.h"
#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"
#include "app/parts/ProjectStatusLine.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {

// The status line's badge for what the look at the folder found; none before it was looked at.
std::optional<ProjectStatusLine::Folder> badgeFor(const ProjectFolder& folder)
{
    if (!folder.known)
        return std::nullopt;
    if (!folder.exists)
        return ProjectStatusLine::Folder::missing;
    return folder.composeFile ? ProjectStatusLine::Folder::ready : ProjectStatusLine::Folder::noComposeFile;
}

} // namespace

ProjectHeading::ProjectHeading(const TextStyle& nameStyle, const TextStyle& noteStyle, int lineSpacing,
                               Qt::Alignment ringAlignment, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    m_ring = new RunRing(0, 0, true, this);
    row->addWidget(m_ring, 0, ringAlignment);
    auto* lines = new QVBoxLayout;
    lines->setSpacing(lineSpacing);
    m_name = new VoskLabel(QString(), nameStyle, Vosk::ink, this);
    m_name->setObjectName(QStringLiteral("projectName"));
    m_name->setElideMode(Qt::ElideMiddle);
    lines->addWidget(m_name);
    m_status = new ProjectStatusLine(m_project, std::nullopt, this);
    lines->addWidget(m_status);
    m_note = new VoskLabel(QString(), noteStyle, Vosk::muted, this);
    m_note->setObjectName(QStringLiteral("projectNote"));
    m_note->setElideMode(Qt::ElideRight);
    m_note->hide();
    lines->addWidget(m_note);
    row->addLayout(lines, 1);
}

void ProjectHeading::setProject(const ComposeProject& project, const ProjectFolder& folder,
                                const QString& note, const std::optional<QString>& unlisted)
{
    m_ring->setCounts(project.runningCount(), project.totalCount());
    m_ring->setDimmed(folder.unusable());
    m_ring->setKnown(!unlisted);
    const QString name = project.displayName();
    if (m_name->plainText() != name) {
        m_name->setPlainText(name);
        // What stands in for a name is set apart from the names of the others.
        const bool nameless = ComposeProject::isNameless(project.name);
        m_name->setInk(nameless ? Vosk::muted : Vosk::ink);
        m_name->setToolTip(Vosk::toolTip(
            nameless ? QStringLiteral("These containers carry an empty compose project label") : name));
    }
    if (!m_shown || project != m_project || folder != m_folder || unlisted != m_unlisted)
        m_status->setProject(project, badgeFor(folder), unlisted);
    m_shown = true;
    m_project = project;
    m_folder = folder;
    m_unlisted = unlisted;
    if (m_note->plainText() != note)
        m_note->setPlainText(note);
    m_note->setVisible(!note.isEmpty());
}
