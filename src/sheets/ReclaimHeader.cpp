#include "sheets/ReclaimHeader.h"

#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"
#include "platform/ByteCount.h"
#include "sheets/SheetParts.h"

#include <QHBoxLayout>

ReclaimHeader::ReclaimHeader(const std::optional<ComposeProject>& project,
                             const std::optional<DiskUsage>& usage, QWidget* parent)
    : Band(Vosk::chrome, 10, parent), m_project(project)
{
    setObjectName(QStringLiteral("reclaimHeader"));
    m_title = SheetParts::title(title(project), this);
    m_size = new VoskLabel(QString(), TextStyles::mono, Vosk::muted, this);
    m_size->setObjectName(QStringLiteral("sizeLabel"));
    m_size->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    row()->addWidget(new SymbolView(QStringLiteral("internaldrive"), 13, Vosk::muted, this), 0,
                     Qt::AlignVCenter);
    row()->addWidget(m_title, 1, Qt::AlignVCenter);
    row()->addWidget(m_size, 0, Qt::AlignVCenter);
    setUsage(usage);
}

QString ReclaimHeader::title(const std::optional<ComposeProject>& project)
{
    return project ? QStringLiteral("Free space in ") + project->displayName()
                   : QStringLiteral("Reclaim space");
}

void ReclaimHeader::setUsage(const std::optional<DiskUsage>& usage)
{
    const QString size = !usage      ? QString()
                         : m_project ? Platform::fileSize(usage->bytes(*m_project))
                                     : Platform::fileSize(usage->total);
    m_size->setPlainText(size.isEmpty() ? QString() : size + QStringLiteral(" on disk"));
    m_size->setVisible(usage.has_value());
}

QString ReclaimHeader::title() const
{
    return m_title->plainText();
}

QString ReclaimHeader::sizeText() const
{
    return m_size->plainText();
}
