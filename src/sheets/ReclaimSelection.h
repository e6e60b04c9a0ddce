#pragma once

#include "engine/ComposeProject.h"
#include "engine/Usage.h"

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

// What the reclaim sheet works out from the store's disk usage and the user's ticks. Ticks are kept
// by item id, so an item that the next measurement lists again stays ticked.
namespace ReclaimSelection {

// Nothing while usage is unknown; with a project only its own candidates (on its own runtime, when it
// has one); else every candidate.
QList<Reclaimable> candidates(const std::optional<DiskUsage>& usage,
                              const std::optional<ComposeProject>& project);
// The ticked candidates, in candidate order. A tick whose item is no longer listed counts for nothing.
QList<Reclaimable> chosen(const QList<Reclaimable>& candidates, const QSet<QString>& selected);
// The items nothing can bring back.
QList<Reclaimable> gone(const QList<Reclaimable>& items);
// The removal button's label: "Nothing selected", else "Remove <count> · <size>".
QString removeTitle(const QList<Reclaimable>& chosen);
// What the confirmation says about the items that cannot come back.
QString goneMessage(const QList<Reclaimable>& gone);

// A row's tick flipped.
QSet<QString> toggled(QSet<QString> selected, const QString& id);
// Whether every item of the group is ticked: its button then reads "Select none".
bool allTicked(const QList<Reclaimable>& group, const QSet<QString>& selected);
// The group's button pressed: all of the group unticked when all were ticked, else all ticked. Other
// groups' ticks stay as they are.
QSet<QString> groupToggled(QSet<QString> selected, const QList<Reclaimable>& group);

} // namespace ReclaimSelection
