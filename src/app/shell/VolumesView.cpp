#include "app/shell/VolumesView.h"

#include "app/parts/ChangeBatch.h"
#include "app/shell/Hosted.h"
#include "app/shell/VolumeRow.h"
#include "store/AppStore.h"

#include <QHBoxLayout>

VolumesView::VolumesView(AppStore& store, QWidget* parent)
    : ListScreen(store, Category::volumes, QStringLiteral("volumesCard"), parent), m_store(store)
{
    setObjectName(QStringLiteral("volumesView"));
    topBar()->addStretch(1);
    topBar()->addWidget(Hosted::reclaimButton(m_store, QStringLiteral("Reclaim space…"), content()));

    m_rows = std::make_unique<KeyedRows<DockerVolume, VolumeRow>>(
        rows(), [](const DockerVolume& volume) { return volume.id(); },
        [this](const DockerVolume& volume) { return new VolumeRow(m_store, volume, card()); },
        [this](VolumeRow* row, const DockerVolume& volume, int position) {
            row->showVolume(volume, VolumeRow::detailLine(volume, m_store.showAll(), m_store.usage()),
                            position);
        });

    m_changes = new ChangeBatch(this, [this] { rebuild(); });
    for (const auto changed : {&AppStore::volumesChanged, &AppStore::filterChanged, &AppStore::showAllChanged,
                               &AppStore::usageChanged})
        m_changes->watch(&m_store, changed);
    rebuild();
}

VolumesView::~VolumesView() = default;

VolumeRow* VolumesView::row(const DockerVolume& volume) const
{
    return m_rows->row(volume.id());
}

qsizetype VolumesView::rowCount() const
{
    return m_rows->size();
}

void VolumesView::rebuild()
{
    const QList<DockerVolume> volumes = m_store.matchingVolumes();
    m_rows->sync(volumes);
    showEmpty(volumes.isEmpty());
}
