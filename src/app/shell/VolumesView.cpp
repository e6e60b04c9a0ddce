#include "app/shell/VolumesView.h"

#include "app/design/VoskCard.h"
#include "app/parts/ChangeBatch.h"
#include "app/parts/EmptyState.h"
#include "app/shell/Hosted.h"
#include "app/shell/VolumeRow.h"
#include "store/AppStore.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>

VolumesView::VolumesView(AppStore& store, QWidget* parent) : QWidget(parent), m_store(store)
{
    setObjectName(QStringLiteral("volumesView"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);

    auto* content = new QWidget(scroll);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);
    auto* bar = new QHBoxLayout;
    bar->addStretch(1);
    bar->addWidget(Hosted::reclaimButton(m_store, QStringLiteral("Reclaim space…"), content));
    layout->addLayout(bar);

    m_empty = new EmptyState(m_store, Category::volumes, nullptr, content);
    layout->addWidget(m_empty);
    m_card = new VoskCard(content);
    m_card->setObjectName(QStringLiteral("volumesCard"));
    auto* rows = new QVBoxLayout(m_card);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    layout->addWidget(m_card);
    layout->addStretch(1);
    scroll->setWidget(content);

    m_rows = std::make_unique<KeyedRows<DockerVolume, VolumeRow>>(
        rows, [](const DockerVolume& volume) { return volume.id(); },
        [this](const DockerVolume& volume) { return new VolumeRow(m_store, volume, m_card); },
        [this](VolumeRow* row, const DockerVolume& volume, int position) {
            row->showVolume(volume, VolumeRow::detailLine(volume, m_store.showAll(), m_store.usage()), position);
        });

    m_changes = new ChangeBatch(this, [this] { rebuild(); });
    for (const auto changed :
         {&AppStore::volumesChanged, &AppStore::filterChanged, &AppStore::showAllChanged, &AppStore::usageChanged})
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
    const bool empty = volumes.isEmpty();
    if (m_empty->isVisibleTo(this) != empty)
        m_empty->setVisible(empty);
    if (m_card->isVisibleTo(this) == empty)
        m_card->setVisible(!empty);
}
