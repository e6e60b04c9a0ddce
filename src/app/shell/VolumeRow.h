#pragma once

#include "app/shell/ListRow.h"
#include "engine/Container.h"
#include "engine/Usage.h"

#include <optional>

class AppStore;

// One volume of the volumes list: its name and detail line on one line each, shortened in the middle,
// and Remove. The row keeps a copy of its volume.
class VolumeRow : public ListRow {
    Q_OBJECT

public:
    VolumeRow(AppStore& store, const DockerVolume& volume, QWidget* parent = nullptr);

    void showVolume(const DockerVolume& volume, const QString& detail, int position);
    const DockerVolume& volume() const { return m_volume; }

    // The runtime while all are shown, the size once disk usage is measured ("—" for a volume it
    // has none for), the driver and the mount point, joined by " · ".
    static QString detailLine(const DockerVolume& volume, bool showAll,
                              const std::optional<DiskUsage>& usage);

private:
    AppStore& m_store;
    DockerVolume m_volume;
};
