#pragma once

#include "engine/Runtime.h"
#include "engine/Teardown.h"
#include "engine/VolumeData.h"
#include "store/StoreEngine.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace Platform {
class Cancellation;
}

// The removable volumes of `plan` as they stand just before they go.
struct VolumesNow {
    QStringList removed; // still the ones the plan showed: these go, in plan order
    QStringList kept;    // why each of the others stays, "<volume> ...", in plan order
};

// Looks at each removable volume of `plan` once more: what the engine recorded of volumes made and
// removed since the plan was made, where it still keeps all of that; else the volume's own folder
// where the engine keeps its volumes on this machine. A volume neither can tell apart stays, however
// its printed creation time reads, and so does one made again; one removed meanwhile is left out.
// Blocks.
VolumesNow volumesNow(StoreEngine& engine, const TeardownPlan& plan, const std::optional<Runtime>& on,
                      const Platform::Cancellation* cancel);
