#pragma once

#include <QString>

#include <optional>

class QTextStream;
struct ProjectRegistry;

namespace Diagnostics {

// What deleting the compose project `project` on the runtime `context` names (see chosenRuntime)
// would remove and keep, by the rule the deletion itself uses. Removes nothing. Volume sizes are the
// engine's own measurement, printed only where it gave one. Blocks while the engine answers.
// A runtime the client does not know or a project it does not have is a line that says so and the
// status 2; containers that cannot be listed are a line that says why and the status 1; else 0.
// The project's folder is the one the user's remembered projects give it, as the window's is.
int runPlan(QTextStream& out, const QString& project, const std::optional<QString>& context);
// The same with the remembered projects of `registry`.
int runPlan(QTextStream& out, const QString& project, const std::optional<QString>& context,
            const ProjectRegistry& registry);

} // namespace Diagnostics
