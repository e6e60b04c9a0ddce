#pragma once

#include "engine/Runtime.h"

#include <QString>

#include <optional>

class QTextStream;

namespace Diagnostics {

// The runtime a context word on the command line names: none for no word (the client's own current
// context), the Apple runtime's socket for exactly "apple-container", else the context of that name,
// unchecked.
std::optional<Runtime> chosenRuntime(const std::optional<QString>& context);

// What one runtime reports, straight from the engine without a store: the listed runtimes, the
// containers by compose project with each project's compose file state, the loose containers, the
// image and volume counts, disk use with what could be reclaimed, and one processor and memory
// reading. A failing listing ends it with one "dump failed: " line. Blocks while the engine answers.
void runDump(QTextStream& out, const std::optional<QString>& context);

} // namespace Diagnostics
