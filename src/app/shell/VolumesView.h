#pragma once

#include "app/design/KeyedRows.h"
#include "app/shell/ListScreen.h"
#include "engine/Container.h"

#include <memory>

class AppStore;
class ChangeBatch;
class VolumeRow;

// The Volumes section: reclaim at the top right, then the volumes in scope that match the filter
// with their sizes once disk usage is known (or the empty state). Rows are kept by volume id.
class VolumesView : public ListScreen {
    Q_OBJECT

public:
    explicit VolumesView(AppStore& store, QWidget* parent = nullptr);
    ~VolumesView() override;

    VolumeRow* row(const DockerVolume& volume) const;
    qsizetype rowCount() const;

private:
    void rebuild();

    AppStore& m_store;
    std::unique_ptr<KeyedRows<DockerVolume, VolumeRow>> m_rows;
    ChangeBatch* m_changes;
};
