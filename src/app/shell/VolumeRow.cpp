#include "app/shell/VolumeRow.h"

#include "app/design/Divider.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "platform/ByteCount.h"
#include "store/AppStore.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

VolumeRow::VolumeRow(AppStore& store, const DockerVolume& volume, QWidget* parent)
    : QWidget(parent), m_store(store), m_volume(volume)
{
    setObjectName(QStringLiteral("volumeRow"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    m_divider = new Divider(this);
    outer->addWidget(m_divider);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(14, 11, 14, 11);
    row->setSpacing(12);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    m_name = new VoskLabel(volume.name, TextStyles::rowTitle, Vosk::ink, this);
    m_name->setObjectName(QStringLiteral("volumeName"));
    m_name->setElideMode(Qt::ElideMiddle);
    m_detail = new VoskLabel({}, TextStyles::mono, Vosk::muted, this);
    m_detail->setObjectName(QStringLiteral("volumeDetail"));
    m_detail->setElideMode(Qt::ElideMiddle);
    for (VoskLabel* label : {m_name, m_detail}) {
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        texts->addWidget(label);
    }
    row->addLayout(texts, 1);

    auto* remove = new VoskButton(QStringLiteral("Remove"), VoskButtonStyle::Variant::quiet, std::nullopt, this);
    remove->setObjectName(QStringLiteral("removeButton"));
    // No confirmation, by design: the engine itself refuses to remove a volume a container uses.
    connect(remove, &VoskButton::clicked, this, [this] { m_store.remove(m_volume); });
    row->addWidget(remove, 0, Qt::AlignVCenter);
    outer->addLayout(row);
}

void VolumeRow::showVolume(const DockerVolume& volume, const QString& detail, int position)
{
    m_volume = volume;
    m_name->setPlainText(volume.name);
    if (m_name->toolTip() != Vosk::toolTip(volume.name))
        m_name->setToolTip(Vosk::toolTip(volume.name));
    m_detail->setPlainText(detail);
    const bool divided = position > 0;
    if (m_divider->isVisibleTo(this) != divided)
        m_divider->setVisible(divided);
}

QString VolumeRow::detailLine(const DockerVolume& volume, bool showAll, const std::optional<DiskUsage>& usage)
{
    QStringList parts;
    if (showAll && volume.runtime)
        parts << volume.runtime->id();
    if (usage) {
        const auto size = usage->volumeSize.constFind(volume.name);
        if (size != usage->volumeSize.constEnd())
            parts << Platform::fileSize(*size);
    }
    parts << volume.driver << volume.mountpoint;
    return parts.join(QStringLiteral(" \u00B7 "));
}
