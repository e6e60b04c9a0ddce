#include "app/parts/ProjectStatusLine.h"

#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskBadge.h"
#include "app/design/VoskLabel.h"
#include "engine/Compose.h"

#include <QFileInfo>
#include <QHBoxLayout>

namespace {

const QString separator = QStringLiteral(" \u00B7 ");

// Shows `count` with its word after a separator, or hides both when there is nothing to count.
void showCount(VoskLabel* separatorLabel, VoskLabel* countLabel, int count, const QString& word)
{
    separatorLabel->setVisible(count > 0);
    countLabel->setVisible(count > 0);
    if (count > 0)
        countLabel->setPlainText(QString::number(count) + QLatin1Char(' ') + word);
}

} // namespace

ProjectStatusLine::ProjectStatusLine(const ComposeProject& project, QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    const auto piece = [this](const Token& ink) { return new VoskLabel(QString(), TextStyles::label, ink, this); };
    m_status = piece(Vosk::muted);
    m_unhealthySeparator = piece(Vosk::muted);
    m_unhealthy = piece(Vosk::danger);
    m_failedSeparator = piece(Vosk::muted);
    m_failed = piece(Vosk::danger);
    m_unhealthySeparator->setPlainText(separator);
    m_failedSeparator->setPlainText(separator);
    for (VoskLabel* label : {m_status, m_unhealthySeparator, m_unhealthy, m_failedSeparator, m_failed})
        row->addWidget(label);
    row->addSpacing(7);
    m_badge = new VoskBadge(QString(), Vosk::badgeFill, Vosk::badgeInk, this);
    m_badge->setObjectName(QStringLiteral("folderBadge"));
    row->addWidget(m_badge);
    row->addStretch(1);
    setProject(project);
}

ProjectStatusLine::Folder ProjectStatusLine::folder(const ComposeProject& project)
{
    if (!project.workingDir || project.workingDir->isEmpty() || !QFileInfo(*project.workingDir).isDir())
        return Folder::missing;
    return Docker::composeFile(*project.workingDir) ? Folder::ready : Folder::noComposeFile;
}

ProjectStatusLine::Counts ProjectStatusLine::counts(const ComposeProject& project)
{
    Counts counts;
    for (const Container& c : project.containers) {
        if (c.state == u"running" && c.status.contains(u"(unhealthy)"))
            ++counts.unhealthy;
        else if (c.isFailed())
            ++counts.failed;
    }
    return counts;
}

void ProjectStatusLine::setProject(const ComposeProject& project)
{
    m_status->setPlainText(project.statusText());
    m_status->setInk(project.runningCount() >= 1 ? Vosk::success : Vosk::muted);
    const Counts counted = counts(project);
    showCount(m_unhealthySeparator, m_unhealthy, counted.unhealthy, QStringLiteral("unhealthy"));
    showCount(m_failedSeparator, m_failed, counted.failed, QStringLiteral("failed"));
    const QString tip = Vosk::toolTip(project.containers.isEmpty()
                                          ? QStringLiteral("No containers. Start creates them from the compose file.")
                                          : project.statusText());
    for (VoskLabel* label : {m_status, m_unhealthySeparator, m_unhealthy, m_failedSeparator, m_failed}) {
        if (label->toolTip() != tip)
            label->setToolTip(tip);
    }

    QString badgeTip;
    switch (folder(project)) {
    case Folder::ready:
        m_badge->hide();
        return;
    case Folder::noComposeFile:
        m_badge->setText(QStringLiteral("No compose file"));
        m_badge->setColors(Vosk::errFill, Vosk::errInk);
        badgeTip = QStringLiteral("Nothing here for compose to read, and it would search the parent directories. "
                                  "Start and Stop still work on the containers.");
        break;
    case Folder::missing:
        m_badge->setText(QStringLiteral("Dir missing"));
        m_badge->setColors(Vosk::badgeFill, Vosk::badgeInk);
        badgeTip = project.containers.isEmpty()
                       ? QStringLiteral("Nothing to act on: no containers, and the directory compose would need is gone")
                       : QStringLiteral("compose needs the project directory; Start and Stop still work on the "
                                        "containers");
        break;
    }
    if (m_badge->toolTip() != Vosk::toolTip(badgeTip))
        m_badge->setToolTip(Vosk::toolTip(badgeTip));
    m_badge->show();
}

QString ProjectStatusLine::text() const
{
    QString line = m_status->plainText();
    if (!m_unhealthy->isHidden())
        line += separator + m_unhealthy->plainText();
    if (!m_failed->isHidden())
        line += separator + m_failed->plainText();
    return line;
}

std::optional<QString> ProjectStatusLine::badge() const
{
    if (m_badge->isHidden())
        return std::nullopt;
    return m_badge->text();
}
