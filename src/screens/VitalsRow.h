#pragma once

#include "engine/ComposeProject.h"
#include "engine/Container.h"
#include "engine/Stats.h"
#include "engine/Usage.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class AppStore;
class ChangeBatch;
class QStackedLayout;
class VitalCaption;
class VitalCard;
class VoskButton;

// What the four vital tiles show for a listing, its statistics and its disk usage. Every container
// counts, whatever the filter; absent figures stay none and show as the dash.
struct Vitals {
    struct Tile {
        std::optional<QString> value;
        QString unit;
        double fraction = 0;

        bool operator==(const Tile&) const = default;
    };

    // The heaviest compose project or loose container by some figure, with its figure.
    template <typename T>
    struct Heaviest {
        QString name;
        T value;
    };

    Tile containers;
    QString containersCaption;
    Tile processor;
    QString processorCaption;
    Tile memory;
    QString memoryCaption;
    Tile disk;
    // Bytes every candidate would free; at least 1 offers reclaiming them instead of a caption.
    qint64 reclaimable = 0;
    QString diskCaption;
    QString reclaimTitle;

    // `answering`: whether the runtimes in scope answered the last refresh. Without it no measurement
    // is under way, and the disk tile says it was not measured instead of "Measuring…". `listed`:
    // whether the containers are a runtime's answer at all; until one has answered, no tile has a
    // figure, not even a count of none. `measuring`: whether disk figures are on their way (a
    // measurement under way, none of them failed): without them the disk tile says it was not measured.
    static Vitals of(const QList<Container>& containers, const std::optional<LiveStats>& stats,
                     const std::optional<DiskUsage>& usage, bool answering = true, bool listed = true,
                     bool measuring = true);

    // The same with the containers already grouped into `projects`, as Docker::group gives them.
    static Vitals of(const QList<Container>& containers, const QList<ComposeProject>& projects,
                     const std::optional<LiveStats>& stats, const std::optional<DiskUsage>& usage,
                     bool answering, bool listed, bool measuring = true);

    // Projects first (as Docker::group and Docker::ungrouped give them), then loose containers by name;
    // the first of equals wins. None when no unit has a figure.
    template <typename T>
    static std::optional<Heaviest<T>>
    heaviest(const QList<ComposeProject>& projects, const QList<Container>& loose,
             const std::function<std::optional<T>(const QStringList&)>& metric);

    bool operator==(const Vitals&) const = default;
};

// "Right now": the containers that run, the processors' load, the memory the containers take and the
// disk the runtimes use, each with a caption naming the heaviest or offering the next step. Follows
// the store's listings, statistics and disk usage; a store change that leaves the figures as they were
// touches no widget.
class VitalsRow : public QWidget {
    Q_OBJECT

public:
    explicit VitalsRow(AppStore& store, QWidget* parent = nullptr);

    const Vitals& vitals() const { return m_vitals; }
    // Applies the store's present state now rather than on the next turn of the event loop.
    void refresh();

    static constexpr double minimumTileWidth = 170;
    static constexpr double spacing = 14;

private:
    void apply(const Vitals& vitals);

    AppStore& m_store;
    ChangeBatch* m_batch;
    Vitals m_vitals;
    bool m_applied = false;
    VitalCard* m_containers;
    VitalCard* m_processor;
    VitalCard* m_memory;
    VitalCard* m_disk;
    VitalCaption* m_containersCaption;
    VitalCaption* m_processorCaption;
    VitalCaption* m_memoryCaption;
    VitalCaption* m_diskCaption;
    QStackedLayout* m_diskFooter;
    VoskButton* m_reclaim;
};
