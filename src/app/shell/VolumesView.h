#pragma once

#include "app/design/KeyedRows.h"
#include "engine/Container.h"

#include <QWidget>

#include <memory>

class AppStore;
class ChangeBatch;
class EmptyState;
class VolumeRow;
class VoskCard;

// The Volumes section: reclaim at the top right, then the volumes in scope that match the filter
// with their sizes once disk usage is known (or the empty state). Rows are kept by volume id.
class VolumesView : public QWidget {
    Q_OBJECT

public:
    explicit VolumesView(AppStore& store, QWidget* parent = nullptr);
    ~VolumesView() override;

    VolumeRow* row(const DockerVolume& volume) const;
    qsizetype rowCount() const;

private:
    void rebuild();

    AppStore& m_store;
    EmptyState* m_empty;
    VoskCard* m_card;
    std::unique_ptr<KeyedRows<DockerVolume, VolumeRow>> m_rows;
    ChangeBatch* m_changes;
};
