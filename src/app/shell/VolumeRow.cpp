#include "app/shell/VolumeRow.h"

#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "platform/ByteCount.h"
#include "store/AppStore.h"

VolumeRow::VolumeRow(AppStore& store, const DockerVolume& volume, QWidget* parent)
    : ListRow(parent), m_store(store), m_volume(volume)
{
    setObjectName(QStringLiteral("volumeRow"));
    nameLabel()->setObjectName(QStringLiteral("volumeName"));
    detailLabel()->setObjectName(QStringLiteral("volumeDetail"));
    for (VoskLabel* label : {nameLabel(), detailLabel()}) {
        label->setElideMode(Qt::ElideMiddle);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    connect(removeButton(), &VoskButton::clicked, this, [this] { m_store.remove(m_volume); });
    showTexts(volume.name, {}, 0);
}

void VolumeRow::showVolume(const DockerVolume& volume, const QString& detail, int position)
{
    m_volume = volume;
    showTexts(volume.name, detail, position);
    const QString tip = Vosk::toolTip(volume.name);
    if (nameLabel()->toolTip() != tip)
        nameLabel()->setToolTip(tip);
}

QString VolumeRow::detailLine(const DockerVolume& volume, bool showAll, const std::optional<DiskUsage>& usage)
{
    QStringList parts;
    if (showAll && volume.runtime)
        parts << volume.runtime->id();
    // Once disk usage is measured, a volume it has no size for (or nothing in) reads "—", as a size
    // not known does on the cards, never "Zero KB".
    if (usage)
        parts << Platform::diskFigure(usage->volumeBytes(volume.name, volume.runtime))
                     .value_or(QStringLiteral("\u2014"));
    parts << volume.driver << volume.mountpoint;
    return parts.join(QStringLiteral(" \u00B7 "));
}
