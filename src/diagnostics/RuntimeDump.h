#pragma once

#include "engine/Runtime.h"

#include <QList>

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
// A context word the client does not know (checked only when the client can list its runtimes)
// gets one "no runtime named <word>. Found: <names>" line instead, and the status 2; else 0.
int runDump(QTextStream& out, const std::optional<QString>& context);

// Whether the client knows the runtime `context` names: no word and the Apple word always do, and so
// does every word while the client cannot list its runtimes (the listing that follows then says
// why). Otherwise prints "no runtime named <word>. Found: <names>".
bool knownRuntime(QTextStream& out, const std::optional<QString>& context);
// The same with the client's runtimes already listed (none: it could not list them).
bool knownRuntime(QTextStream& out, const std::optional<QString>& context,
                  const std::optional<QList<RuntimeEntry>>& listed);

} // namespace Diagnostics
